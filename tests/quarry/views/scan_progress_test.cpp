// The remaining-time estimate, the clock and size texts, and the found and
// checked totals fed by a real category model.
#include <gtest/gtest.h>

#include <cmath>

#include "quarry/views/contacts_model.h"
#include "quarry/views/scan_progress.h"

namespace quarry::views {
namespace {

TEST(RemainingTime, UnknownUntilAFewPercentThenRunningTimesTheShareLeft) {
  struct Case {
    float percent;
    double running;
    int seconds;  // -1: still estimating
  };
  // Each reading on a fresh estimate.
  const Case cases[] = {
      {0.0f, 5.0, -1},               // nothing known yet
      {1.0f, 2.0, -1},               // too early to say
      {35.0f, 0.4, 1},               // fast scan: never 0 while it runs
      {35.0f, 10.0, 19},             // 10 s × 65 / 35 = 18.6
      {25.0f, 30.0, 90},             // 30 s for a quarter: 90 s to go
      {std::nanf(""), 30.0, -1},
      {50.0f, 0.0, -1},              // no running time: no pace
      {0.001f, 90000.0, -1},
      {3.0f, 90000.0, RemainingTime::kMaxSeconds},  // a stuck scan does not overflow the clock
  };
  for (const Case& c : cases) {
    RemainingTime t;
    t.Start();
    t.Estimate(c.percent, c.running);
    EXPECT_EQ(t.Seconds(), c.seconds) << c.percent << "% after " << c.running << " s";
    EXPECT_EQ(t.Known(), c.seconds >= 0);
  }
}

TEST(RemainingTime, SmoothsUnevenStepsAndEndsAtZero) {
  RemainingTime t;
  t.Start();
  t.Estimate(10.0f, 10.0);  // 90 s
  EXPECT_EQ(t.Seconds(), 90);
  t.Estimate(50.0f, 11.0);  // one big jump reads 11 s; the shown value moves only part of the way
  EXPECT_EQ(t.Seconds(), static_cast<int>(std::lround(90 + RemainingTime::kSmoothing * (11 - 90))));
  for (int i = 0; i < 60; ++i) t.Estimate(50.0f, 11.0);  // steady readings: it settles on them
  EXPECT_EQ(t.Seconds(), 11);
  t.Estimate(100.0f, 20.0);
  EXPECT_EQ(t.Seconds(), 0);
  EXPECT_EQ(FormatClock(t.Seconds()), QStringLiteral("00:00:00"));
  t.Estimate(50.0f, 30.0);  // nothing after the end
  EXPECT_EQ(t.Seconds(), 0);
  t.Start();  // a new scan starts over
  EXPECT_FALSE(t.Known());
}

TEST(ProgressTexts, ClockSizeAndCountInTheLanguagesNotation) {
  EXPECT_EQ(FormatClock(4 * 60 + 5), QStringLiteral("00:04:05"));
  EXPECT_EQ(FormatClock(36000 + 61), QStringLiteral("10:01:01"));
  EXPECT_EQ(FormatClock(-5), QStringLiteral("00:00:00"));
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  const QLocale german(QLocale::German, QLocale::Germany);
  const QLocale french(QLocale::French, QLocale::France);
  struct Case { qint64 bytes; QString english, german; };
  const Case sizes[] = {
      {0, QStringLiteral("0.0 KB"), QStringLiteral("0,0 KB")},
      {1048575, QStringLiteral("1,024.0 KB"), QStringLiteral("1.024,0 KB")},
      {1048576, QStringLiteral("1.0 MB"), QStringLiteral("1,0 MB")},
      {1536 * 1024, QStringLiteral("1.5 MB"), QStringLiteral("1,5 MB")},
      {1073741824, QStringLiteral("1.0 GB"), QStringLiteral("1,0 GB")},
      {5LL * 1073741824, QStringLiteral("5.0 GB"), QStringLiteral("5,0 GB")},  // beyond 32 bits
  };
  for (const Case& c : sizes) {
    EXPECT_EQ(FormatSize(c.bytes, english), c.english);
    EXPECT_EQ(FormatSize(c.bytes, german), c.german);
  }
  EXPECT_EQ(FormatSize(1536 * 1024, french), QStringLiteral("1,5 MB"));
  EXPECT_EQ(FormatCount(12345, english), QStringLiteral("12,345"));
  EXPECT_EQ(FormatCount(12345, german), QStringLiteral("12.345"));
}

// The model's reports drive the tally as the results page wires them.
struct Wired {
  ContactsModel Model;
  SelectionTally Tally;
  Wired() {
    QObject::connect(&Model, &CategoryModel::ItemsFound, [this](qint64 count, qint64 size) { Tally.Found(count, size); });
    QObject::connect(&Model, &CategoryModel::SelectionChanged,
                     [this](qint64 count, qint64 size) { Tally.Checked(count, size); });
  }
  void Add(const char* first, bool deleted) {
    sieve::ContactRecord r;
    r.First = first;
    r.Deleted = deleted ? 1 : 0;
    Model.AddContact(r);
  }
};

TEST(SelectionTally, FindsAndChecksAreCountedApartAndInvertMovesByNMinusTwoC) {
  Wired w;
  for (const char* name : {"Ann", "Bob", "Cid", "Dan", "Eve"}) w.Add(name, false);
  EXPECT_EQ(w.Tally.FoundCount(), 5);
  EXPECT_EQ(w.Tally.CheckedCount(), 5);

  w.Model.SetChecked(0, false);
  w.Model.SetChecked(1, false);
  EXPECT_EQ(w.Tally.CheckedCount(), 3);
  w.Model.InvertCheck();  // n - 2c = 5 - 6 = -1
  EXPECT_EQ(w.Tally.CheckedCount(), 2);
  EXPECT_EQ(w.Model.CheckedCount(), 2);
  w.Model.CheckAll(true);
  w.Model.CheckAll(true);  // again: no change, and never a find
  EXPECT_EQ(w.Tally.CheckedCount(), 5);
  EXPECT_EQ(w.Tally.FoundCount(), 5);
  w.Model.CheckAll(false);
  EXPECT_EQ(w.Tally.CheckedCount(), 0);
  w.Tally.Checked(-3, -10);  // a stray report cannot go below nothing
  EXPECT_EQ(w.Tally.CheckedCount(), 0);
  EXPECT_EQ(w.Tally.CheckedSize(), 0);
  w.Tally.Removed(0);
  EXPECT_EQ(w.Tally.FoundCount(), 4);
  w.Tally.Reset();
  EXPECT_EQ(w.Tally.FoundCount(), 0);
}

}  // namespace
}  // namespace quarry::views
