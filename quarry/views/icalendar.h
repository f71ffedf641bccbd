// iCalendar files (RFC 5545) of events and to-dos: CR LF line ends, content lines
// folded at 75 octets without splitting a UTF-8 sequence, text values escaped.
// Record dates are texts on the clock sieve/time_zone.h names: in UTC mode they are
// written as UTC ("...Z"), otherwise as floating local times, which calendar
// programs show on their own clock as the list shows them.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace quarry::views {

// "YYYYMMDDThhmmss" (plus "Z" when `utc`) of a "YYYY-MM-DD hh:mm:ss" text; "" when
// the text is no such date.
QString ICalDateTime(const QString& dateText, bool utc);

class ICalendarWriter {
 public:
  // `utc`: the record dates are UTC texts (sieve::UtcTimes()).
  explicit ICalendarWriter(bool utc);

  void Begin(const QString& component);
  void End(const QString& component);
  // NAME:escaped text; nothing for an empty value.
  void Text(const QString& name, const QString& value);
  // NAME:value as it is (the caller made it valid); nothing for an empty value.
  void Raw(const QString& name, const QString& value);
  // NAME:date-time of a record date; false (and nothing written) when it is no date.
  bool Date(const QString& name, const QString& dateText);
  // NAME;VALUE=DATE:day of a "YYYY-MM-DD" text, `daysLater` days on; false (and nothing
  // written) when it is no day.
  bool Day(const QString& name, const QString& dayText, int daysLater = 0);
  // NAME:date-time in UTC of a record date (properties that must be UTC); false when it is no date.
  bool UtcDate(const QString& name, const QString& dateText);
  // DTSTAMP in UTC from a record date; the Apple reference date when there is none,
  // so that the same items always give the same file.
  void Stamp(const QString& dateText);
  // The marks every deleted item carries: a "[deleted]" category and X-QUARRY-DELETED.
  void DeletedMarks();

  // The whole file: VCALENDAR with VERSION and PRODID around what was written.
  QString Finish() const;

 private:
  // A record date on the export's clock; invalid when it is no date.
  QDateTime Moment(const QString& dateText) const;

  bool utc_;
  QString body_;
};

// A stable UID for the item at `position` of an export from its identifying texts.
QString ICalUid(qsizetype position, const QStringList& texts);

}  // namespace quarry::views
