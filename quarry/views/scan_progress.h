// What the results page shows about a running scan and the chosen items: the
// remaining time estimated from the percentage, the clock and size texts, and
// the found and checked totals. Window-free so the rules are tested alone.
#pragma once

#include <QString>
#include <QtGlobal>

namespace quarry::views {

// Counts down once a second and is re-estimated from each progress reading.
// Paused time is not counted: the caller ticks only while the scan runs.
class RemainingTime {
 public:
  static constexpr int kStartSeconds = 300;
  // Estimates above this are shown as this (99:59:59).
  static constexpr int kMaxSeconds = 99 * 3600 + 59 * 60 + 59;

  // A new scan: the start value, nothing elapsed.
  void Start();
  // One second of running scan passed.
  void Tick();
  // A progress reading in percent; 0 (nothing known yet) keeps the countdown.
  void Estimate(float percent);
  // The scan ended.
  void Finish() { remaining_ = 0; }

  int Seconds() const { return remaining_; }
  int ElapsedSeconds() const { return elapsed_; }

 private:
  int remaining_ = kStartSeconds;
  int elapsed_ = 0;
};

// "hh:mm:ss" of a number of seconds; negative values show as 00:00:00.
QString FormatClock(qint64 seconds);
// Bytes as "%.2fKB" below 1 MiB, "%.2fMB" below 1 GiB, else "%.2fGB".
QString FormatSize(qint64 bytes);

// Found items and checked items, counted apart: checking or inverting never
// counts as a find, and a find arrives checked.
class SelectionTally {
 public:
  void Reset() { *this = SelectionTally(); }
  // One item found (it arrives checked) or, with a negative size, taken away
  // (it was checked).
  void Found(qint64 size);
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
