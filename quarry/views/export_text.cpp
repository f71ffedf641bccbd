#include "quarry/views/export_text.h"

#include "sieve/path_safety.h"
#include "sieve/time_zone.h"

namespace quarry::views {

QString HtmlEscape(const QString& text) {
  QString out;
  out.reserve(text.size() + text.size() / 8);
  for (const QChar c : text) {
    switch (c.unicode()) {
      case '&': out += QStringLiteral("&amp;"); break;
      case '<': out += QStringLiteral("&lt;"); break;
      case '>': out += QStringLiteral("&gt;"); break;
      case '"': out += QStringLiteral("&quot;"); break;
      case '\'': out += QStringLiteral("&#39;"); break;
      // As references, line breaks survive inside attribute values too.
      case '\n': out += QStringLiteral("&#10;"); break;
      case '\r': out += QStringLiteral("&#13;"); break;
      default: out += c;
    }
  }
  return out;
}

QString CsvField(const QString& text) {
  const bool needsQuotes = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
                           text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
  if (!needsQuotes) return text;
  QString doubled = text;
  doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString CsvLine(const QStringList& fields) {
  QStringList quoted;
  quoted.reserve(fields.size());
  for (const QString& f : fields) quoted.append(CsvField(f));
  return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString VCardEscape(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    switch (c.unicode()) {
      case '\\': out += QStringLiteral("\\\\"); break;
      case ',': out += QStringLiteral("\\,"); break;
      case ';': out += QStringLiteral("\\;"); break;
      case '\r':
        // CR LF is one line break.
        if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
        out += QStringLiteral("\\n");
        break;
      case '\n': out += QStringLiteral("\\n"); break;
      default: out += c;
    }
  }
  return out;
}

QString VCardFoldLine(const QString& line) {
  constexpr int kMaxOctets = 75;
  QString out;
  int octets = 0;
  for (qsizetype i = 0; i < line.size(); ++i) {
    // A surrogate pair is one character of four UTF-8 octets and stays together.
    const bool pair = line[i].isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate();
    const QString piece = pair ? line.mid(i, 2) : QString(line[i]);
    const int width = static_cast<int>(piece.toUtf8().size());
    if (octets + width > kMaxOctets) {
      out += QStringLiteral("\r\n ");
      octets = 1;  // the leading blank counts
    }
    out += piece;
    octets += width;
    if (pair) ++i;
  }
  return out + QStringLiteral("\r\n");
}

QString DateZoneLabel() { return QString::fromStdString(sieve::TimeZoneOffsetLabel()); }

QString DateZoneDescription() {
  const QString label = DateZoneLabel();
  const QString name = QString::fromStdString(sieve::TimeZoneName());
  return name.isEmpty() || name == label ? label : QStringLiteral("%1 (%2)").arg(label, name);
}

QString CleanFileName(const QString& name, const QString& fallback) {
  // One cleaning for the library's names and the program's, so both follow the same rules.
  const QByteArray utf8 = name.toUtf8();
  const QByteArray fallbackUtf8 = fallback.toUtf8();
  const std::string safe =
      sieve::SafeFileName(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                          std::string_view(fallbackUtf8.constData(), static_cast<std::size_t>(fallbackUtf8.size())));
  return QString::fromUtf8(safe.data(), static_cast<qsizetype>(safe.size()));
}

}  // namespace quarry::views
