// What the results page shows about a running scan and the chosen items: the
// remaining time estimated from the percentage, the clock and size texts, and
// the found and checked totals. Window-free so the rules are tested alone.
#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>

namespace quarry::views {

// The time a scan still needs, from its percentage and its running time (paused
// time left out by the caller): running × (100 − p) / p, smoothed so that one
// uneven step does not make the clock jump. Unknown ("estimating") until the
// scan is a few percent in: earlier readings say little.
class RemainingTime {
 public:
  static constexpr float kMinPercent = 3.0f;
  // Estimates above this are shown as this (99:59:59).
  static constexpr int kMaxSeconds = 99 * 3600 + 59 * 60 + 59;
  // Weight of a new reading against the estimate so far.
  static constexpr double kSmoothing = 0.2;

  // A new scan: nothing known.
  void Start() { *this = RemainingTime(); }
  // A progress reading in percent after `runningSeconds` of scanning.
  void Estimate(float percent, double runningSeconds);
  // The scan ended.
  void Finish();

  bool Known() const { return known_; }
  // Whole seconds still needed; -1 while unknown, at least 1 until the end.
  int Seconds() const;

 private:
  bool known_ = false;
  bool finished_ = false;
  double seconds_ = 0.0;
};

// The scan visits the categories in a fixed order; true when the scan had
// finished `type`'s step once the percentage reached `percent`.
bool CategoryScanned(int type, float percent);

// "hh:mm:ss" of a number of seconds; negative values show as 00:00:00.
QString FormatClock(qint64 seconds);
// Bytes as KB below 1 MiB, MB below 1 GiB, else GB, with one decimal in the
// locale's notation and a space before the unit ("1,5 MB" in German).
QString FormatSize(qint64 bytes, const QLocale& locale = QLocale());
// A count with the locale's digit grouping.
QString FormatCount(qint64 count, const QLocale& locale = QLocale());

// Found items and checked items, counted apart: checking or inverting never
// counts as a find, and a find arrives checked.
class SelectionTally {
 public:
  void Reset() { *this = SelectionTally(); }
  // One item found (it arrives checked) or, with a negative size, taken away
  // (it was checked).
  void Found(qint64 size) { Found(1, size); }
  // `count` items found, `size` bytes in all.
  void Found(qint64 count, qint64 size);
  void Removed(qint64 size);
  // Items checked (positive) or cleared (negative) by the user.
  void Checked(qint64 countDelta, qint64 sizeDelta);

  qint64 FoundCount() const { return foundCount_; }
  qint64 FoundSize() const { return foundSize_; }
  qint64 CheckedCount() const { return checkedCount_; }
  qint64 CheckedSize() const { return checkedSize_; }

 private:
  qint64 foundCount_ = 0;
  qint64 foundSize_ = 0;
  qint64 checkedCount_ = 0;
  qint64 checkedSize_ = 0;
};

}  // namespace quarry::views
