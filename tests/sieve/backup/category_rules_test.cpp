#include "sieve/backup/category_rules.h"
#include "sieve/reader/category_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sieve {
namespace {

const char* ActionName(RuleAction action) {
  switch (action) {
    case RuleAction::MainDatabase:
      return "main";
    case RuleAction::SecondDatabase:
      return "second";
    case RuleAction::File:
      return "file";
    case RuleAction::Thumbnail:
      return "thumb";
  }
  return "?";
}

// Every match of one entry as "slot action group|name", in order.
std::vector<std::string> Matches(const std::string& domain, const std::string& path, bool exists = true,
                                 std::uint16_t mode = 0x81A4) {
  CManifestRecord entry;
  entry.Domain = domain;
  entry.Path = path;
  entry.Mode = mode;
  std::vector<RuleMatch> out;
  MatchCategoryRules(entry, exists, out);
  std::vector<std::string> texts;
  for (const RuleMatch& m : out) {
    texts.push_back(std::string(SlotName(m.slot)) + " " + ActionName(m.action) + " " + m.group + "|" + m.name);
  }
  return texts;
}

using Texts = std::vector<std::string>;

TEST(CategoryRules, CameraRollPhotoStreamAndMusic) {
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG"),
            Texts{"camera-roll file Camera Roll|IMG_0001.JPG"});
  // The name is everything after the 20-character folder prefix; nothing after it, no file.
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/101APPLE/sub/IMG_2.MOV"),
            Texts{"camera-roll file Camera Roll|sub/IMG_2.MOV"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE/"), Texts{});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE/X"), Texts{"camera-roll file Camera Roll|X"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100CANON/IMG_1.JPG"), Texts{});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE", true, 0x41ED), Texts{});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", true, 0x41ED), Texts{});

  // Thumbnails: a picture under .THUMB or Thumbnails, without the 100APPLE___ prefix.
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/.THUMB/x.jpg"), Texts{"camera-roll thumb Camera Roll|x.jpg"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/PhotoData/Thumbnails/100APPLE___IMG_7.JPG"),
            Texts{"camera-roll thumb Camera Roll|IMG_7.JPG"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/.THUMB/x.ithmb"), Texts{});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/.THUMB/noext"), Texts{});
  // Since iOS 13 a thumbnail is named by the folder of its picture or video; the library beside.
  EXPECT_EQ(Matches("CameraRollDomain", "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_3.MOV/5005.JPG"),
            Texts{"camera-roll thumb Camera Roll|IMG_3.MOV"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/5005.JPG"),
            Texts{"camera-roll thumb Camera Roll|5005.JPG"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/100APPLE/IMG_4.HEIC"), Texts{"camera-roll file Camera Roll|IMG_4.HEIC"});
  EXPECT_EQ(Matches("CameraRollDomain", "Media/PhotoData/Photos.sqlite"), Texts{"camera-roll main |Photos.sqlite"});

  EXPECT_EQ(Matches("MediaDomain", "Media/PhotoStreamsData/123/100APPLE/IMG_9.JPG"),
            Texts{"photo-stream file PhotoStream|IMG_9.JPG"});
  EXPECT_EQ(Matches("MediaDomain", "Media/PhotoStreamsData/123/a.mov"), Texts{});

  EXPECT_EQ(Matches("MediaDomain", "Media/iTunes_Control/Music/F01/ABCD.mp3"), Texts{"music file Music|ABCD.mp3"});
  EXPECT_EQ(Matches("MediaDomain", "Media/iTunes_Control/Music/F01/ABCD.M4A"), Texts{"music file Music|ABCD.M4A"});
  EXPECT_EQ(Matches("MediaDomain", "Media/Downloads/song.mp3"), Texts{});
  EXPECT_EQ(Matches("MediaDomain", "Media/Recordings/memo 1.m4a"), Texts{"voice-memos file |memo 1.m4a"});
}

TEST(CategoryRules, DatabasesByExactPathAndDomain) {
  EXPECT_EQ(Matches("HomeDomain", "Library/SMS/sms.db"), Texts{"messages main |sms.db"});
  EXPECT_EQ(Matches("MediaDomain", "Library/SMS/sms.db"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Library/SMS/sms.db-wal"), Texts{});
  EXPECT_EQ(Matches("AppDomainGroup-group.com.apple.notes", "NoteStore.sqlite"), Texts{"notes second |NoteStore.sqlite"});
  EXPECT_EQ(Matches("HomeDomain", "NoteStore.sqlite"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Library/Notes/notes.sqlite"), Texts{"notes main |notes.sqlite"});
  EXPECT_EQ(Matches("HomeDomain", "Library/Safari/History.db"), Texts{"safari second |History.db"});
  EXPECT_EQ(Matches("HomeDomain", "Library/Safari/Bookmarks.db"), Texts{"safari main |Bookmarks.db"});
  EXPECT_EQ(Matches("HomeDomain", "Library/Voicemail/voicemail.db"), Texts{"voicemail main |voicemail.db"});
  EXPECT_EQ(Matches("WirelessDomain", "Library/CallHistoryDB/CallHistory.storedata"),
            Texts{"call-history second |CallHistory.storedata"});
  EXPECT_EQ(Matches("WirelessDomain", "Library/CallHistory/call_history.db"),
            Texts{"call-history main |call_history.db"});
  EXPECT_EQ(Matches("MediaDomain", "Media/Recordings/Recordings.db"), Texts{"voice-memos main |Recordings.db"});
  // The newer memo store in its two homes; its recordings beside it are the memos' files.
  const std::string memos = "AppDomainGroup-group.com.apple.VoiceMemos.shared";
  EXPECT_EQ(Matches("MediaDomain", "Media/Recordings/CloudRecordings.db"), Texts{"voice-memos second |CloudRecordings.db"});
  EXPECT_EQ(Matches(memos, "Recordings/CloudRecordings.db"), Texts{"voice-memos second |CloudRecordings.db"});
  EXPECT_EQ(Matches(memos, "Recordings/CloudRecordings.db-wal"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Recordings/CloudRecordings.db"), Texts{});
  EXPECT_EQ(Matches(memos, "Recordings/20240101 101010-AB12.m4a"), Texts{"voice-memos file |20240101 101010-AB12.m4a"});
  for (const char* path : {"Library/AddressBook/AddressBook.sqlite", "Library/AddressBook/AddressBook.sqlitedb"}) {
    EXPECT_EQ(Matches("HomeDomain", path).size(), 1u) << path;
    EXPECT_EQ(Matches("HomeDomain", path)[0].substr(0, 14), "contacts main ") << path;
  }
  EXPECT_EQ(Matches("HomeDomain", "Library/AddressBook/AddressBookImages.sqlitedb"),
            Texts{"contacts second |AddressBookImages.sqlitedb"});
  EXPECT_EQ(Matches("HomeDomain", "Library/AddressBook/AddressBookImages.sqlite"),
            Texts{"contacts second |AddressBookImages.sqlite"});
  // One database, two extractors.
  EXPECT_EQ(Matches("HomeDomain", "Library/Calendar/Calendar.sqlitedb"),
            (Texts{"calendar main |Calendar.sqlitedb", "reminders main |Calendar.sqlitedb"}));
  // Every store of the Reminders app, in its own domain only; not its companions.
  const std::string reminders = "AppDomainGroup-group.com.apple.reminders";
  EXPECT_EQ(Matches(reminders, "Container_v1/Stores/Data-local.sqlite"), Texts{"reminders second |Data-local.sqlite"});
  EXPECT_EQ(Matches(reminders, "Container_v1/Stores/Data-1F2E.sqlite"), Texts{"reminders second |Data-1F2E.sqlite"});
  EXPECT_EQ(Matches(reminders, "Container_v1/Stores/Data-1F2E.sqlite-wal"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Container_v1/Stores/Data-1F2E.sqlite"), Texts{});
  // Comparisons are exact: case matters for the fixed paths.
  EXPECT_EQ(Matches("HomeDomain", "library/sms/sms.db"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Library/SMS/sms.db", true, 0x41ED), Texts{});
}

TEST(CategoryRules, MessageAttachmentsSkipPreviews) {
  EXPECT_EQ(Matches("MediaDomain", "Library/SMS/Parts/3f/12/1234-1.jpg"), Texts{"messages file |1234-1.jpg"});
  EXPECT_EQ(Matches("MediaDomain", "Library/SMS/Parts/3f/12/1234-1-preview.jpg"), Texts{});
  EXPECT_EQ(Matches("MediaDomain", "Library/SMS/Attachments/ab/01/IMG_1.MOV"), Texts{"messages file |IMG_1.MOV"});
  EXPECT_EQ(Matches("MediaDomain", "Library/SMS/Attachments/ab/01/x-preview-right.jpg"),
            Texts{"messages file |x-preview-right.jpg"});
}

TEST(CategoryRules, WhatsAppFilesAndThumbnails) {
  const std::string domain = "AppDomain-net.whatsapp.WhatsApp";
  EXPECT_EQ(Matches(domain, "Documents/ChatStorage.sqlite", false), Texts{"whatsapp main |ChatStorage.sqlite"});
  EXPECT_EQ(Matches(domain, "Documents/chatstorage.SQLITE", false), Texts{"whatsapp main |chatstorage.SQLITE"});
  // Its write-ahead log travels with the database and must not replace it.
  EXPECT_EQ(Matches(domain, "Documents/ChatStorage.sqlite-wal", false), Texts{});
  EXPECT_EQ(Matches(domain, "Library/Media/491701234@s.whatsapp.net/a/b/c.mp4", false),
            Texts{"whatsapp file |c.mp4"});
  EXPECT_EQ(Matches(domain, "Library/Media/491701234@s.whatsapp.net/a/b/c.thumb", false),
            (Texts{"whatsapp file |c.thumb", "whatsapp thumb |c.thumb"}));
  EXPECT_EQ(Matches(domain, "Library/Media/other/c.jpg", false), Texts{});
  // Camera-roll thumbnails are not WhatsApp's.
  EXPECT_EQ(Matches("CameraRollDomain", "Media/DCIM/.THUMB/y.jpg"), Texts{"camera-roll thumb Camera Roll|y.jpg"});
}

TEST(CategoryRules, ApplicationFilesFormOneElseChain) {
  const std::string reader = "AppDomain-com.example.Reader";
  EXPECT_EQ(Matches(reader, "Documents/a.PDF"), Texts{"app-documents file Reader|a.PDF"});
  EXPECT_EQ(Matches(reader, "Documents/clip.Mp4"), Texts{"app-videos file Reader|clip.Mp4"});
  EXPECT_EQ(Matches(reader, "Library/Caches/p.png"), Texts{"app-pictures file Reader|p.png"});
  // The stored file must exist, the path needs a folder, the domain a "." and a known extension.
  EXPECT_EQ(Matches(reader, "Documents/a.PDF", false), Texts{});
  EXPECT_EQ(Matches(reader, "a.pdf"), Texts{});
  EXPECT_EQ(Matches("AppDomain-Reader", "Documents/a.pdf"), Texts{});
  EXPECT_EQ(Matches(reader, "Documents/a.pages"), Texts{});
  EXPECT_EQ(Matches(reader, "Documents/x.pdf/inner"), Texts{});
  EXPECT_EQ(Matches("HomeDomain", "Documents/a.pdf"), Texts{});
  // App files still reach the other groups: an app's music is music too.
  EXPECT_EQ(Matches("AppDomain-com.example.Player", "Documents/Music/song.mp3"),
            Texts{"music file Music|song.mp3"});
}

}  // namespace
}  // namespace sieve
