#include "quarry/views/icalendar.h"

#include <QCryptographicHash>
#include <QDateTime>

#include "quarry/views/export_text.h"

namespace quarry::views {

namespace {

QDateTime ParseDate(const QString& text, Qt::TimeSpec clock) {
  // Date and time apart: read as one, a local time that a change of the clocks skips
  // would be no time at all.
  const QStringList parts = text.split(QLatin1Char(' '));
  if (parts.size() != 2) return {};
  const QDate date = QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd"));
  const QTime time = QTime::fromString(parts[1], QStringLiteral("HH:mm:ss"));
  if (!date.isValid() || !time.isValid()) return {};
  return QDateTime(date, time, clock);
}

}  // namespace

QString ICalDateTime(const QString& dateText, bool utc) {
  // Only the form changes: a floating time is the text's own fields, even one that a
  // change of the clocks skips.
  const QDateTime moment = ParseDate(dateText, Qt::UTC);
  if (!moment.isValid()) return {};
  return moment.toString(QStringLiteral("yyyyMMdd'T'HHmmss")) + (utc ? QStringLiteral("Z") : QString());
}

ICalendarWriter::ICalendarWriter(bool utc) : utc_(utc) {}

// Property lines are folded as vCard lines are: the same rule of RFC 5545 and 6350.
void ICalendarWriter::Begin(const QString& component) { body_ += VCardFoldLine(QStringLiteral("BEGIN:") + component); }

void ICalendarWriter::End(const QString& component) { body_ += VCardFoldLine(QStringLiteral("END:") + component); }

void ICalendarWriter::Text(const QString& name, const QString& value) {
  if (!value.isEmpty()) body_ += VCardFoldLine(name + QLatin1Char(':') + VCardEscape(value));
}

void ICalendarWriter::Raw(const QString& name, const QString& value) {
  if (!value.isEmpty()) body_ += VCardFoldLine(name + QLatin1Char(':') + value);
}

bool ICalendarWriter::Date(const QString& name, const QString& dateText) {
  const QString value = ICalDateTime(dateText, utc_);
  Raw(name, value);
  return !value.isEmpty();
}

bool ICalendarWriter::Day(const QString& name, const QString& dayText, int daysLater) {
  const QDate day = QDate::fromString(dayText, QStringLiteral("yyyy-MM-dd"));
  if (!day.isValid()) return false;
  body_ += VCardFoldLine(name + QStringLiteral(";VALUE=DATE:") + day.addDays(daysLater).toString(QStringLiteral("yyyyMMdd")));
  return true;
}

QDateTime ICalendarWriter::Moment(const QString& dateText) const {
  QDateTime moment = ParseDate(dateText, utc_ ? Qt::UTC : Qt::LocalTime);
  if (!moment.isValid() && !utc_) moment = ParseDate(dateText, Qt::UTC);
  return moment;
}

bool ICalendarWriter::UtcDate(const QString& name, const QString& dateText) {
  const QDateTime moment = Moment(dateText);
  if (!moment.isValid()) return false;
  Raw(name, moment.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
  return true;
}

void ICalendarWriter::Stamp(const QString& dateText) {
  // DTSTAMP must be UTC; the time of the export would make every export differ.
  QDateTime moment = Moment(dateText);
  if (!moment.isValid()) moment = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
  Raw(QStringLiteral("DTSTAMP"), moment.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
}

void ICalendarWriter::DeletedMarks() {
  Raw(QStringLiteral("CATEGORIES"), QStringLiteral("[deleted]"));
  Raw(QStringLiteral("X-QUARRY-DELETED"), QStringLiteral("1"));
}

QString ICalendarWriter::Finish() const {
  return VCardFoldLine(QStringLiteral("BEGIN:VCALENDAR")) + VCardFoldLine(QStringLiteral("VERSION:2.0")) +
         VCardFoldLine(QStringLiteral("PRODID:-//Quarry//Quarry recovery//EN")) +
         VCardFoldLine(QStringLiteral("CALSCALE:GREGORIAN")) + body_ + VCardFoldLine(QStringLiteral("END:VCALENDAR"));
}

QString ICalUid(qsizetype position, const QStringList& texts) {
  QCryptographicHash hash(QCryptographicHash::Sha1);
  hash.addData(QByteArray::number(position));
  for (const QString& text : texts) {
    hash.addData(QByteArray(1, '\0'));
    hash.addData(text.toUtf8());
  }
  return QString::fromLatin1(hash.result().toHex()) + QStringLiteral("@quarry");
}

}  // namespace quarry::views
