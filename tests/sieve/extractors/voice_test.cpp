#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sieve/extractors/recording_info.h"
#include "sieve/extractors/voicemail_info.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/reader/time_text.h"
#include "extractor_test.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;

void CollectMemo(void* record, _InfoType type, void* user) {
  if (type == INFO_VOICE_MEMO) static_cast<std::vector<VoiceMemoRecord>*>(user)->push_back(*static_cast<VoiceMemoRecord*>(record));
}

// The memos of a whole scan through the reader, so the index walk hands over both stores,
// their logs and the recordings. (An encrypted backup gives the same memos and recording
// bytes: tools' SieveRoundTrip and SieveJson.FilePathsAreCopiesThatOutliveTheScan.)
std::vector<VoiceMemoRecord> ScanMemos(const std::string& folder) {
  CItunesBackupReader reader;
  std::vector<VoiceMemoRecord> memos;
  const int index = reader.ReadItunesbackFromPath(folder.c_str());
  if (index < 0) return memos;
  reader.SetCallBack(&CollectMemo, &memos);
  reader.ReadBackup(index);
  return memos;
}

// Each store layout in each backup index layout: Recordings.db before system 13,
// CloudRecordings.db in the media folder with 13 and in the group container from 14 on.
struct MemoLayout {
  const char* version;
  std::vector<std::string> options;
  const char* store;
};
const MemoLayout kMemoLayouts[] = {
    {"9.3.2", {}, "Media/Recordings/Recordings.db"},
    {"10.3.3", {"--manifest-db"}, "Media/Recordings/Recordings.db"},
    {"13.7", {}, "Media/Recordings/CloudRecordings.db"},
    {"13.7", {"--manifest-db", "--wal-history"}, "Media/Recordings/CloudRecordings.db"},
    {"16.7", {"--manifest-db"}, "Recordings/CloudRecordings.db"},
    {"16.7", {"--wal-history"}, "Recordings/CloudRecordings.db"},
    {"18.2", {"--manifest-db", "--wal-history"}, "Recordings/CloudRecordings.db"},
};

// Live memos, in row order, exactly as the store holds them and with the file the backup has
// for them ("Recently Deleted" ones marked deleted); then the memos carved out of the store
// and its log, scored against the rows the generator deleted.
TEST(VoiceMemoLayouts, LiveExactlyAndDeletedByRecallAndPrecision) {
  test::Recovery score;
  std::size_t recentlyDeleted = 0, deletedWithFile = 0;
  for (const MemoLayout& layout : kMemoLayouts) {
    const test::LayoutBackup& b = test::SmallBackup(layout.version, "9", layout.options);
    SCOPED_TRACE(b.Backup.Folder);
    const JsonValue& truth = b.Database("voice")["recordings"];
    ASSERT_EQ(truth.Text("path"), layout.store);
    const auto memos = ScanMemos(b.Backup.Folder);
    const auto& live = truth["live"].Items;
    ASSERT_GE(memos.size(), live.size());
    for (std::size_t i = 0; i < live.size(); ++i) {
      const JsonValue& want = live[i];
      SCOPED_TRACE(want.Text("path"));
      const bool recent = want.Find("recently_deleted") != nullptr && want["recently_deleted"].Bool;
      EXPECT_EQ(memos[i].Deleted, recent ? 1 : 0);
      EXPECT_EQ(memos[i].FileName, want.Text("path"));
      EXPECT_EQ(memos[i].CustomLabel, want.Text("label"));
      EXPECT_EQ(memos[i].Duration, std::to_string(static_cast<std::int64_t>(want["duration"].Number)));
      EXPECT_EQ(memos[i].Date, test::TestZoneDateText(static_cast<std::int64_t>(want["date"].Number) + 978307200));
      EXPECT_EQ(memos[i].OrgPath, want["file"].IsNull() ? "" : b.Stored(want.Text("file")));
      recentlyDeleted += recent;
    }
    std::map<std::string, const JsonValue*> deleted;  // path|date
    for (const JsonValue& d : truth["deleted"].Items) {
      deleted[d.Text("path") + "|" + MacTimeTextFromDouble(d["date"].Number)] = &d;
      score.intact += d["intact"].Bool;
    }
    for (std::size_t i = live.size(); i < memos.size(); ++i) {
      ++score.reported;
      EXPECT_EQ(memos[i].Deleted, 1);
      const auto hit = deleted.find(memos[i].FileName + "|" + memos[i].Date);
      if (hit == deleted.end()) {
        ADD_FAILURE() << "not a deleted memo: " << memos[i].FileName << " " << memos[i].Date;
        continue;
      }
      ++score.correct;
      score.found += (*hit->second)["intact"].Bool;
      EXPECT_EQ(memos[i].CustomLabel, hit->second->Text("label"));
      const JsonValue& file = (*hit->second)["file"];
      EXPECT_EQ(memos[i].OrgPath, file.IsNull() ? "" : b.Stored(file.String));
      deletedWithFile += !memos[i].OrgPath.empty();
    }
  }
  score.Expect("voice memos", 0.95, 0.98);
  EXPECT_GT(recentlyDeleted, 0u);
  EXPECT_GT(deletedWithFile, 0u);  // a deleted memo whose recording the device had not removed yet
}

TEST(RecordingFileName, NamesOnlyTheLastComponent) {
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/20160101 120000.m4a"), "20160101 120000.m4a");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/../../../../etc/passwd"), "passwd");
  EXPECT_EQ(RecordingFileName("..\\..\\evil.m4a"), "evil.m4a");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/"), "");
  EXPECT_EQ(RecordingFileName("/var/mobile/Media/Recordings/.."), "");
  EXPECT_EQ(RecordingFileName("no-separator.m4a"), "");
  // The newer store names recordings relative to its folder.
  EXPECT_EQ(RecordingFileName("20240101 101010-AB12.m4a", true), "20240101 101010-AB12.m4a");
  EXPECT_EQ(RecordingFileName("..", true), "");
  EXPECT_EQ(RecordingFileName("", true), "");
  const std::string name = RecordingFileName(std::string("/a/b\0c:d*e?.m4a", 15));
  EXPECT_EQ(name.find_first_of(std::string("\0/\\:*?<>|\"", 10)), std::string::npos) << name;
  EXPECT_NE(name.find(".m4a"), std::string::npos);
}

// Voicemail counts seconds since 1970; a message never trashed has the empty date.
TEST(Voicemail, DatesCountFrom1970) {
  const test::LayoutBackup& b = test::SmallBackup("9.3.2", "9");
  const JsonValue& truth = b.Database("voice")["voicemail"];
  CVoiceMailInfo info;
  DatabaseSource source;
  source.main.path = b.Stored(truth.Text("path"));
  info.SetDatabase(RuleAction::MainDatabase, source);
  ASSERT_EQ(info.read(""), 0);
  const auto& mails = info.Records();
  ASSERT_EQ(mails.size(), truth["live"].Items.size());
  int trashed = 0;
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const JsonValue& want = truth["live"].Items[i];
    EXPECT_EQ(mails[i]->FileName, std::to_string(want.Int("rowid")) + ".amr");
    EXPECT_EQ(mails[i]->Date, test::TestZoneDateText(want.Int("date")));
    EXPECT_EQ(mails[i]->Sender, want.Text("sender"));
    EXPECT_EQ(mails[i]->Duration, want.Int("duration"));
    const std::int64_t trash = want.Int("trashed_date");
    EXPECT_EQ(mails[i]->TrashDate, trash == 0 ? "" : test::TestZoneDateText(trash));
    trashed += trash != 0;
  }
  EXPECT_GT(trashed, 0);
  // The scan reads voicemail but no record kind carries it.
  EXPECT_EQ(info.RecordCount(INFO_VOICE_MEMO), 0u);
}

}  // namespace
}  // namespace sieve
