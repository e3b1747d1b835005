// Alerts that mean what they say: an unknown mail security is refused
// before any connection.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "backup/alerts.h"
#include "base/text.h"
#include "cli/command_local.h"
#include "test_support/listening_port.h"
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
    auto root = Settings("<smtp><host>127.0.0.1</host><port>" + std::to_string(smtp.Port()) +
                         "</port><security>" + security + "</security><user>backup</user><pwd>secret</pwd>"
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

}  // namespace
}  // namespace qn
