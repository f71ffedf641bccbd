// The remaining-time estimate, the clock and size texts, and the found and
// checked totals fed by a real category model.
#include <gtest/gtest.h>

#include <cmath>

#include "quarry/views/contacts_model.h"
#include "quarry/views/scan_progress.h"

namespace quarry::views {
namespace {

TEST(RemainingTime, CountsDownFromFiveMinutesUntilProgressIsKnownAndStopsAtZero) {
  RemainingTime t;
  t.Start();
  EXPECT_EQ(FormatClock(t.Seconds()), QStringLiteral("00:05:00"));
  for (int i = 0; i < 10; ++i) {
    t.Tick();
    t.Estimate(0.0f);  // nothing known: the countdown goes on
  }
  EXPECT_EQ(t.Seconds(), 290);
  for (int i = 0; i < 400; ++i) t.Tick();
  EXPECT_EQ(FormatClock(t.Seconds()), QStringLiteral("00:00:00"));
}

TEST(RemainingTime, EstimatesFromRunningTimeAndPercent) {
  RemainingTime t;
  t.Start();
  for (int i = 0; i < 30; ++i) t.Tick();
  t.Estimate(25.0f);  // 30 s for a quarter: 90 s to go
  EXPECT_EQ(t.Seconds(), 90);
  t.Estimate(std::nanf(""));
  EXPECT_EQ(t.Seconds(), 90);
  t.Estimate(100.0f);
  EXPECT_EQ(t.Seconds(), 0);
  // A long scan stuck at a tiny percentage does not overflow the clock.
  for (int i = 0; i < 5000; ++i) t.Tick();
  t.Estimate(0.001f);
  EXPECT_EQ(FormatClock(t.Seconds()), QStringLiteral("99:59:59"));
  // A new scan starts over.
  t.Start();
  EXPECT_EQ(t.Seconds(), RemainingTime::kStartSeconds);
  EXPECT_EQ(t.ElapsedSeconds(), 0);
}

TEST(ProgressTexts, ClockAndSizeEdges) {
  EXPECT_EQ(FormatClock(4 * 60 + 5), QStringLiteral("00:04:05"));
  EXPECT_EQ(FormatClock(36000 + 61), QStringLiteral("10:01:01"));
  EXPECT_EQ(FormatClock(-5), QStringLiteral("00:00:00"));
  EXPECT_EQ(FormatSize(0), QStringLiteral("0.00KB"));
  EXPECT_EQ(FormatSize(1048575), QStringLiteral("1024.00KB"));
  EXPECT_EQ(FormatSize(1048576), QStringLiteral("1.00MB"));
  EXPECT_EQ(FormatSize(1073741824), QStringLiteral("1.00GB"));
  // Beyond 32 bits: 5 GiB stays right.
  EXPECT_EQ(FormatSize(5LL * 1073741824), QStringLiteral("5.00GB"));
}

// The model's reports drive the tally as the results page wires them.
struct Wired {
  ContactsModel Model;
  SelectionTally Tally;
  Wired() {
    QObject::connect(&Model, &CategoryModel::ItemFound, [this](qint64 size) { Tally.Found(size); });
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

TEST(SelectionTally, ChecksOfItemsHiddenByAFilterSurvive) {
  Wired w;
  w.Add("Joanna", false);
  w.Add("Gone", true);
  w.Add("Mark", false);
  w.Model.ShowDeletedOnly(true);
  ASSERT_EQ(w.Model.rowCount(), 1);
  w.Model.CheckAll(false);  // only the visible deleted contact
  EXPECT_EQ(w.Tally.CheckedCount(), 2);
  w.Model.ShowDeletedOnly(false);
  w.Model.SearchText(QStringLiteral("ANN"));
  ASSERT_EQ(w.Model.rowCount(), 1);
  w.Model.InvertCheck();  // Joanna cleared; Mark hidden and kept
  w.Model.SearchText(QString());
  EXPECT_FALSE(w.Model.IsChecked(0));
  EXPECT_FALSE(w.Model.IsChecked(1));
  EXPECT_TRUE(w.Model.IsChecked(2));
  EXPECT_EQ(w.Tally.CheckedCount(), 1);
  EXPECT_EQ(w.Model.SnapshotChecked()->ItemCount(), 1);
}

}  // namespace
}  // namespace quarry::views
