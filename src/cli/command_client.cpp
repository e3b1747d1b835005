#include "cli/command_client.h"
#include "cli/command_local.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/application.h"
#include "base/error.h"
#include "base/text.h"
#include "cli/command_record.h"
#include "ipc/log.h"
#include "platform/files.h"
#include "platform/system.h"

namespace qn {

namespace {

using namespace std::chrono_literals;

constexpr auto kProgressEvery = 3s;
constexpr auto kRetryEvery = 500ms;
// An instance that has not yet reached the step where it takes messages
// answers "unassigned"; it gets this long to get there.
constexpr auto kStartingInstanceWait = 120s;

void PrintLine(std::FILE* to, const std::string& cp1251) {
  std::string line = platform::ToTerminal(cp1251);
  if (line.empty() || line.back() != '\n') line += '\n';
  std::fputs(line.c_str(), to);
  std::fflush(to);
}

// The latest line the server has written to the named log of backups and
// restores of this program folder since the command began: what the
// operation is doing now ("" until a line comes).
class TqnVerboseTail {
 public:
  TqnVerboseTail() : log_(platform::ProgramFolder(), false, clock_, nullptr), file_(Path()), start_(SizeOf(file_)) {}

  std::string Latest() {
    const std::string path = Path();
    if (path != file_) {  // past midnight: a new day's file
      file_ = path;
      start_ = 0;
    }
    std::ifstream in(file_, std::ios::binary);
    if (!in) return "";
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    const std::streamoff from = std::max<std::streamoff>(start_, size - 4096);
    if (size <= from) return "";
    std::string tail(static_cast<size_t>(size - from), '\0');
    in.seekg(from);
    in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    const size_t end = tail.find_last_not_of(" \r\n\t");
    if (end == std::string::npos) return "";
    const size_t newline = tail.find_last_of("\r\n", end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return tail.substr(begin, end + 1 - begin);
  }

 private:
  std::string Path() const {
    return platform::JoinPath(log_.LogFolder(), log_.NamedLogFileName("backup", clock_.Now()));
  }
  static std::streamoff SizeOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
  }
  platform::SystemClock clock_;
  TqnLog log_;
  std::string file_;
  std::streamoff start_;
};

// A line on standard error every few seconds while a command runs: what it
// is, how long it has run, and the server's latest line.
class TqnProgressLines {
 public:
  explicit TqnProgressLines(std::string activity) : activity_(std::move(activity)), start_(Clock::now()) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TqnProgressLines() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void SetWaiting(bool waiting) { waiting_ = waiting; }

 private:
  using Clock = std::chrono::steady_clock;
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kProgressEvery, [this] { return stop_; })) {
      const long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
      std::string line = activity_ + (waiting_ ? Win1251(": ждёт окончания другой операции, ")
                                               : Win1251(": выполняется, ")) +
                         std::to_string(seconds) + Win1251(" с");
      const std::string latest = waiting_ ? std::string() : tail_.Latest();
      if (!latest.empty()) line += Win1251(" — ") + latest;
      PrintLine(stderr, line);
    }
  }
  std::string activity_;
  Clock::time_point start_;
  TqnVerboseTail tail_;
  std::atomic<bool> waiting_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// The restore question, asked on this process's terminal.
bool ConfirmRestore(const TqnCommand& command, std::string& refusal) {
  if (command.yes) return true;
  if (!::isatty(STDIN_FILENO)) {
    refusal = Win1251("Разархивация отменена: нет терминала для подтверждения, укажите --yes=1");
    return false;
  }
  PrintLine(stderr, Win1251("Предупреждение: При разархивации файла все текущие данные будут заменены данными из "
                            "открываемого файла. Продолжить?"));
  std::fputs(platform::ToTerminal(Win1251("Да/Нет (y/n): ")).c_str(), stderr);
  std::fflush(stderr);
  std::string answer;
  std::getline(std::cin, answer);
  const std::string word = LowerCase(platform::FromTerminal(TrimBlanks(answer)));
  for (const char* yes : {"y", "yes", "д", "да"})
    if (word == Win1251(yes)) return true;
  refusal = Win1251("Разархивация отменена");
  return false;
}

enum class TqnHandOver { Done, NoInstance };

// Sends the command to the first running instance, tries again while it is
// busy or still starting; fills result when an instance answered.
TqnHandOver HandOver(const TqnCommand& command, TqnProgressLines* progress, TqnCommandResult& result) {
  const auto startedWaiting = std::chrono::steady_clock::now();
  for (;;) {
    const std::vector<int> slots = ListIpcInstances(TqnApplication::kChannelName);
    if (slots.empty()) return TqnHandOver::NoInstance;
    TqnCommandRequest request;
    request.options = CommandOptions(command);
    std::string text;
    TqnCommandAnswer answer;
    do {
      request.offset = static_cast<uint32_t>(text.size());
      TqnIpcMessage message;
      WriteCommandRequest(message, request);
      try {
        SendIpcMessage(TqnApplication::kChannelName, slots.front(), message);
      } catch (const std::exception&) {
        answer.status.clear();  // the instance went away meanwhile
        break;
      }
      answer = ReadCommandAnswer(message);
      text += answer.text;
    } while (answer.status == kCommandDone && !answer.text.empty() && text.size() < answer.totalLength);
    if (answer.status == kCommandDone || answer.status == kCommandFailed) {
      result = {answer.status == kCommandDone, text};
      return TqnHandOver::Done;
    }
    if (answer.status == "fail") {
      result = {false, Win1251("Запущенная программа не ответила")};
      return TqnHandOver::Done;
    }
    if (answer.status == "unassigned" && std::chrono::steady_clock::now() - startedWaiting > kStartingInstanceWait) {
      result = {false, Win1251("Запущенная программа не принимает команды")};
      return TqnHandOver::Done;
    }
    if (progress) progress->SetWaiting(answer.status == kCommandBusy);
    std::this_thread::sleep_for(kRetryEvery);
  }
}

}  // namespace

int RunAdministratorCommand(const TqnCommand& command, const TqnOwnInstanceRunner& runOwnInstance) {
  if (command.kind == TqnCommandKind::Help) {
    std::fputs(platform::ToTerminal(Win1251(CommandLineHelp())).c_str(), stdout);
    return 0;
  }
  if (command.kind == TqnCommandKind::Version) {
    std::printf("%s\n", TqnApplication::FileVersion().c_str());
    return 0;
  }
  if (!command.error.empty()) {
    PrintLine(stdout, command.error);
    return 1;
  }
  if (auto local = RunLocalCommand(command)) return *local;
  std::string refusal;
  if (command.kind == TqnCommandKind::Restore && !ConfirmRestore(command, refusal)) {
    PrintLine(stdout, refusal);
    return 1;
  }
  std::optional<TqnProgressLines> progress;
  if (command.kind != TqnCommandKind::List) progress.emplace(CommandActivity(command));
  TqnCommandResult result;
  try {
    for (;;) {
      if (HandOver(command, progress ? &*progress : nullptr, result) == TqnHandOver::Done) break;
      if (auto own = runOwnInstance(command)) {
        result = *own;
        break;
      }
    }
  } catch (const std::exception& e) {
    result = {false, e.what()};
  }
  progress.reset();
  // A verification's reason goes where scripts look for reasons.
  if (!result.text.empty())
    PrintLine(!result.ok && command.kind == TqnCommandKind::Verify ? stderr : stdout, result.text);
  return result.ok ? 0 : 1;
}

}  // namespace qn
