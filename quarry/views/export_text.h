// Text encodings used by every export: HTML escaping, CSV fields (RFC 4180),
// vCard values and line folding (RFC 6350) and safe file names.
#pragma once

#include <QString>
#include <QStringList>

namespace quarry::views {

// Escapes & < > " ' and line breaks so that any value can go into element text or an
// attribute of an HTML page.
QString HtmlEscape(const QString& text);

// One CSV field: quoted (quotes doubled) when it holds a comma, a quote or a
// line break; as it is otherwise.
QString CsvField(const QString& text);
// The fields joined by commas and ended by CR LF.
QString CsvLine(const QStringList& fields);

// A vCard text value: backslash, comma, semicolon and line breaks escaped.
QString VCardEscape(const QString& text);
// One content line folded to at most 75 octets per physical line (continuation
// lines start with a blank), never splitting a UTF-8 sequence; ends with CR LF.
QString VCardFoldLine(const QString& line);

// The zone the dates of the records are in (sieve/time_zone.h), for a column header:
// "UTC+09:00", "UTC-05:00/-04:00" or "UTC".
QString DateZoneLabel();
// The same followed by the zone's name when there is one: "UTC+01:00/+02:00 (Europe/Berlin)".
QString DateZoneDescription();

// A file or folder name from any text, cleaned as sieve::SafeFileName does (reserved and
// control characters, bidirectional controls, a leading ".", at most 120 bytes);
// names that are empty, "." or ".." (also after trimming blanks) become `fallback`.
QString CleanFileName(const QString& name, const QString& fallback = QStringLiteral("_"));

}  // namespace quarry::views
