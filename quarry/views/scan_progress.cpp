#include "quarry/views/scan_progress.h"

#include <algorithm>
#include <cmath>

namespace quarry::views {

void RemainingTime::Start() {
  remaining_ = kStartSeconds;
  elapsed_ = 0;
}

void RemainingTime::Tick() {
  ++elapsed_;
  remaining_ = std::max(0, remaining_ - 1);
}

void RemainingTime::Estimate(float percent) {
  if (!(percent > 0.0f)) return;  // also catches NaN
  if (percent >= 100.0f) {
    remaining_ = 0;
    return;
  }
  // Time still needed at the pace so far: elapsed * (100 - p) / p.
  const double estimate = std::ceil(static_cast<double>(elapsed_) * (100.0 - percent) / percent);
  remaining_ = static_cast<int>(std::min<double>(estimate, kMaxSeconds));
}

QString FormatClock(qint64 seconds) {
  seconds = std::max<qint64>(0, seconds);
  const qint64 hours = seconds / 3600;
  const qint64 minutes = (seconds % 3600) / 60;
  return QStringLiteral("%1:%2:%3")
      .arg(hours, 2, 10, QLatin1Char('0'))
      .arg(minutes, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString FormatSize(qint64 bytes) {
  constexpr qint64 kMiB = 1024 * 1024;
  constexpr qint64 kGiB = kMiB * 1024;
  const double value = static_cast<double>(bytes);
  if (bytes < kMiB) return QStringLiteral("%1KB").arg(value / 1024.0, 0, 'f', 2);
  if (bytes < kGiB) return QStringLiteral("%1MB").arg(value / static_cast<double>(kMiB), 0, 'f', 2);
  return QStringLiteral("%1GB").arg(value / static_cast<double>(kGiB), 0, 'f', 2);
}

void SelectionTally::Found(qint64 size) {
  ++foundCount_;
  foundSize_ += size;
  ++checkedCount_;
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
