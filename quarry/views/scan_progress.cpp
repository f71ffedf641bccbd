#include "quarry/views/scan_progress.h"

#include <algorithm>
#include <cmath>

#include "sieve/info_type.h"

namespace quarry::views {

void RemainingTime::Estimate(float percent, double runningSeconds) {
  if (finished_ || !(percent >= kMinPercent) || !(runningSeconds > 0.0)) return;  // also NaN
  if (percent >= 100.0f) {
    Finish();
    return;
  }
  const double reading = std::min<double>(runningSeconds * (100.0 - percent) / percent, kMaxSeconds);
  seconds_ = known_ ? seconds_ + kSmoothing * (reading - seconds_) : reading;
  known_ = true;
}

void RemainingTime::Finish() {
  finished_ = true;
  known_ = true;
  seconds_ = 0.0;
}

int RemainingTime::Seconds() const {
  if (!known_) return -1;
  if (finished_) return 0;
  // A scan not yet at its end never shows 0.
  return std::max(1, static_cast<int>(std::lround(seconds_)));
}

bool CategoryScanned(int type, float percent) { return percent >= sieve::InfoTypeScanEnd(type); }

QString FormatClock(qint64 seconds) {
  seconds = std::max<qint64>(0, seconds);
  const qint64 hours = seconds / 3600;
  const qint64 minutes = (seconds % 3600) / 60;
  return QStringLiteral("%1:%2:%3")
      .arg(hours, 2, 10, QLatin1Char('0'))
      .arg(minutes, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString FormatSize(qint64 bytes, const QLocale& locale) {
  constexpr qint64 kMiB = 1024 * 1024;
  constexpr qint64 kGiB = kMiB * 1024;
  const double value = static_cast<double>(bytes);
  if (bytes < kMiB) return locale.toString(value / 1024.0, 'f', 1) + QStringLiteral(" KB");
  if (bytes < kGiB) return locale.toString(value / static_cast<double>(kMiB), 'f', 1) + QStringLiteral(" MB");
  return locale.toString(value / static_cast<double>(kGiB), 'f', 1) + QStringLiteral(" GB");
}

QString FormatCount(qint64 count, const QLocale& locale) { return locale.toString(count); }

void SelectionTally::Found(qint64 count, qint64 size) {
  foundCount_ += count;
  foundSize_ += size;
  checkedCount_ += count;
  checkedSize_ += size;
}

void SelectionTally::Removed(qint64 size) {
  foundCount_ = std::max<qint64>(0, foundCount_ - 1);
  foundSize_ = std::max<qint64>(0, foundSize_ - size);
  checkedCount_ = std::max<qint64>(0, checkedCount_ - 1);
  checkedSize_ = std::max<qint64>(0, checkedSize_ - size);
}

void SelectionTally::Checked(qint64 countDelta, qint64 sizeDelta) {
  // Never more checked than found, never below nothing.
  checkedCount_ = std::clamp<qint64>(checkedCount_ + countDelta, 0, foundCount_);
  checkedSize_ = std::clamp<qint64>(checkedSize_ + sizeDelta, 0, foundSize_);
}

}  // namespace quarry::views
