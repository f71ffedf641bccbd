#include "tools/sieve/record_json.h"

#include <charconv>

#include "sieve/record_visit.h"
#include "sieve/whatsapp_event.h"

namespace sieve::cli {
namespace {

// Writes the members of one record into the object the writer has open.
class RecordWriter {
 public:
  RecordWriter(JsonWriter& json, FileCopies& files) : json_(json), files_(files) {}

  void Fields(const ContactRecord& r) {
    json_.Field("row_id", r.RowID)
        .FlagField("deleted", r.Deleted)
        .FlagField("unowned", r.Unowned)
        .Field("first", r.First)
        .Field("last", r.Last)
        .Field("middle", r.Middle)
        .Field("nickname", r.Nickname)
        .Field("prefix", r.Prefix)
        .Field("suffix", r.Suffix)
        .Field("organization", r.Organization)
        .Field("department", r.Department)
        .Field("job_title", r.JobTitle)
        .Field("note", r.Note)
        .DateField("birthday", r.Birthday)
        .Field("home_phone", r.HomePhone)
        .Field("work_phone", r.WorkPhone)
        .Field("phone", r.Phone)
        .Field("address", r.Address)
        .Field("home_email", r.HomeEmail)
        .Field("work_email", r.WorkEmail)
        .Field("home_page", r.HomePage)
        .DateField("creation_date", r.CreationDate)
        .DateField("modification_date", r.ModificationDate);
    files_.Write(json_, "image_path", r.ImagePath, std::nullopt);
    json_.Key("others").BeginArray();
    for (const std::string& text : r.Others) json_.String(text);
    json_.EndArray();
    json_.Key("values").BeginArray();
    for (const ContactValue& v : r.Values) {
      json_.BeginObject().Field("property", v.Property).Field("label", v.Label).Field("value", v.Value);
      // Pairs rather than an object: a key the address book does not name is "" and may repeat.
      json_.Key("parts").BeginArray();
      for (const auto& [key, part] : v.Parts) json_.BeginObject().Field("key", key).Field("value", part).EndObject();
      json_.EndArray().EndObject();
    }
    json_.EndArray();
  }

  void Fields(const SmsMessage& r) {
    json_.Field("row_id", r.RowId)
        .FlagField("deleted", r.Deleted)
        .FlagField("is_from_me", r.IsFromMe)
        .Field("direction", r.Direction)
        .DateField("date", r.Date)
        .Field("text", r.Text)
        .FlagField("edited", r.Edited)
        .FlagField("unsent", r.Unsent)
        .FlagField("audio", r.IsAudio)
        .Field("attachment_name", r.AttachmentName)
        .Field("mime_type", r.MimeType);
    // The key came with the attachment record, delivered before the conversations.
    files_.Write(json_, "attachment_path", r.AttachmentPath, std::nullopt);
    json_.Key("reactions").BeginArray();
    for (const SmsReaction& reaction : r.Reactions) {
      json_.BeginObject()
          .Field("kind", reaction.Kind)
          .Field("sender", reaction.Sender)
          .FlagField("is_from_me", reaction.IsFromMe)
          .EndObject();
    }
    json_.EndArray();
  }

  void Fields(const SmsConversation& r) {
    json_.FlagField("deleted", r.Deleted).Field("address", r.Address).Field("contact_name", r.ContactName);
    List("messages", r.Messages);
  }

  void Fields(const SmsAttachment& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("file_name", r.FileName)
        .Field("mime_type", r.MimeType)
        .Field("relative_path", r.RelativePath)
        .Field("has_key", r.Key.has_value())
        .TimeField("modified_time", r.ModifiedTime);
    files_.Write(json_, "file_path", r.BackupFile, r.Key, r.FileName);
  }

  void Fields(const CallRecord& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("address", r.Address)
        .Field("name", r.Name)
        .DateField("date", r.Date)
        .Field("direction", r.Direction)
        .Field("duration_seconds", static_cast<double>(r.Seconds))
        .Field("flags", r.Flags)
        .Field("service", r.Service)
        .Field("call_type", r.CallType)
        .Key("answered");
    // Older call stores do not say whether a call was answered.
    if (r.Answered < 0) {
      json_.Null();
    } else {
      json_.Bool(r.Answered != 0);
    }
  }

  void Fields(const WaMessage& r) {
    json_.FlagField("deleted", r.Deleted)
        .FlagField("is_incoming", r.IsIncoming)
        .Field("message_type", r.MessageType)
        .DateField("date", r.Date)
        .Field("text", r.Text)
        .Field("sender_name", r.SenderName)
        .Field("event", WaEventName(r.Event));
    if (r.HasLocation != 0) {
      json_.Field("latitude", r.Latitude).Field("longitude", r.Longitude).Field("map_link", MapLink(r.Latitude, r.Longitude));
    }
    files_.Write(json_, "media_path", r.MediaPath, std::nullopt);
  }

  void Fields(const WaChat& r) {
    json_.Field("partner_name", r.PartnerName).Field("phone_number", r.PhoneNumber);
    List("messages", r.Messages);
  }

  void Fields(const WaAttachment& r) {
    json_.Field("text", r.Text)
        .DateField("date", r.Date)
        .Field("has_key", r.Key.has_value())
        .TimeField("modified_time", r.ModifiedTime);
    files_.Write(json_, "file_path", r.FilePath, r.Key, r.Text);
  }

  void Fields(const NoteRecord& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("title", r.Title)
        .DateField("date", r.Date)
        .Field("content", r.Content)
        .Field("folder", r.Folder)
        .FlagField("locked", r.Locked)
        .Key("attachments")
        .BeginArray();
    for (const std::string& name : r.Attachments) json_.String(name);
    json_.EndArray();
  }

  void Fields(const CalendarRecord& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("summary", r.Summary)
        .DateField("start_date", r.StartDate)
        .DateField("end_date", r.EndDate)
        .Field("description", r.Description)
        .Field("location", r.Location)
        .Field("status", r.Status)
        .Field("availability", r.Availability)
        .FlagField("all_day", r.AllDay);
  }

  void Fields(const ReminderRecord& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("summary", r.Summary)
        .DateField("start_date", r.StartDate)
        .DateField("end_date", r.EndDate)
        .Field("description", r.Description)
        .Field("location", r.Location)
        .FlagField("completed", r.Completed)
        .Field("priority", r.Priority)
        .Field("list_title", r.ListTitle)
        .DateField("completion_date", r.CompletionDate);
  }

  void Fields(const BookmarkRecord& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("kind", r.Kind == kHistoryVisit ? "visit" : "bookmark")
        .Field("title", r.Title)
        .Field("url", r.Url)
        .Field("folder", r.Folder)
        .DateField("visit_date", r.VisitDate);
  }

  void Fields(const VoiceMemoRecord& r) {
    json_.FlagField("deleted", r.Deleted).DateField("date", r.Date).Key("duration_seconds");
    WholeNumber(r.Duration);
    json_.Field("file_name", r.FileName)
        .Field("custom_label", r.CustomLabel)
        .Field("has_key", r.FileKey.has_value())
        .TimeField("modified_time", r.ModifiedTime);
    // Of an encrypted backup the reader already decrypted the recording into its private folder.
    files_.Write(json_, "file_path", r.OrgPath, std::nullopt, LastPart(r.FileName));
  }

  void Fields(const MediaFile& r) {
    json_.FlagField("deleted", r.Deleted)
        .Field("file_name", r.FileName)
        .Field("has_key", r.FileKey.has_value())
        .TimeField("modified_time", r.ModifiedTime);
    files_.Write(json_, "file_path", r.FilePath, r.FileKey, r.FileName);
    json_.DateField("date_taken", r.DateTaken)
        .FlagField("trashed", r.Trashed)
        .DateField("trashed_date", r.TrashedDate)
        .Field("width", r.Width)
        .Field("height", r.Height)
        .Key("albums").BeginArray();
    for (const std::string& album : r.Albums) json_.String(album);
    json_.EndArray();
    if (!r.ThumbnailPath.empty()) {
      files_.Write(json_, "thumbnail_path", r.ThumbnailPath, r.ThumbnailKey, LastPart(r.ThumbnailPath), "");
    }
  }

  void Fields(const MediaGroup& r) {
    json_.Field("name", r.Name);
    List("files", r.Files);
  }

 private:
  template <typename Item>
  void List(std::string_view name, const std::vector<Item>& items) {
    json_.Key(name).BeginArray();
    for (const Item& item : items) {
      json_.BeginObject();
      Fields(item);
      json_.EndObject();
    }
    json_.EndArray();
  }

  // The library gives some counts as decimal text; null when it is not one.
  void WholeNumber(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
      json_.Null();
    } else {
      json_.Int(value);
    }
  }

  static std::string_view LastPart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
  }

  JsonWriter& json_;
  FileCopies& files_;
};

}  // namespace

void WriteRecord(JsonWriter& json, const void* record, _InfoType type, FileCopies& files) {
  json.BeginObject().Field("category", InfoTypeName(type));
  RecordWriter writer(json, files);
  VisitRecord(record, type, [&writer](auto, const auto& r) { writer.Fields(r); });
  json.EndObject();
}

}  // namespace sieve::cli
