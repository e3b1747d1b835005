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
#include "cli/verbose_tail.h"
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
  // The handling instance's own latest line, when it reports one.
  void SetServerLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    serverLine_ = line;
  }

 private:
  using Clock = std::chrono::steady_clock;
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kProgressEvery, [this] { return stop_; })) {
      const long seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start_).count();
      std::string line = activity_ +
                         (waiting_ ? Win1251(": ждёт окончания другой операции, ") : Win1251(": выполняется, ")) +
                         std::to_string(seconds) + Win1251(" с");
      const std::string latest = waiting_ ? std::string() : !serverLine_.empty() ? serverLine_ : tail_.Latest();
      if (!latest.empty()) line += Win1251(" — ") + latest;
      PrintLine(stderr, line);
    }
  }
  std::string activity_;
  Clock::time_point start_;
  TqnVerboseTail tail_{platform::ProgramFolder()};
  std::atomic<bool> waiting_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::string serverLine_;
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

}  // namespace

std::string ServiceOnlyMessage() {
  return Win1251(
      "Базы данных на этом компьютере обслуживает служба qndbmgr. Команды ей передают root и члены группы "
      "qndbmgr (sudo adduser ИМЯ qndbmgr, затем войти снова)");
}

namespace {

// One exchange with the slot; false, with the reason, when the instance
// went away meanwhile or cannot be reached.
bool Exchange(const char* channel, int slot, TqnIpcMessage& message, const TqnServerLines& onLine,
              std::string* failure = nullptr) {
  try {
    SendIpcMessage(channel, slot, message, kIpcReplyTimeoutMs, [&onLine](const std::string& line) {
      if (onLine) onLine(line);
    });
    return true;
  } catch (const std::exception& e) {
    if (failure) *failure = e.what();
    return false;
  }
}

// An instance that stays listed but cannot be reached is given this many
// tries before the command gives up.
constexpr int kUnreachableTries = 20;

// Sends the command to the first running instance, tries again while it is
// busy or still starting; fills result when an instance answered. A long
// answer comes in pieces of the one result.
TqnHandOver HandOver(const char* channel, const TqnCommand& command, TqnProgressLines* progress,
                     TqnCommandResult& result, const TqnServerLines& serverLines = {}) {
  const TqnServerLines onLine = [&](const std::string& line) {
    if (progress) progress->SetServerLine(line);
    if (serverLines) serverLines(line);
  };
  const auto startedWaiting = std::chrono::steady_clock::now();
  int unreachable = 0;
  for (;;) {
    const std::vector<int> slots = ListIpcInstances(channel);
    if (slots.empty()) return TqnHandOver::NoInstance;
    TqnIpcMessage message;
    WriteCommandRequest(message, CommandOptions(command));
    std::string failure;
    if (!Exchange(channel, slots.front(), message, onLine, &failure)) {
      // Gone: look again; still there but not answering: give up in time.
      if (++unreachable >= kUnreachableTries) {
        result = {false, Win1251("Запущенная программа недоступна: ") + failure};
        return TqnHandOver::Done;
      }
      std::this_thread::sleep_for(kRetryEvery);
      continue;
    }
    unreachable = 0;
    TqnCommandAnswer answer = ReadCommandAnswer(message);
    if (answer.status == kCommandDone || answer.status == kCommandFailed) {
      const bool ok = answer.status == kCommandDone;
      std::string text = answer.text;
      while (text.size() < answer.totalLength && !answer.text.empty()) {
        WritePageRequest(message, answer.answerNumber, static_cast<uint32_t>(text.size()));
        if (!Exchange(channel, slots.front(), message, {})) {
          result = {false, Win1251("Запущенная программа завершилась, не передав ответ целиком")};
          return TqnHandOver::Done;
        }
        answer = ReadCommandAnswer(message);
        if (answer.status != (ok ? kCommandDone : kCommandFailed)) {
          result = {false, answer.status == kCommandFailed ? answer.text
                                                           : Win1251("Запущенная программа не передала ответ целиком")};
          return TqnHandOver::Done;
        }
        text += answer.text;
      }
      result = {ok, text};
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

std::optional<TqnCommandResult> RunInService(const TqnCommand& command, const TqnServerLines& onLine) {
  TqnCommandResult result;
  try {
    if (HandOver(TqnApplication::kServiceChannelName, command, nullptr, result, onLine) == TqnHandOver::Done)
      return result;
  } catch (const std::exception& e) {
    return TqnCommandResult{false, e.what()};
  }
  return std::nullopt;
}

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
    PrintLine(stderr, command.error);
    return 1;
  }
  if (auto local = RunLocalCommand(command)) return *local;
  std::string refusal;
  if (command.kind == TqnCommandKind::Restore && !ConfirmRestore(command, refusal)) {
    PrintLine(stderr, refusal);
    return 1;
  }
  std::optional<TqnProgressLines> progress;
  if (command.kind != TqnCommandKind::List) progress.emplace(CommandActivity(command));
  TqnCommandResult result;
  try {
    for (;;) {
      // Where the system's service looks after the databases, commands go
      // to it, and no instance of this user's runs beside it.
      if (IpcChannelInUse(TqnApplication::kServiceChannelName)) {
        if (ListIpcInstances(TqnApplication::kServiceChannelName).empty()) {
          result = {false, ServiceOnlyMessage()};
          break;
        }
        if (HandOver(TqnApplication::kServiceChannelName, command, progress ? &*progress : nullptr, result) ==
            TqnHandOver::Done)
          break;
        continue;
      }
      if (HandOver(TqnApplication::kChannelName, command, progress ? &*progress : nullptr, result) == TqnHandOver::Done)
        break;
      if (auto own = runOwnInstance(command)) {
        result = *own;
        break;
      }
    }
  } catch (const std::exception& e) {
    result = {false, e.what()};
  }
  progress.reset();
  // Results on standard output, failures on standard error.
  if (!result.text.empty()) PrintLine(result.ok ? stdout : stderr, result.text);
  return result.ok ? 0 : 1;
}

}  // namespace qn
