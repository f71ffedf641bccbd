#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sieve/extractors/bookmark_info.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using Entry = std::pair<std::string, std::string>;  // title, url

// Bookmarks.db and History.db (with its -wal, "" when it has none) read the way the scan hands
// them over.
std::vector<BookmarkRecord> Read(const std::string& bookmarks, const std::string& history, int* result = nullptr,
                                 const std::string& historyWal = "") {
  // A log is read beside a copy of its database, made in a private folder.
  ScanContext context;
  PrivateFolder folder;
  context.privateFolder = &folder;
  CBookmarkInfo info;
  info.SetContext(&context);
  DatabaseSource main, second;
  main.main.path = bookmarks;
  second.main.path = history;
  second.wal.path = historyWal;
  info.SetDatabase(RuleAction::MainDatabase, main);
  info.SetDatabase(RuleAction::SecondDatabase, second);
  const int rc = info.read("");
  if (result) *result = rc;
  return info.Records();
}

class SafariTest : public ::testing::Test {
 protected:
  const test::LayoutBackup& backup_ = test::SmallBackup("9.3.2", "5");
  const JsonValue& truth_ = backup_.Database("safari");
  const std::string bookmarks_ = backup_.Stored("Library/Safari/Bookmarks.db");
  const std::string history_ = backup_.Stored("Library/Safari/History.db");
};

// Bookmarks in id order with their folders, then every visit with its time (two visits of
// one page are two records).
TEST_F(SafariTest, LiveBookmarksAndEveryVisitAreExact) {
  int result = -1;
  const auto records = Read(bookmarks_, history_, &result);
  EXPECT_EQ(result, 0);
  using Live = std::tuple<std::string, std::string, int, std::string, std::string>;  // + kind, folder, time
  std::vector<Live> live;
  for (const BookmarkRecord& r : records) {
    EXPECT_FALSE(r.Url.empty());
    if (r.Deleted == 0) live.emplace_back(r.Title, r.Url, r.Kind, r.Folder, r.VisitDate);
  }
  std::vector<Live> want;
  for (const JsonValue& row : truth_["bookmarks"].Items) {
    want.emplace_back(row.Text("title"), row.Text("url"), kBookmarkEntry, row.Text("folder"), "");
  }
  for (const JsonValue& row : truth_["visits"].Items) {
    want.emplace_back(row.Text("title"), row.Text("url"), kHistoryVisit, "",
                      MacTimeTextFromDouble(row["visit_time"].Number));
  }
  EXPECT_EQ(live, want);  // no folder as an entry, no orphan visit, nothing merged
  std::map<Entry, int> visits;
  for (const JsonValue& row : truth_["visits"].Items) ++visits[{row.Text("title"), row.Text("url")}];
  bool repeated = false;
  for (const auto& [entry, count] : visits) repeated |= count > 1;
  EXPECT_TRUE(repeated) << "the generator should visit some page twice";
}

TEST_F(SafariTest, DeletedBookmarksRecallAndPrecision) {
  std::vector<BookmarkRecord> recovered;
  for (const BookmarkRecord& r : Read(bookmarks_, history_)) {
    if (r.Deleted && r.Kind == kBookmarkEntry) recovered.push_back(r);
  }
  const JsonValue& deleted = truth_["deleted_bookmarks"];
  // A url longer than the page is carved up to its first overflow page: a prefix is a match.
  const auto matches = [](const BookmarkRecord& got, const JsonValue& want) {
    return got.Title == want.Text("title") && !got.Url.empty() && want.Text("url").starts_with(got.Url) &&
           got.Kind == kBookmarkEntry && got.Folder == want.Text("folder");
  };
  test::Recovery score;
  score.Score(recovered, deleted, matches);
  score.Expect("bookmarks", 0.9, 0.95);
  // Live bookmarks are never among the recovered ones.
  std::set<Entry> live;
  for (const JsonValue& row : truth_["bookmarks"].Items) live.emplace(row.Text("title"), row.Text("url"));
  for (const BookmarkRecord& got : recovered) EXPECT_FALSE(live.contains({got.Title, got.Url})) << got.Title;
}

// Deleted visits whose row and page address survive come back with title, address and time;
// nothing else comes back. Both backup layouts, with and without the last changes in a -wal.
TEST_F(SafariTest, DeletedVisitsRecallAndPrecision) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> kinds = {
      {"9.3.2", {}}, {"9.3.2", {"--wal-history"}}, {"18.2", {"--manifest-db"}},
      {"18.2", {"--manifest-db", "--wal-history"}}};
  for (const auto& [version, options] : kinds) {
    const test::LayoutBackup& backup = test::SmallBackup(version, "5", options);
    SCOPED_TRACE(backup.Backup.Folder);
    const JsonValue& truth = backup.Database("safari");
    const std::string wal = backup.Stored("Library/Safari/History.db-wal");
    EXPECT_EQ(wal.empty(), std::find(options.begin(), options.end(), "--wal-history") == options.end());
    std::vector<BookmarkRecord> recovered;
    std::size_t live = 0;
    for (const BookmarkRecord& r : Read(backup.Stored("Library/Safari/Bookmarks.db"),
                                        backup.Stored("Library/Safari/History.db"), nullptr, wal)) {
      if (r.Kind != kHistoryVisit) continue;
      if (r.Deleted) recovered.push_back(r);
      live += r.Deleted == 0;
    }
    EXPECT_EQ(live, truth["visits"].Items.size());
    const auto matches = [](const BookmarkRecord& got, const JsonValue& want) {
      return got.Title == want.Text("title") && got.Url == want.Text("url") &&
             got.VisitDate == MacTimeTextFromDouble(want["visit_time"].Number);
    };
    test::Recovery score;
    score.Score(recovered, truth["deleted_visits"], matches);
    score.Expect("visits " + backup.Backup.Folder, 0.95, 0.98);
  }
}

// Without History.db the bookmarks still come; without Bookmarks.db nothing does.
TEST_F(SafariTest, MissingFilesLeaveWhatTheOtherGives) {
  int result = -1;
  const auto withoutHistory = Read(bookmarks_, history_ + ".absent", &result);
  EXPECT_EQ(result, 0);
  std::size_t visits = 0;
  for (const BookmarkRecord& r : Read(bookmarks_, history_)) visits += r.Kind == kHistoryVisit;
  EXPECT_GT(visits, truth_["visits"].Items.size());  // the recovered ones too
  EXPECT_EQ(withoutHistory.size(), Read(bookmarks_, history_).size() - visits);
  EXPECT_TRUE(Read(bookmarks_ + ".absent", history_, &result).empty());
  EXPECT_NE(result, 0);
}

}  // namespace
}  // namespace sieve
