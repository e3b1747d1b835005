#include "app/window_texts.h"

#include <array>

#include "base/text.h"

namespace qn {

namespace {

// In the order of TqnText; written here as UTF-8, held as Windows-1251.
constexpr const char* kTexts[] = {
    "Менеджер баз данных",
    "Базы данных",
    "Сообщения",
    "Адрес подключения",
    "Путь",
    "Последняя резервная копия",
    "Свойства",
    "Архивация",
    "Разархивация",
    "Создать",
    "Удалить",
    "Выход",
    "Test",
    "Check",
    "Открыть",
    "Выход",
    "Да",
    "Нет",
    "ОК",
    "Отмена",
    "База данных",
    "Соединение",
    "Архивация",
    "Дополнительно",
    "Адрес подключения",
    "Путь к базе данных",
    "Комментарий (не обязательно)",
    "Автоматически создавать резервные  копии",
    "Путь для сохранения резервных копий",
    "Создавать резервные копии в следующие дни недели",
    "Понедельник",
    "Вторник",
    "Среда",
    "Четверг",
    "Пятница",
    "Суббота",
    "Воскресенье",
    "Начало архивации",
    "создавать",
    "резервных копий, каждые",
    "минут",
    "Сохранять не более",
    "резервных копий",
    "и по одной за последние",
    "дней,",
    "недель,",
    "месяцев",
    "Копий по запросу рабочих станций не более",
    "Проверять каждую резервную копию восстановлением",
    "Пользователь сервера Firebird SQL",
    "Пароль сервера Firebird SQL",
    "Передавать пароль в информации о соединении",
    "Установить значения по умолчанию",
    "Идентификатор базы данных",
    "Создать новую пустую базу данных",
    "Копии",
    "Каждую проверенную резервную копию копировать также в:",
    "Мест хранения копий нет: они описываются в элементе \"destinations\" файла настроек, "
    "и каждое готовится командой qndbmgr --init-destination=ИМЯ.",
    "Ввод пароля",
    "Введите имя пользователя и пароль для соединения с сервером Firebird SQL",
    "Имя",
    "Пароль",
};
constexpr size_t kCount = sizeof(kTexts) / sizeof(kTexts[0]);
static_assert(kCount == static_cast<size_t>(TqnText::LoginPassword) + 1, "one text for every TqnText");

const std::array<std::string, kCount>& Converted() {
  static const std::array<std::string, kCount> texts = [] {
    std::array<std::string, kCount> t;
    for (size_t i = 0; i < kCount; ++i) t[i] = Win1251(kTexts[i]);
    return t;
  }();
  return texts;
}

}  // namespace

const std::string& UiText(TqnText text) { return Converted()[static_cast<size_t>(text)]; }

const std::string& DayText(int day) {
  return UiText(static_cast<TqnText>(static_cast<int>(TqnText::DayMonday) + (day % 7 + 7) % 7));
}

}  // namespace qn
