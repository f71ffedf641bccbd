#include "quarry/views/media_dates.h"

#include <QDateTime>
#include <QTimeZone>

#include "sieve/time_zone.h"

namespace quarry::views {

QString DateTextOfSeconds(std::int64_t seconds) {
  if (seconds <= 0) return {};
  const QDateTime when = sieve::UtcTimes() ? QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
                                           : QDateTime::fromSecsSinceEpoch(seconds);
  return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString DateTextOfExif(const QString& exif) {
  if (exif.size() < 19) return {};
  QString text = exif.left(19);
  text[4] = QLatin1Char('-');
  text[7] = QLatin1Char('-');
  return text;
}

}  // namespace quarry::views
