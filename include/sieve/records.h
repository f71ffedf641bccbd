// Record structures a scan delivers. Both the library and the desktop program
// use these definitions; text is UTF-8, dates are "YYYY-MM-DD hh:mm:ss" texts in the
// zone sieve/time_zone.h names ("" for no date). Every record kind that can come
// from free space carries Deleted: 0 for a live row, 1 for a recovered one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sieve/file_key.h"

namespace sieve {

// One phone number, e-mail address, street address, web page... of a contact, with the
// kind and label the address book gives it.
struct ContactValue {
  std::int32_t Property = 0;  // the address book's kind: 3 phone, 4 e-mail, 5 street address, 22 web page...
  std::string Label;          // the label as stored ("_$!<Mobile>!$_", "iPhone", "Ferienhaus"), "" for none
  std::string Value;          // the text; a street address's parts joined by ", " in the order of Parts
  // A street address's parts by key ("Street", "City", "State", "ZIP", "Country"...), in that
  // order, keys the address book adds after them.
  std::vector<std::pair<std::string, std::string>> Parts;
};

struct ContactRecord {
  std::int32_t RowID = 0;  // 0 for a recovered person
  std::string First;
  std::string Last;
  std::string Middle;
  std::string Organization;
  std::string Department;
  std::string Note;
  std::string Birthday;
  std::string JobTitle;
  std::string Prefix;
  std::string Suffix;
  std::string HomePhone;
  std::string WorkPhone;
  std::string Address;
  std::string Phone;
  std::string HomeEmail;
  std::string WorkEmail;
  std::string HomePage;
  std::string ImagePath;  // picture written to the reader's private folder, or empty
  std::int32_t Reserved1 = 0;
  std::int32_t Reserved2 = 0;
  std::vector<std::string> Others;  // multi-values without a field of their own
  std::int32_t Deleted = 0;
  // The fields below came later; the ones above keep their places for their readers.
  std::string Nickname;
  std::string CreationDate;
  std::string ModificationDate;
  std::vector<ContactValue> Values;  // every multi-value in row order, the ones above included
  // 1 for recovered values whose person is neither recovered nor live: values, not a person.
  std::int32_t Unowned = 0;
};

// A tapback ("loved", "liked", ...) left on a message; one taken back is not listed.
struct SmsReaction {
  std::string Kind;    // "love", "like", "dislike", "laugh", "emphasize", "question"
  std::string Sender;  // the sender's address, "" when the device's owner reacted
  std::int32_t IsFromMe = 0;
};

struct SmsMessage {
  std::int32_t Deleted = 0;
  std::int32_t IsFromMe = 0;
  std::int32_t RowId = 0;
  std::string Text;
  std::string Date;
  std::string Direction;  // "IN" or "OUT"
  std::string AttachmentPath;
  std::string MimeType;
  // Newer systems (iOS 13 and later) say more of a message.
  std::int32_t Edited = 0;   // changed after sending (iOS 16+): Text is the latest version
  std::int32_t Unsent = 0;   // taken back by its sender (iOS 16+): no text is left
  std::int32_t IsAudio = 0;  // a recorded audio message; the recording is the attachment
  std::string AttachmentName{};  // the attachment's file name, "" for none
  OptionalFileKey AttachmentKey{};
  std::vector<SmsReaction> Reactions{};
};

struct SmsConversation {
  std::int32_t Deleted = 0;
  std::string Address;
  std::string ContactName;
  std::vector<SmsMessage> Messages;
};

struct SmsAttachment {
  std::string FileName;
  std::string BackupFile;
  std::string MimeType;
  std::string RelativePath;
  OptionalFileKey Key;
  std::int64_t ModifiedTime = 0;  // seconds since 1970 from the backup's index, 0 when unknown
  std::int32_t Deleted = 0;       // its row was deleted from sms.db; the file was still in the backup
};

struct CallRecord {
  std::int32_t Deleted = 0;
  std::string Address;
  std::string Date;
  std::string Duration;   // "h:mm:ss", e.g. "0:01:05"
  std::string Direction;  // "IN" or "OUT"
  std::int32_t Flags = 0;
  float Seconds = 0.0f;
  std::string Name;
  std::int32_t Answered = -1;  // 1 answered, 0 not (missed when incoming), -1 unknown
  // The store's ZSERVICE_PROVIDER ("com.apple.Telephony", "com.apple.FaceTime", or the app's
  // bundle id for calls of other apps); "" where the layout has none.
  std::string Service{};
  std::int32_t CallType = 0;  // ZCALLTYPE: 1 phone or app, 8 FaceTime video, 16 FaceTime audio; 0 unknown
};

struct WaMessage {
  std::int32_t Deleted = 0;
  std::int32_t IsIncoming = 0;
  std::int32_t MessageType = 0;
  std::string Text;
  std::string Date;
  std::string MediaPath;
  std::string SenderName{};  // in a group: the member who wrote it or caused the event
  std::int32_t Event = 0;    // a WaEvent: not 0 for a system line, which no one wrote
  std::int32_t HasLocation = 0;  // 1: a shared location at Latitude, Longitude
  double Latitude = 0.0;
  double Longitude = 0.0;
};

struct WaChat {
  std::string PartnerName;
  std::string PhoneNumber;
  std::vector<WaMessage> Messages;
};

struct WaAttachment {
  std::string Text;      // what the attachment list shows
  std::string FilePath;  // file in the backup folder or the private folder
  OptionalFileKey Key;
  std::string Date;      // date of the message the attachment came with
  std::int64_t ModifiedTime = 0;  // seconds since 1970 from the backup's index, 0 when unknown
};

struct NoteRecord {
  std::int32_t Deleted = 0;
  std::string Title;
  std::string Date;
  std::string Content;
  std::string Folder{};                  // the folder's title; "" where the store has none
  std::vector<std::string> Attachments{};  // file name, else title, else type of each attachment
  std::int32_t Locked = 0;               // 1: password-protected, its text is encrypted
};

struct CalendarRecord {
  std::int32_t Deleted = 0;
  std::string Summary;
  std::string StartDate;
  std::string EndDate;
  std::string Description;
  std::string Location;
  std::int32_t Status = 0;
  std::int32_t Availability = 0;
  std::int32_t AllDay = 0;  // 1: the event fills whole days; its times are midnights
};

struct ReminderRecord {
  std::string Summary;
  std::string StartDate;
  std::string EndDate;  // the due date
  std::string Description;
  std::string Location;
  std::int32_t Completed = 0;
  std::int32_t Priority = 0;
  std::string ListTitle;
  std::int32_t Deleted = 0;
  std::string CompletionDate;  // "" when not completed or when the store kept no date
};

// Safari keeps two kinds of entries: saved bookmarks and visits from the history.
enum BookmarkKind : std::int32_t { kBookmarkEntry = 0, kHistoryVisit = 1 };

struct BookmarkRecord {
  std::string Title;
  std::string Url;
  std::int32_t Deleted = 0;
  std::int32_t Kind = kBookmarkEntry;
  std::string Folder;     // a bookmark's folder title; "" at the top or for a visit
  std::string VisitDate;  // a visit's time; "" for a bookmark
};

struct VoiceMemoRecord {
  std::int32_t Deleted = 0;  // 1: in "Recently Deleted", or a row recovered from free space
  std::string Date;
  std::string Duration;
  std::string FileName;
  std::string CustomLabel;
  std::string OrgPath;
  OptionalFileKey FileKey;
  std::int64_t ModifiedTime = 0;  // seconds since 1970 from the backup's index, 0 when unknown
};

struct VoicemailRecord {
  std::string Date;
  std::string TrashDate;
  std::string FileName;
  std::int32_t Duration = 0;
  std::string Sender;
};

struct MediaFile {
  // 1: a camera-roll picture known only from its thumbnail, or one the photo library keeps
  // in "Recently Deleted"
  std::int32_t Deleted = 0;
  std::string FileName;
  std::string FilePath;      // stored file in the backup folder
  OptionalFileKey FileKey;
  std::int64_t ModifiedTime = 0;  // seconds since 1970 from the backup's index, 0 when unknown
  // What the camera roll's photo library says of the file ("", 0 or empty without one).
  std::string DateTaken;
  std::int32_t Trashed = 0;  // 1: in "Recently Deleted"
  std::string TrashedDate;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::string> Albums;  // the albums the user put it in, by title
  // A small rendering the device keeps of the file (a video's first frame), when the backup has one.
  std::string ThumbnailPath;
  OptionalFileKey ThumbnailKey;
};

struct MediaGroup {
  std::string Name;
  std::vector<MediaFile> Files;
};

}  // namespace sieve
