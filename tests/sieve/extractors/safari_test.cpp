#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sieve/extractors/bookmark_info.h"
#include "sieve/extractors/bookmark_sqlite.h"
#include "sieve/private_folder.h"
#include "sieve/reader/time_text.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using Entry = std::pair<std::string, std::string>;  // title, url

class SafariTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir();
    backup_ = new test::GeneratedBackup(test::MakeBackup(*dir_, "b", {"--profile", "small", "--seed", "5"}));
    truth_ = new JsonValue(test::ParseJson(test::ReadFile(backup_->TruthPath))["databases"]["safari"]);
    for (const test::TruthFile& file : test::ReadTruthFiles(backup_->TruthPath)) {
      const std::string path = backup_->Folder + "/" + file.StoredName;
      if (file.Path == "Library/Safari/Bookmarks.db") bookmarks_ = path;
      if (file.Path == "Library/Safari/History.db") history_ = path;
    }
  }
  static void TearDownTestSuite() {
    delete truth_;
    delete backup_;
    delete dir_;
  }

  static std::vector<BookmarkRecord> Read(const std::string& bookmarks, const std::string& history,
                                          int* result = nullptr, const std::string& historyWal = "") {
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

  static std::multimap<Entry, int> Tally(const JsonValue& list) {
    std::multimap<Entry, int> entries;
    for (const JsonValue& row : list.Items) entries.emplace(Entry{row.Text("title"), row.Text("url")}, 0);
    return entries;
  }

  static inline test::TempDir* dir_ = nullptr;
  static inline test::GeneratedBackup* backup_ = nullptr;
  static inline JsonValue* truth_ = nullptr;
  static inline std::string bookmarks_, history_;
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
  for (const JsonValue& row : (*truth_)["bookmarks"].Items) {
    want.emplace_back(row.Text("title"), row.Text("url"), kBookmarkEntry, row.Text("folder"), "");
  }
  for (const JsonValue& row : (*truth_)["visits"].Items) {
    want.emplace_back(row.Text("title"), row.Text("url"), kHistoryVisit, "",
                      MacTimeTextFromDouble(row["visit_time"].Number));
  }
  EXPECT_EQ(live, want);  // no folder as an entry, no orphan visit, nothing merged
  std::map<Entry, int> visits;
  for (const JsonValue& row : (*truth_)["visits"].Items) ++visits[{row.Text("title"), row.Text("url")}];
  bool repeated = false;
  for (const auto& [entry, count] : visits) repeated |= count > 1;
  EXPECT_TRUE(repeated) << "the generator should visit some page twice";
}

TEST_F(SafariTest, DeletedBookmarksRecallAndPrecision) {
  std::vector<BookmarkRecord> recovered;
  for (const BookmarkRecord& r : Read(bookmarks_, history_)) {
    if (r.Deleted && r.Kind == kBookmarkEntry) recovered.push_back(r);
  }
  const JsonValue& deleted = (*truth_)["deleted_bookmarks"];
  // A url longer than the page is carved up to its first overflow page: a prefix is a match.
  const auto matches = [](const BookmarkRecord& got, const JsonValue& want) {
    return got.Title == want.Text("title") && !got.Url.empty() && want.Text("url").starts_with(got.Url) &&
           got.Kind == kBookmarkEntry && got.Folder == want.Text("folder");
  };
  int intact = 0, found = 0, correct = 0;
  for (const JsonValue& want : deleted.Items) {
    if (!want["intact"].Bool) continue;
    ++intact;
    for (const BookmarkRecord& got : recovered) {
      if (matches(got, want)) {
        ++found;
        break;
      }
    }
  }
  for (const BookmarkRecord& got : recovered) {
    for (const JsonValue& want : deleted.Items) {
      if (matches(got, want)) {
        ++correct;
        break;
      }
    }
  }
  const double recall = intact ? static_cast<double>(found) / intact : 1.0;
  const double precision = recovered.empty() ? 1.0 : static_cast<double>(correct) / recovered.size();
  std::printf("[ figures  ] bookmarks: deleted %zu, intact %d, recovered %zu, recall %.3f, precision %.3f\n",
              deleted.Items.size(), intact, recovered.size(), recall, precision);
  EXPECT_GT(intact, 0);
  EXPECT_GE(recall, 0.9);
  EXPECT_GE(precision, 0.95);
  // Live bookmarks are never among the recovered ones.
  const auto live = Tally((*truth_)["bookmarks"]);
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
    int intact = 0, found = 0, correct = 0;
    for (const JsonValue& want : truth["deleted_visits"].Items) {
      if (!want["intact"].Bool) continue;
      ++intact;
      found += std::any_of(recovered.begin(), recovered.end(), [&](const BookmarkRecord& got) { return matches(got, want); });
    }
    for (const BookmarkRecord& got : recovered) {
      const auto& all = truth["deleted_visits"].Items;
      correct += std::any_of(all.begin(), all.end(), [&](const JsonValue& want) { return matches(got, want); });
    }
    const double recall = intact ? static_cast<double>(found) / intact : 1.0;
    const double precision = recovered.empty() ? 1.0 : static_cast<double>(correct) / recovered.size();
    std::printf("[ figures  ] visits %s: deleted %zu, intact %d, recovered %zu, recall %.3f, precision %.3f\n",
                backup.Backup.Folder.c_str(), truth["deleted_visits"].Items.size(), intact, recovered.size(), recall,
                precision);
    EXPECT_GT(intact, 0);
    EXPECT_GE(recall, 0.95);
    EXPECT_GE(precision, 0.98);
  }
}

TEST_F(SafariTest, MissingOrHostileFilesGiveAClearResult) {
  test::TempDir dir;
  // Without History.db the bookmarks still come; without Bookmarks.db nothing does.
  int result = -1;
  const auto withoutHistory = Read(bookmarks_, dir.Join("absent"), &result);
  EXPECT_EQ(result, 0);
  std::size_t visits = 0;
  for (const BookmarkRecord& r : Read(bookmarks_, history_)) visits += r.Kind == kHistoryVisit;
  EXPECT_GT(visits, (*truth_)["visits"].Items.size());  // the recovered ones too
  EXPECT_EQ(withoutHistory.size(), Read(bookmarks_, history_).size() - visits);
  EXPECT_TRUE(Read(dir.Join("absent"), history_, &result).empty());
  EXPECT_NE(result, 0);

  const std::string good = test::ReadFile(bookmarks_);
  const auto cases = test::DamagedCopies(good, 4096, 5);
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    const std::string path = dir.Join(name);
    test::WriteFile(path, bytes);
    int rc = 0;
    for (const BookmarkRecord& r : Read(path, history_, &rc)) EXPECT_FALSE(r.Url.empty());
    CBookmarkSqlite engine;
    ASSERT_EQ(engine.Load(path), 0);
    EXPECT_GE(engine.scan(), CSqliteDelete::kNotSearchable);
  }
}

TEST_F(SafariTest, ScanJsonCarriesEveryBookmarkField) {
  const test::CommandResult scan = test::RunSieve({"scan", backup_->Folder, "--json"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  // Title, address, deleted, kind, folder; and whether a visit time is there.
  using Line = std::tuple<std::string, std::string, int, std::string, std::string, bool>;
  std::vector<Line> json;
  for (const JsonValue& line : test::ParseJsonLines(scan.Out)) {
    if (line.Text("category") == InfoTypeName(INFO_BOOKMARK)) {
      json.emplace_back(line.Text("title"), line.Text("url"), line["deleted"].Bool ? 1 : 0, line.Text("kind"),
                        line.Text("folder"), !line["visit_date"].IsNull());
    }
  }
  std::vector<Line> want;
  for (const BookmarkRecord& r : Read(bookmarks_, history_)) {
    want.emplace_back(r.Title, r.Url, r.Deleted, r.Kind == kHistoryVisit ? "visit" : "bookmark", r.Folder,
                      !r.VisitDate.empty());
  }
  EXPECT_EQ(json, want);
}

}  // namespace
}  // namespace sieve
