#include "quarry/views/export_text.h"

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

QString CleanFileName(const QString& name, const QString& fallback) {
  QString out = name;
  for (QChar& c : out) {
    switch (c.unicode()) {
      case '\\': case '/': case ':': case '?': case '*':
      case '<': case '>': case '|': case '"':
        c = QLatin1Char('_');
        break;
      default:
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) c = QLatin1Char('_');
    }
  }
  // Most file systems refuse names longer than 255 bytes; keep room for a
  // " (n)" suffix and an extension.
  constexpr qsizetype kMaxNameBytes = 200;
  while (out.toUtf8().size() > kMaxNameBytes) {
    out.chop(out.size() >= 2 && out[out.size() - 1].isLowSurrogate() ? 2 : 1);
  }
  const QString trimmed = out.trimmed();
  if (trimmed.isEmpty() || trimmed == QLatin1String(".") || trimmed == QLatin1String("..")) {
    return fallback;
  }
  return out;
}

}  // namespace quarry::views
