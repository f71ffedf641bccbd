#include "sieve/backup/category_rules.h"
#include "sieve/reader/category_table.h"

#include <gtest/gtest.h>

#include <string>

namespace sieve {
namespace {

const char* ActionName(RuleAction action) {
  switch (action) {
    case RuleAction::MainDatabase: return "main";
    case RuleAction::SecondDatabase: return "second";
    case RuleAction::File: return "file";
    case RuleAction::Thumbnail: return "thumb";
  }
  return "?";
}

// Every match of one entry as "slot action group|name", joined by ", ", in order.
std::string Matches(const std::string& domain, const std::string& path, bool exists = true, std::uint16_t mode = 0x81A4) {
  CManifestRecord entry;
  entry.Domain = domain;
  entry.Path = path;
  entry.Mode = mode;
  std::vector<RuleMatch> out;
  MatchCategoryRules(entry, exists, out);
  std::string texts;
  for (const RuleMatch& m : out) {
    texts += std::string(texts.empty() ? "" : ", ") + SlotName(m.slot) + " " + ActionName(m.action) + " " + m.group +
             "|" + m.name;
  }
  return texts;
}

constexpr char kCamera[] = "CameraRollDomain", kMedia[] = "MediaDomain", kHome[] = "HomeDomain";
constexpr char kMemos[] = "AppDomainGroup-group.com.apple.VoiceMemos.shared";
constexpr char kReminders[] = "AppDomainGroup-group.com.apple.reminders";
constexpr char kWhatsApp[] = "AppDomain-net.whatsapp.WhatsApp", kReader[] = "AppDomain-com.example.Reader";

TEST(CategoryRules, EveryRuleOnItsEntriesAndNeighbours) {
  const struct {
    const char* domain;
    const char* path;
    const char* matches;
  } cases[] = {
      {kCamera, "Media/DCIM/100APPLE/IMG_0001.JPG", "camera-roll file Camera Roll|IMG_0001.JPG"},
      // The name is everything after the 20-character folder prefix; nothing after it, no file.
      {kCamera, "Media/DCIM/101APPLE/sub/IMG_2.MOV", "camera-roll file Camera Roll|sub/IMG_2.MOV"},
      {kCamera, "Media/DCIM/100APPLE/", ""},
      {kCamera, "Media/DCIM/100APPLE/X", "camera-roll file Camera Roll|X"},
      {kCamera, "Media/DCIM/100CANON/IMG_1.JPG", ""},
      // Thumbnails: a picture under .THUMB or Thumbnails, without the 100APPLE___ prefix.
      {kCamera, "Media/DCIM/.THUMB/x.jpg", "camera-roll thumb Camera Roll|x.jpg"},
      {kCamera, "Media/PhotoData/Thumbnails/100APPLE___IMG_7.JPG", "camera-roll thumb Camera Roll|IMG_7.JPG"},
      {kCamera, "Media/DCIM/.THUMB/x.ithmb", ""},
      {kCamera, "Media/DCIM/.THUMB/noext", ""},
      // Since iOS 13 a thumbnail is named by the folder of its picture or video; the library beside.
      {kCamera, "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_3.MOV/5005.JPG", "camera-roll thumb Camera Roll|IMG_3.MOV"},
      {kCamera, "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/5005.JPG", "camera-roll thumb Camera Roll|5005.JPG"},
      {kCamera, "Media/DCIM/100APPLE/IMG_4.HEIC", "camera-roll file Camera Roll|IMG_4.HEIC"},
      {kCamera, "Media/PhotoData/Photos.sqlite", "camera-roll main |Photos.sqlite"},
      {kMedia, "Media/PhotoStreamsData/123/100APPLE/IMG_9.JPG", "photo-stream file PhotoStream|IMG_9.JPG"},
      {kMedia, "Media/PhotoStreamsData/123/a.mov", ""},
      {kMedia, "Media/iTunes_Control/Music/F01/ABCD.mp3", "music file Music|ABCD.mp3"},
      {kMedia, "Media/iTunes_Control/Music/F01/ABCD.M4A", "music file Music|ABCD.M4A"},
      {kMedia, "Media/Downloads/song.mp3", ""},
      {kMedia, "Media/Recordings/memo 1.m4a", "voice-memos file |memo 1.m4a"},
      {kHome, "Library/SMS/sms.db", "messages main |sms.db"},
      {kMedia, "Library/SMS/sms.db", ""},
      {kHome, "Library/SMS/sms.db-wal", ""},
      {"AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite", "notes second |NoteStore.sqlite"},
      {kHome, "NoteStore.sqlite", ""},
      {kHome, "Library/Notes/notes.sqlite", "notes main |notes.sqlite"},
      {kHome, "Library/Safari/History.db", "safari second |History.db"},
      {kHome, "Library/Safari/Bookmarks.db", "safari main |Bookmarks.db"},
      {kHome, "Library/Voicemail/voicemail.db", "voicemail main |voicemail.db"},
      {"WirelessDomain", "Library/CallHistoryDB/CallHistory.storedata", "call-history second |CallHistory.storedata"},
      {"WirelessDomain", "Library/CallHistory/call_history.db", "call-history main |call_history.db"},
      {kHome, "Library/AddressBook/AddressBook.sqlite", "contacts main |AddressBook.sqlite"},
      {kHome, "Library/AddressBook/AddressBook.sqlitedb", "contacts main |AddressBook.sqlitedb"},
      {kMedia, "Media/Recordings/Recordings.db", "voice-memos main |Recordings.db"},
      // The newer memo store in its two homes; its recordings beside it are the memos' files.
      {kMedia, "Media/Recordings/CloudRecordings.db", "voice-memos second |CloudRecordings.db"},
      {kMemos, "Recordings/CloudRecordings.db", "voice-memos second |CloudRecordings.db"},
      {kMemos, "Recordings/CloudRecordings.db-wal", ""},
      {kHome, "Recordings/CloudRecordings.db", ""},
      {kMemos, "Recordings/20240101 101010-AB12.m4a", "voice-memos file |20240101 101010-AB12.m4a"},
      {kHome, "Library/AddressBook/AddressBookImages.sqlitedb", "contacts second |AddressBookImages.sqlitedb"},
      {kHome, "Library/AddressBook/AddressBookImages.sqlite", "contacts second |AddressBookImages.sqlite"},
      // One database, two extractors.
      {kHome, "Library/Calendar/Calendar.sqlitedb", "calendar main |Calendar.sqlitedb, reminders main |Calendar.sqlitedb"},
      // Every store of the Reminders app, in its own domain only; not its companions.
      {kReminders, "Container_v1/Stores/Data-local.sqlite", "reminders second |Data-local.sqlite"},
      {kReminders, "Container_v1/Stores/Data-1F2E.sqlite", "reminders second |Data-1F2E.sqlite"},
      {kReminders, "Container_v1/Stores/Data-1F2E.sqlite-wal", ""},
      {kHome, "Container_v1/Stores/Data-1F2E.sqlite", ""},
      // Comparisons are exact: case matters for the fixed paths.
      {kHome, "library/sms/sms.db", ""},
      {kMedia, "Library/SMS/Parts/3f/12/1234-1.jpg", "messages file |1234-1.jpg"},
      {kMedia, "Library/SMS/Parts/3f/12/1234-1-preview.jpg", ""},
      {kMedia, "Library/SMS/Attachments/ab/01/IMG_1.MOV", "messages file |IMG_1.MOV"},
      {kMedia, "Library/SMS/Attachments/ab/01/x-preview-right.jpg", "messages file |x-preview-right.jpg"},
      // Camera-roll thumbnails are not WhatsApp's.
      {kCamera, "Media/DCIM/.THUMB/y.jpg", "camera-roll thumb Camera Roll|y.jpg"},
      {kReader, "Documents/a.PDF", "app-documents file Reader|a.PDF"},
      {kReader, "Documents/clip.Mp4", "app-videos file Reader|clip.Mp4"},
      {kReader, "Library/Caches/p.png", "app-pictures file Reader|p.png"},
      // The stored file must exist, the path needs a folder, the domain a "." and a known extension.
      {kReader, "a.pdf", ""},
      {"AppDomain-Reader", "Documents/a.pdf", ""},
      {kReader, "Documents/a.pages", ""},
      {kReader, "Documents/x.pdf/inner", ""},
      {kHome, "Documents/a.pdf", ""},
      // App files still reach the other groups: an app's music is music too.
      {"AppDomain-com.example.Player", "Documents/Music/song.mp3", "music file Music|song.mp3"},
  };
  for (const auto& c : cases) EXPECT_EQ(Matches(c.domain, c.path), c.matches) << c.domain << " " << c.path;
}

// Folders never match; WhatsApp's database and files are its whether the stored file exists
// or not; an application's files only when it does.
TEST(CategoryRules, FoldersAndMissingStoredFiles) {
  const struct {
    const char* domain;
    const char* path;
    bool exists;
    std::uint16_t mode;
    const char* matches;
  } cases[] = {
      {kCamera, "Media/DCIM/100APPLE", true, 0x41ED, ""},
      {kCamera, "Media/DCIM/100APPLE/IMG_0001.JPG", true, 0x41ED, ""},
      {kHome, "Library/SMS/sms.db", true, 0x41ED, ""},
      {kWhatsApp, "Documents/ChatStorage.sqlite", false, 0x81A4, "whatsapp main |ChatStorage.sqlite"},
      {kWhatsApp, "Documents/chatstorage.SQLITE", false, 0x81A4, "whatsapp main |chatstorage.SQLITE"},
      // Its write-ahead log travels with the database and must not replace it.
      {kWhatsApp, "Documents/ChatStorage.sqlite-wal", false, 0x81A4, ""},
      {kWhatsApp, "Library/Media/491701234@s.whatsapp.net/a/b/c.mp4", false, 0x81A4, "whatsapp file |c.mp4"},
      {kWhatsApp, "Library/Media/491701234@s.whatsapp.net/a/b/c.thumb", false, 0x81A4,
       "whatsapp file |c.thumb, whatsapp thumb |c.thumb"},
      {kWhatsApp, "Library/Media/other/c.jpg", false, 0x81A4, ""},
      {kReader, "Documents/a.PDF", false, 0x81A4, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Matches(c.domain, c.path, c.exists, c.mode), c.matches) << c.domain << " " << c.path;
  }
}

}  // namespace
}  // namespace sieve
