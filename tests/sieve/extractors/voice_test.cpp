#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "sieve/extractors/recording_info.h"
#include "sieve/extractors/voicemail_info.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using test::TempDir;

std::string ExpectedUnixDate(std::int64_t unixSeconds) { return test::TestZoneDateText(unixSeconds); }

class VoiceBackup : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    backup_ = new test::GeneratedBackup(test::MakeBackup(*dir_, "b", {"--profile", "small", "--seed", "9"}));
    truth_ = new JsonValue(test::ParseJson(test::ReadFile(backup_->TruthPath))["databases"]["voice"]);
    for (const test::TruthFile& f : test::ReadTruthFiles(backup_->TruthPath)) {
      if (!f.StoredName.empty()) stored_.push_back(f);
    }
  }
  static void TearDownTestSuite() {
    delete truth_;
    delete backup_;
    delete dir_;
    stored_.clear();
  }

  static std::string StoredPath(const std::string& path) {
    for (const test::TruthFile& f : stored_) {
      if (f.Path == path) return backup_->Folder + "/" + f.StoredName;
    }
    return {};
  }

  // The memos as the scan reads them: the database and every recording file the index lists.
  static std::vector<VoiceMemoRecord> ReadMemos(const std::string& database) {
    CRecordingInfo info;
    DatabaseSource source;
    source.main.path = database;
    info.SetDatabase(RuleAction::MainDatabase, source);
    for (const test::TruthFile& f : stored_) {
      if (f.Path.find("Recordings") == std::string::npos || f.Path.find(".m4a") == std::string::npos) continue;
      FileRegistration file;
      file.devicePath = f.Path;
      file.domain = f.Domain;
      file.file.path = backup_->Folder + "/" + f.StoredName;
      info.Register(file);
    }
    EXPECT_EQ(info.read(""), 0);
    std::vector<VoiceMemoRecord> memos;
    for (std::size_t i = 0; i < info.RecordCount(INFO_VOICE_MEMO); ++i) {
      memos.push_back(*static_cast<VoiceMemoRecord*>(info.RecordAt(INFO_VOICE_MEMO, i)));
    }
    return memos;
  }

  static inline TempDir* dir_ = nullptr;
  static inline test::GeneratedBackup* backup_ = nullptr;
  static inline JsonValue* truth_ = nullptr;
  static inline std::vector<test::TruthFile> stored_;
};

// Every row of the recordings table, in order, with the file the backup holds for it; memos
// whose path names no file of the backup (or a path out of its folder) have none.
TEST_F(VoiceBackup, MemosMatchTheirRowsAndFiles) {
  const JsonValue& truth = (*truth_)["recordings"];
  const auto memos = ReadMemos(StoredPath(truth.Text("path")));
  ASSERT_EQ(memos.size(), truth["live"].Items.size());
  int withFile = 0, withoutLabel = 0;
  for (std::size_t i = 0; i < memos.size(); ++i) {
    const JsonValue& want = truth["live"].Items[i];
    SCOPED_TRACE(want.Text("path"));
    EXPECT_EQ(memos[i].FileName, want.Text("path"));
    EXPECT_EQ(memos[i].CustomLabel, want.Text("label"));
    EXPECT_EQ(memos[i].Duration, std::to_string(static_cast<std::int64_t>(want["duration"].Number)));
    EXPECT_EQ(memos[i].Date, ExpectedUnixDate(static_cast<std::int64_t>(want["date"].Number) + 978307200));
    const std::string file = want["file"].IsNull() ? "" : StoredPath(want.Text("file"));
    EXPECT_EQ(memos[i].OrgPath, file);
    EXPECT_FALSE(memos[i].FileKey.has_value());
    withFile += !file.empty();
    withoutLabel += memos[i].CustomLabel.empty();
  }
  EXPECT_GT(withFile, 0);
  EXPECT_LT(withFile, static_cast<int>(memos.size()));
  EXPECT_GT(withoutLabel, 0);
}

TEST(RecordingFileName, NamesOnlyTheLastComponent) {
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/20160101 120000.m4a"), "20160101 120000.m4a");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/../../../../etc/passwd"), "passwd");
  EXPECT_EQ(RecordingFileName("..\\..\\evil.m4a"), "evil.m4a");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/"), "");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/.."), "");
  EXPECT_EQ(RecordingFileName("no-separator.m4a"), "");
  const std::string name = RecordingFileName(std::string("/a/b\0c:d*e?.m4a", 15));
  EXPECT_EQ(name.find_first_of(std::string("\0/\\:*?<>|\"", 10)), std::string::npos) << name;
  EXPECT_NE(name.find(".m4a"), std::string::npos);
}

// Voicemail counts seconds since 1970; a message never trashed has the empty date.
TEST_F(VoiceBackup, VoicemailDatesCountFrom1970) {
  const JsonValue& truth = (*truth_)["voicemail"];
  CVoiceMailInfo info;
  DatabaseSource source;
  source.main.path = StoredPath(truth.Text("path"));
  info.SetDatabase(RuleAction::MainDatabase, source);
  ASSERT_EQ(info.read(""), 0);
  const auto& mails = info.Records();
  ASSERT_EQ(mails.size(), truth["live"].Items.size());
  int trashed = 0;
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const JsonValue& want = truth["live"].Items[i];
    EXPECT_EQ(mails[i]->FileName, std::to_string(want.Int("rowid")) + ".amr");
    EXPECT_EQ(mails[i]->Date, ExpectedUnixDate(want.Int("date")));
    EXPECT_EQ(mails[i]->Sender, want.Text("sender"));
    EXPECT_EQ(mails[i]->Duration, want.Int("duration"));
    const std::int64_t trash = want.Int("trashed_date");
    EXPECT_EQ(mails[i]->TrashDate, trash == 0 ? "" : ExpectedUnixDate(trash));
    trashed += trash != 0;
  }
  EXPECT_GT(trashed, 0);
  // The scan reads voicemail but no record kind carries it.
  EXPECT_EQ(info.RecordCount(INFO_VOICE_MEMO), 0u);
}

TEST_F(VoiceBackup, HostileDatabasesGiveAClearResult) {
  TempDir dir;
  CRecordingInfo memos;
  DatabaseSource source;
  source.main.path = dir.Join("absent");
  memos.SetDatabase(RuleAction::MainDatabase, source);
  EXPECT_NE(memos.read(""), 0);
  EXPECT_EQ(memos.RecordCount(INFO_VOICE_MEMO), 0u);
  const std::string good = test::ReadFile(StoredPath((*truth_)["recordings"].Text("path")));
  for (const std::string& bytes : {std::string(), good.substr(0, good.size() / 2), std::string(good.size(), 'x')}) {
    test::WriteFile(dir.Join("bad.db"), bytes);
    CRecordingInfo info;
    source.main.path = dir.Join("bad.db");
    info.SetDatabase(RuleAction::MainDatabase, source);
    const int rc = info.read("");
    for (std::size_t i = 0; i < info.RecordCount(INFO_VOICE_MEMO); ++i) {
      EXPECT_NE(info.RecordAt(INFO_VOICE_MEMO, i), nullptr);
    }
    EXPECT_TRUE(rc != 0 || info.RecordCount(INFO_VOICE_MEMO) == 0) << bytes.size();
  }
}

TEST_F(VoiceBackup, ScanJsonCarriesEveryMemoField) {
  const test::CommandResult scan = test::RunSieve({"scan", backup_->Folder, "--json"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  std::vector<std::vector<std::string>> json, want;
  for (const JsonValue& line : test::ParseJsonLines(scan.Out)) {
    if (line.Text("category") != "voice-memos") continue;
    ASSERT_NE(line.Find("has_key"), nullptr);
    json.push_back({line.Text("date"), std::to_string(line.Int("duration_seconds", -1)), line.Text("file_name"),
                    line.Text("custom_label"), line.Text("stored_path"), line["has_key"].Bool ? "key" : ""});
  }
  for (const VoiceMemoRecord& r : ReadMemos(StoredPath((*truth_)["recordings"].Text("path")))) {
    // The JSON's dates are ISO 8601 with the offset of the zone the tests run in.
    const std::string date = r.Date.empty() ? "" : r.Date.substr(0, 10) + "T" + r.Date.substr(11) + "+08:00";
    want.push_back({date, r.Duration, r.FileName, r.CustomLabel, r.OrgPath, r.FileKey ? "key" : ""});
  }
  EXPECT_FALSE(want.empty());
  EXPECT_EQ(json, want);
}

}  // namespace
}  // namespace sieve
