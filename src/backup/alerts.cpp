#include "backup/alerts.h"

#include "base/text.h"
#include "platform/system.h"
#include "settings/settings_keys.h"

namespace qn {

TqnAlertSettings ReadAlertSettings(const TqnNode& root) {
  using namespace keys;
  TqnAlertSettings s;
  s.smtpHost = TrimBlanks(ReadText(root, kSmtpHost));
  s.smtpPort = ReadRawInteger(root, kSmtpPort);
  s.security = LowerCase(TrimBlanks(ReadText(root, kSmtpSecurity)));
  if (s.security.empty()) s.security = kSmtpSecurity.missing;
  s.user = ReadText(root, kSmtpUser);
  s.password = ReadText(root, kSmtpPassword);
  s.from = TrimBlanks(ReadText(root, kSmtpFrom));
  s.to = ReadText(root, kSmtpTo);
  s.command = TrimBlanks(ReadText(root, kAlertCommand));
  s.commandTimeout = ReadPositiveInteger(root, kAlertCommandTimeout);
  return s;
}

const char* AlertEventWord(TqnAlertEvent event) {
  switch (event) {
    case TqnAlertEvent::Failed: return "failed";
    case TqnAlertEvent::Recovered: return "recovered";
    case TqnAlertEvent::Stale: return "stale";
    default: return "test";
  }
}

std::string AlertSubject(const TqnAlert& a) {
  const std::string host = Win1251ToUtf8(a.host);
  const std::string entry = Win1251ToUtf8(a.entry);
  switch (a.event) {
    case TqnAlertEvent::Failed: return "[" + host + "] Ошибка резервного копирования " + entry;
    case TqnAlertEvent::Recovered: return "[" + host + "] Резервное копирование " + entry + " восстановлено";
    case TqnAlertEvent::Stale: return "[" + host + "] Нет проверенной резервной копии " + entry;
    default: return "[" + host + "] Проверка оповещений Менеджера баз данных";
  }
}

std::string AlertBody(const TqnAlert& a) {
  std::string what;
  switch (a.event) {
    case TqnAlertEvent::Failed: what = "Резервное копирование базы данных завершилось ошибкой."; break;
    case TqnAlertEvent::Recovered: what = "Резервное копирование базы данных снова работает."; break;
    case TqnAlertEvent::Stale: what = "Давно нет проверенной резервной копии базы данных."; break;
    default: what = "Это проверочное сообщение: оповещения настроены."; break;
  }
  std::string body = what + "\r\n\r\nКомпьютер: " + Win1251ToUtf8(a.host) + "\r\n";
  if (!a.entry.empty()) {
    body += "База данных: " + Win1251ToUtf8(a.entry) + "\r\n";
    body += "Комментарий: " + Win1251ToUtf8(a.caption) + "\r\n";
    body += "Путь: " + Win1251ToUtf8(a.path) + "\r\n";
  }
  if (!a.message.empty()) body += "Сообщение: " + Win1251ToUtf8(a.message) + "\r\n";
  return body + "\r\n-- \r\nМенеджер баз данных\r\n";
}

bool KnownMailSecurity(const std::string& security) {
  return security == "none" || security == "starttls" || security == "ssl";
}

TqnAlertReport SendAlert(const TqnAlertSettings& settings, const TqnAlert& alert, const std::atomic<bool>* stop) {
  TqnAlertReport report;
  if (!settings.smtpHost.empty()) {
    const std::string error = KnownMailSecurity(settings.security)
                                  ? SendAlertMail(settings, AlertSubject(alert), AlertBody(alert), stop)
                                  : Win1251("неизвестное значение \"alerts\" / \"smtp\" / \"security\": \"") +
                                        settings.security + Win1251("\" (допустимы \"none\", \"starttls\", \"ssl\")");
    if (error.empty()) {
      report.lines.push_back(Win1251("Оповещение отправлено по почте: ") + settings.to);
    } else {
      report.ok = false;
      report.lines.push_back(Win1251("Оповещение по почте не отправлено: ") + error);
    }
  }
  if (!settings.command.empty()) {
    try {
      const platform::ShellCommandResult run =
          platform::RunShellCommandBounded(settings.command,
                                           {{"QN_EVENT", AlertEventWord(alert.event)},
                                            {"QN_ENTRY", Win1251ToUtf8(alert.entry)},
                                            {"QN_CAPTION", Win1251ToUtf8(alert.caption)},
                                            {"QN_PATH", Win1251ToUtf8(alert.path)},
                                            {"QN_MESSAGE", Win1251ToUtf8(alert.message)}},
                                           settings.commandTimeout, stop);
      if (run.timedOut) {
        report.ok = false;
        report.lines.push_back(Format(Win1251("Команда оповещения прервана: не завершилась за %d с "
                                              "(\"alerts\" / \"command_timeout\")")
                                          .c_str(),
                                      settings.commandTimeout));
      } else if (run.stopped) {
        report.ok = false;
        report.lines.push_back(Win1251("Команда оповещения прервана: программа завершает работу"));
      } else {
        if (run.exitCode != 0) report.ok = false;
        report.lines.push_back(Format(Win1251("Команда оповещения выполнена, код %d").c_str(), run.exitCode));
      }
    } catch (const std::exception& e) {
      report.ok = false;
      report.lines.push_back(Win1251("Команда оповещения не запущена: ") + e.what());
    }
  }
  if (settings.smtpHost.empty() && settings.command.empty())
    report.lines.push_back(
        Win1251("Оповещения не настроены: нет \"alerts\" / \"smtp\" / \"host\" и \"alerts\" / \"command\""));
  return report;
}

}  // namespace qn
