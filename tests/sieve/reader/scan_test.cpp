#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "sieve/itunes_backup_reader.h"
#include "sieve/reader/category_table.h"
#include "sieve/scan_polling.h"
#include "sieve/record_visit.h"
#include "sieve/records.h"
#include "support/test_support.h"

namespace sieve {
namespace {
namespace fs = std::filesystem;
using test::MakeBackup;
using test::TempDir;

// What a scan delivered, copied as the program copies it.
struct Collected {
  CItunesBackupReader* reader = nullptr;
  std::vector<MediaFile> mediaFiles;
  std::vector<float> progress;
  // Stored file name -> the modification time a record gave it, per record kind.
  std::map<int, std::map<std::string, std::int64_t>> times;
  int count = 0;
};

void Collect(void* record, _InfoType type, void* user) {
  auto* c = static_cast<Collected*>(user);
  ++c->count;
  const auto time = [&](const std::string& path, std::int64_t seconds) {
    if (!path.empty()) c->times[type][fs::path(path).filename().string()] = seconds;
  };
  VisitRecord(record, type, [&](auto, const auto& r) {
    using R = std::decay_t<decltype(r)>;
    if constexpr (std::is_same_v<R, MediaFile>) time(r.FilePath, r.ModifiedTime);
    if constexpr (std::is_same_v<R, MediaGroup>) {
      for (const MediaFile& f : r.Files) time(f.FilePath, f.ModifiedTime);
    }
    if constexpr (std::is_same_v<R, VoiceMemoRecord>) time(r.OrgPath, r.ModifiedTime);
    if constexpr (std::is_same_v<R, SmsAttachment>) time(r.BackupFile, r.ModifiedTime);
    if constexpr (std::is_same_v<R, WaAttachment>) time(r.FilePath, r.ModifiedTime);
  });
  c->progress.push_back(c->reader->GetPrg(0));
  if (type == INFO_CAMERA_ROLL || type == INFO_PHOTO_STREAM) {
    c->mediaFiles.push_back(*static_cast<MediaFile*>(record));
  } else if (type == INFO_APP_DOCUMENT || type == INFO_APP_PICTURE || type == INFO_APP_VIDEO ||
             type == INFO_MUSIC) {
    for (const MediaFile& file : static_cast<MediaGroup*>(record)->Files) c->mediaFiles.push_back(file);
  }
}

std::map<std::string, std::string> ShaByStoredName(const std::string& truthPath) {
  std::map<std::string, std::string> sha;
  for (const test::TruthFile& f : test::ReadTruthFiles(truthPath)) sha[f.StoredName] = f.Sha256;
  return sha;
}

Collected Scan(CItunesBackupReader& reader, int& result) {
  Collected c;
  c.reader = &reader;
  reader.SetCallBack(Collect, &c);
  result = reader.ReadBackup(0);
  return c;
}

// Which media files a scan lists, plain and encrypted, is tools' SieveRoundTrip's to check
// against the generator's truth; here the reader's state around a scan and the files' keys.
TEST(Scan, PlainAndEncryptedScansGiveProgressTimesAndKeys) {
  TempDir dir;
  const std::string password = "correct horse ✓";
  const auto plain = MakeBackup(dir, "plain", {"--seed", "5"});
  const auto encrypted = MakeBackup(dir, "enc", {"--seed", "5", "--encrypted", "--password-file",
                                                 test::WritePasswordFile(dir, password)});

  CItunesBackupReader plainReader;
  ASSERT_EQ(plainReader.ReadItunesbackFromPath(plain.Folder.c_str()), 0);
  int result = -9;
  Collected fromPlain = Scan(plainReader, result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(plainReader.GetPrg(0), 100.0f);
  for (std::size_t i = 1; i < fromPlain.progress.size(); ++i) {
    EXPECT_LE(fromPlain.progress[i - 1], fromPlain.progress[i]);
  }
  for (const MediaFile& file : fromPlain.mediaFiles) EXPECT_FALSE(file.FileKey.has_value());
  // Media and recordings keep the modification time the index gives their stored file.
  std::map<std::string, std::int64_t> indexTime;
  for (const test::TruthFile& f : test::ReadTruthFiles(plain.TruthPath)) indexTime[f.StoredName] = f.ModifiedTime;
  for (const int type : {INFO_CAMERA_ROLL, INFO_APP_PICTURE, INFO_VOICE_MEMO, INFO_SMS_ATTACHMENT,
                         INFO_WHATSAPP_ATTACHMENT}) {
    const auto& times = fromPlain.times[type];
    EXPECT_FALSE(times.empty()) << InfoTypeName(type);
    for (const auto& [stored, seconds] : times) {
      // A file the scan made itself (a shared contact card) has no index entry.
      const auto truth = indexTime.find(stored);
      EXPECT_EQ(seconds, truth == indexTime.end() ? 0 : truth->second) << InfoTypeName(type) << " " << stored;
    }
  }

  CItunesBackupReader reader;
  ASSERT_EQ(reader.ReadItunesbackFromPath(encrypted.Folder.c_str()), 0);
  ASSERT_EQ(reader.GetIsEncrypt(0), 1);
  reader.SetPassword(0, "wrong");
  EXPECT_EQ(reader.CheckPassword(0), -1);
  Collected wrong = Scan(reader, result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(wrong.count, 0);
  EXPECT_EQ(reader.GetPrg(0), 0.0f);
  EXPECT_EQ(reader.LastError(0), ReaderError::WrongPassword);

  reader.SetPassword(0, password);
  EXPECT_EQ(reader.CheckPassword(0), 1);
  const Collected fromEncrypted = Scan(reader, result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fromEncrypted.mediaFiles.size(), fromPlain.mediaFiles.size());

  // Every delivered file decrypts, with its own key, to the original bytes.
  const auto sha = ShaByStoredName(encrypted.TruthPath);
  int decrypted = 0;
  for (const MediaFile& file : fromEncrypted.mediaFiles) {
    ASSERT_TRUE(file.FileKey.has_value()) << file.FileName;
    const std::string out = dir.Join("out-" + std::to_string(decrypted++));
    ASSERT_EQ(reader.DecrpytFile(0, file.FilePath.c_str(), out.c_str(), file.FileKey->data()), 1);
    EXPECT_EQ(test::Sha256Hex(test::ReadFile(out)), sha.at(fs::path(file.FilePath).filename().string()))
        << file.FileName;
  }
  EXPECT_GT(decrypted, 5);
  EXPECT_EQ(reader.DecrpytFile(0, dir.Join("missing").c_str(), dir.Join("x").c_str(),
                               fromEncrypted.mediaFiles[0].FileKey->data()),
            0);
  EXPECT_FALSE(fs::exists(dir.Join("x")));
}

// A pause asked from inside the first delivery (as a user's click arrives mid-scan) holds the
// scan; a stop asked while paused, forwarded by the polling loop, ends it at the next wake-up.
// The next scan clears both and runs to the end, its last progress report after it.
TEST(Scan, APausedScanHoldsUntilStoppedAndTheNextRunsToTheEnd) {
  TempDir dir;
  const auto backup = MakeBackup(dir, "b", {"--profile", "small"});
  CItunesBackupReader reader;
  ASSERT_EQ(reader.ReadItunesbackFromPath(backup.Folder.c_str()), 0);
  EXPECT_EQ(reader.ReadBackup(0), 0);  // no callback: runs, delivers nothing
  EXPECT_EQ(reader.GetPrg(0), 100.0f);

  using Clock = std::chrono::steady_clock;
  struct Pauser {
    CItunesBackupReader* reader;
    std::atomic<int> calls{0};
    std::atomic<Clock::rep> pausedAt{0};
  } pauser{&reader};
  reader.SetCallBack(
      [](void*, _InfoType, void* user) {
        auto* p = static_cast<Pauser*>(user);
        if (p->calls.load() == 0) {
          p->pausedAt = Clock::now().time_since_epoch().count();
          p->reader->SetPause(0, 1);
        }
        ++p->calls;
      },
      &pauser);
  const auto sincePause = [&] { return Clock::now() - Clock::time_point(Clock::duration(pauser.pausedAt.load())); };
  ScanPolling polling;
  polling.every = std::chrono::milliseconds(5);
  std::vector<float> seen;
  polling.progress = [&](float percent) { seen.push_back(percent); };
  polling.stopRequested = [&] { return pauser.calls.load() > 0 && sincePause() > std::chrono::milliseconds(350); };
  EXPECT_EQ(ScanWithPolling(reader, 0, polling), 1);
  EXPECT_EQ(pauser.calls.load(), 1);  // nothing delivered while paused, nor after the stop
  EXPECT_LT(sincePause(), std::chrono::seconds(2));
  EXPECT_EQ(reader.LastError(0), ReaderError::Stopped);
  ASSERT_FALSE(seen.empty());
  EXPECT_LT(seen.back(), 100.0f);

  polling.stopRequested = {};
  seen.clear();
  EXPECT_EQ(ScanWithPolling(reader, 0, polling), 0);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), 100.0f);
  EXPECT_GT(pauser.calls.load(), 1);

  // A backup whose index is missing or foreign.
  fs::rename(fs::path(backup.Folder) / "Manifest.mbdb", fs::path(backup.Folder) / "moved");
  EXPECT_EQ(reader.ReadBackup(0), 0);
  EXPECT_EQ(reader.LastError(0), ReaderError::MissingIndex);
  test::WriteFile(backup.Folder + "/Manifest.mbdb", "mbdx\x05");
  EXPECT_EQ(reader.ReadBackup(0), 0);
  EXPECT_EQ(reader.LastError(0), ReaderError::BadIndex);
}

TEST(Scan, ACallbackReachesBackupsAddedAfterIt) {
  TempDir listed, single;
  MakeBackup(listed, "a", {"--profile", "small", "--seed", "1"});
  const auto added = MakeBackup(single, "b", {"--profile", "small", "--seed", "2"});
  CItunesBackupReader reader;
  std::atomic<int> count{0};
  reader.SetCallBack([](void*, _InfoType, void* user) { ++*static_cast<std::atomic<int>*>(user); }, &count);
  ASSERT_EQ(reader.GetItunesBackList(listed.Path().c_str()), 1);
  ASSERT_GE(reader.ReadItunesbackFromPath(added.Folder.c_str()), 0);
  ASSERT_EQ(reader.GetBackuplistCount(), 2);
  for (const int index : {0, 1}) {
    count = 0;
    EXPECT_EQ(reader.ReadBackup(index), 0);
    EXPECT_GT(count.load(), 0) << index;
  }
}

// The names differ on purpose between a file-index category and its record kind.
TEST(CategoryTable, NamesAndStepEnds) {
  struct Case {
    int type;
    const char* name;
    float end;
  };
  for (const Case& c : {Case{INFO_CONTACT, "contacts", 35}, Case{INFO_CALL, "calls", 44},
                        Case{INFO_SMS_ATTACHMENT, "message-attachments", 76}, Case{INFO_SMS, "messages", 76},
                        Case{INFO_BOOKMARK, "safari", 92}, Case{INFO_WHATSAPP_ATTACHMENT, "whatsapp-attachments", 100},
                        Case{-1, "unknown", 100}, Case{kInfoTypeCount, "unknown", 100}}) {
    EXPECT_STREQ(InfoTypeName(c.type), c.name) << c.type;
    EXPECT_EQ(InfoTypeScanEnd(c.type), c.end) << c.type;
  }
  EXPECT_STREQ(SlotName(ExtractorSlot::CallHistory), "call-history");
  EXPECT_STREQ(SlotName(ExtractorSlot::Voicemail), "voicemail");
}

}  // namespace
}  // namespace sieve
