// Alerts that mean what they say and hold up nothing: an unknown mail
// security is refused before any connection, a hook that hangs is ended
// at its limit, and the worker returns at once and ends with the run.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "backup/alert_worker.h"
#include "backup/alerts.h"
#include "base/text.h"
#include "cli/command_local.h"
#include "platform/files.h"
#include "test_support/listening_port.h"
#include "test_support/temp_dir.h"
#include "xml/xml_parser.h"

namespace qn {
namespace {

std::unique_ptr<TqnNode> Settings(const std::string& alerts) {
  return XmlLoadStream("<?xml version=\"1.0\" encoding=\"Windows-1251\"?>\r\n<settings>\r\n<alerts>" + alerts +
                           "</alerts>\r\n</settings>\r\n",
                       "settings");
}

// A loopback port that listens but never answers: whatever connects shows.
class Listener {
 public:
  Listener() : port_(ListeningPort()) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
  }
  ~Listener() { ::close(fd_); }
  uint16_t Port() const { return port_; }
  bool Connected() const {
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c >= 0) ::close(c);
    return c >= 0;
  }

 private:
  uint16_t port_;
  int fd_;
};

TEST(Alerts, AnUnknownMailSecurityIsRefusedBeforeAnyConnectionAndTheTestAlertSaysSo) {
  Listener smtp;
  for (const char* security : {"tls", "TLS", "starttls "}) {
    auto root =
        Settings("<smtp><host>127.0.0.1</host><port>" + std::to_string(smtp.Port()) + "</port><security>" + security +
                 "</security><user>backup</user><pwd>secret</pwd>"
                 "<to>admin@office.test</to></smtp>");
    const TqnAlertSettings s = ReadAlertSettings(*root);
    if (std::string(security) == "starttls ") {
      EXPECT_EQ(s.security, "starttls") << "blanks around a known value are no reason to refuse";
      continue;
    }
    TqnCommand command;
    command.kind = TqnCommandKind::TestAlert;
    const TqnReadingAnswer answer = AnswerReadingCommand(command, *root, DateTime{});
    EXPECT_EQ(answer.code, 1) << security;
    EXPECT_NE(answer.err.find("\"security\""), std::string::npos) << answer.err;
    EXPECT_NE(answer.err.find(Win1251(": \"tls\"")), std::string::npos) << answer.err;
    EXPECT_FALSE(smtp.Connected()) << "nothing may go out in clear for \"" << security << "\"";
  }
  // The same reason from the mail client itself, for any caller.
  TqnAlertSettings s;
  s.smtpHost = "127.0.0.1";
  s.smtpPort = smtp.Port();
  s.security = "tls";
  s.to = "admin@office.test";
  EXPECT_NE(SendAlertMail(s, "subject", "body"), "");
  EXPECT_FALSE(smtp.Connected());
}

TEST(Alerts, AHookThatHangsIsEndedAtItsLimitAndThatIsReported) {
  auto root = Settings("<command>sleep 600</command><command_timeout>1</command_timeout>");
  const TqnAlertSettings s = ReadAlertSettings(*root);
  EXPECT_EQ(s.commandTimeout, 1);
  EXPECT_EQ(ReadAlertSettings(*Settings("")).commandTimeout, 60);
  const auto started = std::chrono::steady_clock::now();
  const TqnAlertReport report = SendAlert(s, TqnAlert{});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  EXPECT_FALSE(report.ok);
  ASSERT_EQ(report.lines.size(), 1u);
  EXPECT_NE(report.lines[0].find("\"command_timeout\""), std::string::npos) << report.lines[0];
}

class Lines {
 public:
  TqnAlertWorker::Report Sink() {
    return [this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(AlertWorker, PostReturnsAtOnceAlertsGoInOrderAndTheEndStopsAHungHook) {
  TempDir dir;
  const std::string out = dir.File(Win1251("оповещения.txt"));
  TqnAlertSettings hung;
  hung.command = "sleep 600";
  TqnAlertSettings writes;
  writes.command = "printf '%s\\n' \"$QN_ENTRY\" >> '" + out + "'";
  Lines lines;
  std::chrono::steady_clock::time_point ended;
  {
    TqnAlertWorker worker;
    TqnAlert first;
    first.entry = "db0000";
    worker.Post(writes, first, lines.Sink());
    ASSERT_TRUE(worker.WaitIdle(10000));
    EXPECT_EQ(platform::ReadFile(out), "db0000\n");

    const auto before = std::chrono::steady_clock::now();
    worker.Post(hung, TqnAlert{}, lines.Sink());
    TqnAlert queued;
    queued.entry = "db0001";
    worker.Post(writes, queued, lines.Sink());
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
    EXPECT_FALSE(worker.WaitIdle(500)) << "the hung hook is still running";
    ended = std::chrono::steady_clock::now();
  }  // the worker ends here, the hook still running and one alert waiting
  EXPECT_LT(std::chrono::steady_clock::now() - ended, std::chrono::seconds(5));
  EXPECT_EQ(platform::ReadFile(out), "db0000\n") << "an alert that waited is not sent as the run ends";
  const std::vector<std::string> all = lines.All();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_NE(all[1].find(Win1251("программа завершает работу")), std::string::npos) << all[1];
  EXPECT_NE(all[2].find(Win1251("Оповещение не отправлено")), std::string::npos) << all[2];
}

}  // namespace
}  // namespace qn
