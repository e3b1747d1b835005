// The texts the windows show, in one place and in Windows-1251, for every
// skin of the program's window (Qt on Linux, Win32 on Windows). A skin
// converts them at its own boundary, if at all.
#pragma once

#include <string>

namespace qn {

enum class TqnText {
  // the main window
  MainCaption,       // "Менеджер баз данных"
  PageDatabases,     // "Базы данных"
  PageMessages,      // "Сообщения"
  ColumnAddress,     // "Адрес подключения"
  ColumnPath,        // "Путь"
  ColumnLastBackup,  // "Последняя резервная копия"
  ButtonProperties,  // "Свойства"
  ButtonBackup,      // "Архивация"
  ButtonRestore,     // "Разархивация"
  ButtonCreate,      // "Создать"
  ButtonRemove,      // "Удалить"
  ButtonExit,        // "Выход"
  ButtonTest,        // "Test" (never visible)
  ButtonCheck,       // "Check" (never visible)
  TrayOpen,          // "Открыть"
  TrayExit,          // "Выход"
  // message boxes
  AnswerYes,     // "Да"
  AnswerNo,      // "Нет"
  AnswerOk,      // "ОК"
  AnswerCancel,  // "Отмена"
  // the properties dialog
  DataCaption,       // "База данных"
  PageConnection,    // "Соединение"
  PageBackup,        // "Архивация"
  PageMore,          // "Дополнительно"
  LabelConnAddress,  // "Адрес подключения"
  LabelPath,         // "Путь к базе данных"
  LabelCaption,      // "Комментарий (не обязательно)"
  CheckAutoBackup,   // "Автоматически создавать резервные  копии"
  LabelBackupPath,   // "Путь для сохранения резервных копий"
  LabelDays,         // "Создавать резервные копии в следующие дни недели"
  DayMonday,         // "Понедельник" ... "Воскресенье": DayMonday + i
  DayTuesday,
  DayWednesday,
  DayThursday,
  DayFriday,
  DaySaturday,
  DaySunday,
  LabelBackupTime,      // "Начало архивации"
  LabelBackupNum,       // "создавать"
  LabelBackupInterval,  // "резервных копий, каждые"
  LabelMinutes,         // "минут"
  CheckPrune,           // "Сохранять не более"
  LabelRestTail,        // "резервных копий"
  LabelKeepAlso,        // "и по одной за последние"
  LabelKeepDaily,       // "дней,"
  LabelKeepWeekly,      // "недель,"
  LabelKeepMonthly,     // "месяцев"
  LabelKeepRequested,   // "Копий по запросу рабочих станций не более"
  CheckVerify,        // "Проверять каждую резервную копию восстановлением"
  LabelUser,          // "Пользователь сервера Firebird SQL"
  LabelPassword,      // "Пароль сервера Firebird SQL"
  CheckSendPassword,  // "Передавать пароль в информации о соединении"
  ButtonDefaults,     // "Установить значения по умолчанию"
  LabelIdentifier,    // "Идентификатор базы данных"
  CheckCreate,        // "Создать новую пустую базу данных"
  PageCopies,         // "Копии"
  LabelCopiesIntro,  // "Каждую проверенную резервную копию копировать также в:"
  LabelNoDestinations,  // "Мест хранения копий нет: ..."
  // the login dialog
  LoginCaption,  // "Ввод пароля"
  LoginPrompt,  // "Введите имя пользователя и пароль для соединения с сервером Firebird SQL"
  LoginUser,    // "Имя"
  LoginPassword,  // "Пароль"
};

// The text in Windows-1251.
const std::string& UiText(TqnText text);
// The weekday's box, Monday = 0.
const std::string& DayText(int day);

}  // namespace qn
