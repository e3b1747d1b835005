#include "gui/qt_text.h"

#include "base/text.h"

namespace qn {

QString ToQString(const std::string& cp1251) { return QString::fromStdString(Win1251ToUtf8(cp1251)); }

std::string FromQString(const QString& text) {
  std::string out;
  Utf8ToWin1251(text.toStdString(), out);
  return out;
}

QStringList QtNameFilters(const std::string& filter) {
  QStringList parts = ToQString(filter).split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    if (description.endsWith(QLatin1Char(')'))) {
      qsizetype open = description.lastIndexOf(QLatin1Char('('));
      if (open >= 0) description = description.left(open).trimmed();
    }
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

}  // namespace qn
