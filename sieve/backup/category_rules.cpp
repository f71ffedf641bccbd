#include "sieve/backup/category_rules.h"

#include <algorithm>
#include <array>

namespace sieve {

namespace {

using std::string_view;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return LowerAscii(c); });
  return lower;
}

bool Contains(string_view text, string_view part) { return text.find(part) != string_view::npos; }

bool EqualsIgnoringCase(string_view a, string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

template <std::size_t N>
bool ExtensionIn(string_view path, const std::array<string_view, N>& table) {
  const std::size_t dot = path.rfind('.');
  if (dot == string_view::npos) return false;
  const string_view extension = path.substr(dot + 1);
  // A "." inside a folder name is not an extension of the file.
  if (Contains(extension, "/")) return false;
  return std::any_of(table.begin(), table.end(), [&](string_view e) { return EqualsIgnoringCase(extension, e); });
}

constexpr std::array<string_view, 12> kDocumentExtensions = {"pdf",  "txt", "epub", "doc", "docx", "xls",
                                                             "xlsx", "ppt", "pptx", "rar", "zip",  "chm"};
constexpr std::array<string_view, 12> kPictureExtensions = {"jpeg", "jpg", "bmp", "png", "gif", "pcx",
                                                            "tiff", "tga", "psd", "crd", "heic", "heif"};
constexpr std::array<string_view, 11> kVideoExtensions = {"avi", "mkv", "rmvb", "asf",  "mp4", "mpg",
                                                          "rm",  "mpeg", "wmv", "vob", "mov"};

// The texts of one entry the rules look at, lower-cased once for the rules that ignore case.
struct EntryText {
  string_view domain;
  string_view path;
  std::string lowerDomain;
  std::string lowerPath;
};

enum class Naming {
  AfterLastSlash,       // the text after the path's last "/"
  CameraRollFull,       // the path after "Media/DCIM/" and its eight-character folder
  CameraRollThumbnail,  // after the last "/", without a "100APPLE___" prefix; see ThumbnailOwner
};

struct Rule {
  bool (*applies)(const EntryText&);
  ExtractorSlot slot;
  RuleAction action;
  const char* group;
  Naming naming = Naming::AfterLastSlash;
};

constexpr std::size_t kCameraRollPrefixLength = 20;  // "Media/DCIM/100APPLE/"
constexpr string_view kThumbnailPrefix = "100APPLE___";
// Since iOS 13 a thumbnail is a file of a folder named after its picture or video:
// ".../Thumbnails/V2/DCIM/100APPLE/IMG_0003.MOV/5005.JPG".
constexpr string_view kNamedThumbnailFolder = "/Thumbnails/V2/";

// The name of the file a thumbnail of that layout renders; "" for other layouts.
string_view ThumbnailOwner(string_view path) {
  if (!Contains(path, kNamedThumbnailFolder)) return {};
  const std::size_t last = path.rfind('/');
  const std::size_t parent = path.rfind('/', last - 1);
  if (parent == string_view::npos || parent + 1 >= last) return {};
  const string_view owner = path.substr(parent + 1, last - parent - 1);
  return Contains(owner, ".") ? owner : string_view{};
}

bool IsMusicFile(string_view path) {
  static constexpr std::array<string_view, 6> kAudio = {".mp3", ".MP3", ".ape", ".APE", ".m4a", ".M4A"};
  return Contains(path, "Music") &&
         std::any_of(kAudio.begin(), kAudio.end(), [&](string_view e) { return Contains(path, e); });
}

// In the order the scan offers an entry to the rule groups; the application-files group
// comes first and is handled on its own because its three rules form one "else" chain.
constexpr Rule kRules[] = {
    {[](const EntryText& e) { return e.path.starts_with("Media/PhotoStreamsData") && IsPicturePath(e.path); },
     ExtractorSlot::PhotoStream, RuleAction::File, "PhotoStream"},

    {[](const EntryText& e) { return e.path == "Library/Safari/History.db"; }, ExtractorSlot::Safari,
     RuleAction::SecondDatabase, ""},
    {[](const EntryText& e) { return e.path == "Library/Safari/Bookmarks.db"; }, ExtractorSlot::Safari,
     RuleAction::MainDatabase, ""},

    {[](const EntryText& e) { return e.path == "Library/Voicemail/voicemail.db"; }, ExtractorSlot::Voicemail,
     RuleAction::MainDatabase, ""},

    {[](const EntryText& e) {
       return e.domain == "AppDomainGroup-group.com.apple.notes" && e.path == "NoteStore.sqlite";
     },
     ExtractorSlot::Notes, RuleAction::SecondDatabase, ""},
    {[](const EntryText& e) { return e.path == "Library/Notes/notes.sqlite"; }, ExtractorSlot::Notes,
     RuleAction::MainDatabase, ""},

    // Previews are small renderings of an attachment that is listed by itself.
    {[](const EntryText& e) { return Contains(e.path, "Library/SMS/Parts/") && !Contains(e.path, "preview"); },
     ExtractorSlot::Messages, RuleAction::File, ""},
    {[](const EntryText& e) { return Contains(e.path, "SMS/Attachments"); }, ExtractorSlot::Messages,
     RuleAction::File, ""},
    {[](const EntryText& e) { return e.path == "Library/SMS/sms.db" && Contains(e.domain, "Home"); },
     ExtractorSlot::Messages, RuleAction::MainDatabase, ""},

    {[](const EntryText& e) { return e.path == "Library/CallHistoryDB/CallHistory.storedata"; },
     ExtractorSlot::CallHistory, RuleAction::SecondDatabase, ""},
    {[](const EntryText& e) { return e.path == "Library/CallHistory/call_history.db"; }, ExtractorSlot::CallHistory,
     RuleAction::MainDatabase, ""},

    {[](const EntryText& e) {
       return e.path.starts_with("Media/DCIM/") && Contains(e.path, "APPLE") &&
              e.path.size() > kCameraRollPrefixLength;
     },
     ExtractorSlot::CameraRoll, RuleAction::File, "Camera Roll", Naming::CameraRollFull},
    {[](const EntryText& e) {
       return (e.path.starts_with("Media/DCIM/.THUMB/") || Contains(e.path, "Thumbnails")) && IsPicturePath(e.path);
     },
     ExtractorSlot::CameraRoll, RuleAction::Thumbnail, "Camera Roll", Naming::CameraRollThumbnail},
    // The photo library: when each picture was taken, its albums, what is in "Recently Deleted".
    {[](const EntryText& e) { return e.path == "Media/PhotoData/Photos.sqlite"; }, ExtractorSlot::CameraRoll,
     RuleAction::MainDatabase, ""},

    {[](const EntryText& e) { return e.path == "Media/Recordings/Recordings.db"; }, ExtractorSlot::VoiceMemos,
     RuleAction::MainDatabase, ""},
    // Since system 13 the memos have a Core Data store of their own, which moved from the
    // media folder into the app's group container with 14.
    {[](const EntryText& e) {
       return (e.domain == "MediaDomain" && e.path == "Media/Recordings/CloudRecordings.db") ||
              (e.domain == "AppDomainGroup-group.com.apple.VoiceMemos.shared" &&
               e.path == "Recordings/CloudRecordings.db");
     },
     ExtractorSlot::VoiceMemos, RuleAction::SecondDatabase, ""},
    {[](const EntryText& e) { return Contains(e.path, "Recordings") && Contains(e.path, ".m4a"); },
     ExtractorSlot::VoiceMemos, RuleAction::File, ""},

    // The database itself, not its "-wal" or "-shm" companions, which travel with it.
    {[](const EntryText& e) { return e.lowerPath.ends_with("chatstorage.sqlite"); }, ExtractorSlot::WhatsApp,
     RuleAction::MainDatabase, ""},
    {[](const EntryText& e) { return e.lowerPath.starts_with("library/media") && Contains(e.lowerPath, "whatsapp"); },
     ExtractorSlot::WhatsApp, RuleAction::File, ""},
    // Camera-roll thumbnails live under ".THUMB" too; only WhatsApp's own belong here.
    {[](const EntryText& e) {
       return Contains(e.lowerPath, ".thumb") &&
              (Contains(e.lowerPath, "whatsapp") || Contains(e.lowerDomain, "whatsapp"));
     },
     ExtractorSlot::WhatsApp, RuleAction::Thumbnail, ""},

    {[](const EntryText& e) {
       return e.path == "Library/AddressBook/AddressBook.sqlite" || e.path == "Library/AddressBook/AddressBook.sqlitedb";
     },
     ExtractorSlot::Contacts, RuleAction::MainDatabase, ""},
    {[](const EntryText& e) {
       return e.path == "Library/AddressBook/AddressBookImages.sqlite" ||
              e.path == "Library/AddressBook/AddressBookImages.sqlitedb";
     },
     ExtractorSlot::Contacts, RuleAction::SecondDatabase, ""},

    {[](const EntryText& e) { return IsMusicFile(e.path); }, ExtractorSlot::Music, RuleAction::File, "Music"},

    // One database holds both the events and the reminders.
    {[](const EntryText& e) { return e.path == "Library/Calendar/Calendar.sqlitedb"; }, ExtractorSlot::Calendar,
     RuleAction::MainDatabase, ""},
    {[](const EntryText& e) { return e.path == "Library/Calendar/Calendar.sqlitedb"; }, ExtractorSlot::Reminders,
     RuleAction::MainDatabase, ""},
    // Since iOS 13 reminders have stores of their own, one per account; the extractor keeps
    // every one it is handed.
    {[](const EntryText& e) {
       return e.domain == "AppDomainGroup-group.com.apple.reminders" && e.path.starts_with("Container_v1/Stores/Data-") &&
              e.path.ends_with(".sqlite");
     },
     ExtractorSlot::Reminders, RuleAction::SecondDatabase, ""},
};

bool IsFileAction(RuleAction action) { return action == RuleAction::File || action == RuleAction::Thumbnail; }

// The name a rule gives the entry; false when a file rule finds no usable name.
bool NameFor(const Rule& rule, string_view path, std::string& name) {
  const std::size_t slash = path.rfind('/');
  if (rule.naming == Naming::CameraRollFull) {
    name = path.substr(kCameraRollPrefixLength);
    return !name.empty();
  }
  if (slash == string_view::npos) {
    name = path;
    return !IsFileAction(rule.action);
  }
  string_view last = path.substr(slash + 1);
  if (rule.naming == Naming::CameraRollThumbnail && last.starts_with(kThumbnailPrefix)) {
    last.remove_prefix(kThumbnailPrefix.size());
  }
  if (rule.naming == Naming::CameraRollThumbnail && !ThumbnailOwner(path).empty()) last = ThumbnailOwner(path);
  name = last;
  return !name.empty() || !IsFileAction(rule.action);
}

// Documents, else videos, else pictures of an app, grouped by the app's last name part.
void MatchApplicationFile(const EntryText& e, bool storedFileExists, std::vector<RuleMatch>& out) {
  const std::size_t dot = e.domain.rfind('.');
  const std::size_t slash = e.path.rfind('/');
  if (!e.domain.starts_with("AppDomain-") || dot == string_view::npos || slash == string_view::npos ||
      !storedFileExists) {
    return;
  }
  ExtractorSlot slot;
  if (IsDocumentPath(e.path)) {
    slot = ExtractorSlot::AppDocuments;
  } else if (IsVideoPath(e.path)) {
    slot = ExtractorSlot::AppVideos;
  } else if (IsPicturePath(e.path)) {
    slot = ExtractorSlot::AppPictures;
  } else {
    return;
  }
  out.push_back(RuleMatch{slot, RuleAction::File, std::string(e.domain.substr(dot + 1)),
                          std::string(e.path.substr(slash + 1))});
}

}  // namespace

void MatchCategoryRules(const CManifestRecord& entry, bool storedFileExists, std::vector<RuleMatch>& out) {
  if (entry.IsDirectory()) return;
  const EntryText e{entry.Domain, entry.Path, LowerAscii(entry.Domain), LowerAscii(entry.Path)};
  MatchApplicationFile(e, storedFileExists, out);
  std::string name;
  for (const Rule& rule : kRules) {
    if (!rule.applies(e) || !NameFor(rule, e.path, name)) continue;
    out.push_back(RuleMatch{rule.slot, rule.action, rule.group, name});
  }
}

bool IsPicturePath(string_view path) { return ExtensionIn(path, kPictureExtensions); }
bool IsVideoPath(string_view path) { return ExtensionIn(path, kVideoExtensions); }
bool IsDocumentPath(string_view path) { return ExtensionIn(path, kDocumentExtensions); }

}  // namespace sieve
