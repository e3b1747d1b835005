#include "cli/command_line.h"

#include <filesystem>

#include "base/error.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/register.h"

namespace qn {

namespace {

struct TqnOption {
  std::string name;
  std::string value;
};

// "--name=value", or "--name" alone meaning "--name=1"; anything else is not
// an option and is skipped, as the program has always skipped it.
std::vector<TqnOption> ReadOptions(const std::vector<std::string>& args) {
  std::vector<TqnOption> options;
  for (const std::string& arg : args) {
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) continue;
    const size_t equals = arg.find('=');
    if (equals == std::string::npos)
      options.push_back({TrimBlanks(arg.substr(2)), "1"});
    else
      options.push_back({TrimBlanks(arg.substr(2, equals - 2)), arg.substr(equals + 1)});
  }
  return options;
}

const TqnOption* Find(const std::vector<TqnOption>& options, const char* name) {
  for (const TqnOption& o : options)
    if (o.name == name) return &o;
  return nullptr;
}

std::string ValueOf(const std::vector<TqnOption>& options, const char* name) {
  const TqnOption* o = Find(options, name);
  return o ? o->value : std::string();
}

// A file named relative to the administrator's working folder names the same
// file for the instance that runs the command, whose folder differs. The
// working folder comes in the kernel's form of names, the file name in the
// program's: both meet in the kernel's.
std::string Absolute(const std::string& file) {
  if (file.empty() || file[0] == '/' || file.find(':') != std::string::npos) return file;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(platform::KernelFileName(file), ec);
  return ec ? file : platform::FromKernelFileName(full.lexically_normal().string());
}

TqnCommand Build(const std::vector<TqnOption>& options, bool fromTerminal) {
  TqnCommand c;
  auto text = [&](const char* name) {
    std::string v = ValueOf(options, name);
    return fromTerminal ? platform::FromCommandLine(v) : v;
  };
  if (Find(options, "help")) {
    c.kind = TqnCommandKind::Help;
  } else if (Find(options, "version")) {
    c.kind = TqnCommandKind::Version;
  } else if (Find(options, "list")) {
    c.kind = TqnCommandKind::List;
  } else if (Find(options, "backup")) {
    c.kind = TqnCommandKind::Backup;
    c.key = text("backup");
    c.file = text("to");
    if (fromTerminal) c.file = Absolute(c.file);
  } else if (Find(options, "restore")) {
    c.kind = TqnCommandKind::Restore;
    c.key = text("restore");
    c.file = text("from");
    if (fromTerminal) c.file = Absolute(c.file);
    c.fixCharset = ValueOf(options, "fix-charset") == "1";
    c.yes = ValueOf(options, "yes") == "1";
    if (c.file.empty()) c.error = Win1251("Не указан файл резервной копии: --from=ФАЙЛ");
  } else if (Find(options, "verify")) {
    c.kind = TqnCommandKind::Verify;
    c.key = text("verify");
    c.file = text("from");
    if (fromTerminal) c.file = Absolute(c.file);
  } else if (Find(options, "backups")) {
    c.kind = TqnCommandKind::Backups;
    c.key = text("backups");
  } else if (Find(options, "status")) {
    c.kind = TqnCommandKind::Status;
    if (ValueOf(options, "json") == "1") c.format = TqnStatusFormat::Json;
    if (ValueOf(options, "nagios") == "1") c.format = TqnStatusFormat::Nagios;
    if (ValueOf(options, "zabbix-discovery") == "1") c.format = TqnStatusFormat::ZabbixDiscovery;
  } else if (Find(options, "test-alert")) {
    c.kind = TqnCommandKind::TestAlert;
  } else if (Find(options, "init-destination")) {
    c.kind = TqnCommandKind::InitDestination;
    c.key = text("init-destination");
    if (c.key.empty() || c.key == "1") c.error = Win1251("Не указано место хранения: --init-destination=ИМЯ");
  }
  if ((c.kind == TqnCommandKind::Backup || c.kind == TqnCommandKind::Restore || c.kind == TqnCommandKind::Verify ||
       c.kind == TqnCommandKind::Backups) &&
      c.key.empty())
    c.error = Win1251("Не указана база данных: ключ из списка --list, например db0000");
  return c;
}

}  // namespace

int EntryNumber(const std::string& key) {
  int number = 0;
  if (ParseEntryName(key, number)) return number;
  bool digits = !key.empty() && key.size() <= 4;
  for (char c : key) digits = digits && c >= '0' && c <= '9';
  if (!digits) throw Exception(Format(Win1251("Неправильный ключ базы данных \"%s\"").c_str(), key.c_str()));
  return std::stoi(key);
}

TqnCommand ParseCommand(const std::vector<std::string>& args) { return Build(ReadOptions(args), true); }

std::vector<std::string> CommandOptions(const TqnCommand& c) {
  switch (c.kind) {
    case TqnCommandKind::List: return {"list=1"};
    case TqnCommandKind::Backup: return {"backup=" + c.key, "to=" + c.file};
    case TqnCommandKind::Restore:
      return {"restore=" + c.key, "from=" + c.file, std::string("fix-charset=") + (c.fixCharset ? "1" : "0"), "yes=1"};
    case TqnCommandKind::Verify: return {"verify=" + c.key, "from=" + c.file};
    case TqnCommandKind::Backups: return {"backups=" + c.key};
    case TqnCommandKind::Status:
      switch (c.format) {
        case TqnStatusFormat::Json: return {"status=1", "json=1"};
        case TqnStatusFormat::Nagios: return {"status=1", "nagios=1"};
        case TqnStatusFormat::ZabbixDiscovery: return {"status=1", "zabbix-discovery=1"};
        default: return {"status=1", "json=0"};
      }
    case TqnCommandKind::TestAlert: return {"test-alert=1"};
    case TqnCommandKind::InitDestination: return {"init-destination=" + c.key};
    default: return {};
  }
}

TqnCommand CommandFromOptions(const std::vector<std::string>& options) {
  std::vector<std::string> args;
  for (const std::string& o : options) args.push_back("--" + o);
  return Build(ReadOptions(args), false);
}

std::string CommandActivity(const TqnCommand& c) {
  switch (c.kind) {
    case TqnCommandKind::List: return Win1251("Список баз данных");
    case TqnCommandKind::Backup: return Win1251("Архивация базы данных ") + c.key;
    case TqnCommandKind::Restore: return Win1251("Разархивация базы данных ") + c.key;
    case TqnCommandKind::Verify: return Win1251("Проверка резервной копии базы данных ") + c.key;
    case TqnCommandKind::InitDestination: return Win1251("Подготовка места хранения ") + c.key;
    default: return {};
  }
}

std::string CommandLineHelp() {
  return "qndbmgr — Менеджер баз данных / Database Manager\n"
         "\n"
         "Запуск / Start:\n"
         "  qndbmgr [--hidden=1] [--headless=1]\n"
         "      программа с окном и значком (--hidden=1: только значок) или без экрана (--headless=1)\n"
         "      the program with its window and tray icon (--hidden=1: icon only), or without a display\n"
         "  qndbmgr --service=1\n"
         "      системная служба (qndbmgr.service, служба Windows), без экрана\n"
         "      the system service (qndbmgr.service, the Windows service), headless\n"
         "\n"
         "Команды администратора / Administrator's commands:\n"
         "  --help            эта справка / this help\n"
         "  --version         версия файла программы / the program's file version\n"
         "  --list            список баз данных: номер, ключ, заголовок, путь, каталог резервных копий,\n"
         "                    автоматическая архивация (on/off), через табуляцию\n"
         "                    the register: number, key, caption, path, backup folder, auto backup\n"
         "                    (on/off), separated by tabs\n"
         "  --backup=KEY [--to=FILE]\n"
         "                    архивация базы KEY (db0000 или 0) в FILE, по умолчанию в её каталог\n"
         "                    резервных копий как backup-<время>.fbk|.bk3\n"
         "                    backs up database KEY into FILE, by default into its backup folder\n"
         "  --restore=KEY --from=FILE [--fix-charset=1] [--yes=1]\n"
         "                    разархивация базы KEY из FILE (.fbk, .bk3 или архив .pbz);\n"
         "                    --fix-charset=1: конвертация версии 1.5 для 2.5; --yes=1: не спрашивать\n"
         "                    подтверждение (без терминала обязательно)\n"
         "                    restores database KEY from FILE (.fbk, .bk3 or a .pbz archive);\n"
         "                    --fix-charset=1: the 1.5-to-2.5 conversion; --yes=1: do not ask\n"
         "                    (required without a terminal)\n"
         "  --verify=KEY [--from=FILE]\n"
         "                    проверка резервной копии восстановлением во временную базу (по умолчанию\n"
         "                    последней); код 0 — проверена, 1 — нет, причина в stderr\n"
         "                    proves a backup by restoring it into a scratch database (the newest by\n"
         "                    default); exit 0 when verified, 1 when not, the reason on stderr\n"
         "                    FILE может быть копией в месте хранения: МЕСТО:ИМЯ (nas:db0000-auto-...bk3);\n"
         "                    она скачивается в каталог резервных копий и сверяется по SHA-256\n"
         "                    FILE may be a copy at a destination, DEST:NAME: it is downloaded into the\n"
         "                    backup folder and checked by its SHA-256\n"
         "  --backups=KEY     каталог резервных копий базы KEY и её копий в местах хранения\n"
         "                    the catalogue of KEY's backups and of its copies at the destinations\n"
         "  --init-destination=NAME\n"
         "                    подготовка места хранения NAME (\"destinations\"): файл-метка с его\n"
         "                    идентификатором; каталог без метки (не подключённый диск) не используется\n"
         "                    prepares destination NAME: a marker file with its identity; a folder\n"
         "                    without it (a disk not mounted) is never written\n"
         "  --status [--json | --nagios | --zabbix-discovery]\n"
         "                    состояние автоматической архивации; код 0 — всё в порядке, 1 — нет свежей\n"
         "                    проверенной копии, 2 — ошибка последней архивации, 3 — состояние не прочитано;\n"
         "                    --json: JSON, --nagios: вывод модуля Nagios/Icinga, --zabbix-discovery:\n"
         "                    обнаружение Zabbix\n"
         "                    the automatic backups' state; exit 0 ok, 1 stale, 2 failed, 3 unreadable;\n"
         "                    as JSON, a Nagios/Icinga plugin's output or Zabbix's discovery JSON\n"
         "  --test-alert      проверочное оповещение по почте и командой / a test alert by mail and command\n"
         "\n"
         "Если программа уже запущена, команда выполняется в ней; иначе программа запускается\n"
         "на время команды. Ход работы — в stderr, итог — в stdout; код выхода 0 — успех, 1 — ошибка.\n"
         "When the program runs already, the command runs in it; otherwise the program runs for\n"
         "the command's duration. Progress on stderr, the result on stdout; exit code 0 on success,\n"
         "1 on failure.\n";
}

}  // namespace qn
