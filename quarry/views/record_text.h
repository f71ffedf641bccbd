// Record texts as the views keep and show them.
#pragma once

#include <QString>
#include <string>

namespace quarry::views {

// A record's UTF-8 text.
inline QString RecordText(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A text that may hold line breaks as one line of a list cell (the detail pane and
// the exports keep the whole text).
inline QString ListLine(const QString& text) {
  constexpr qsizetype kMaxCell = 300;
  QString line = text.left(kMaxCell);
  line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  line.replace(QLatin1Char('\n'), QLatin1Char(' '));
  line.replace(QLatin1Char('\r'), QLatin1Char(' '));
  return text.size() > kMaxCell ? line + QChar(0x2026) : line;
}

}  // namespace quarry::views
