#include "tools/sieve/record_json.h"

namespace sieve::cli {
namespace {

template <typename Item>
void WriteList(JsonWriter& json, std::string_view name, const std::vector<Item>& items) {
  json.Key(name).BeginArray();
  for (const Item& item : items) {
    json.BeginObject();
    WriteFields(json, item);
    json.EndObject();
  }
  json.EndArray();
}

void WriteTexts(JsonWriter& json, std::string_view name, const std::vector<std::string>& texts) {
  json.Key(name).BeginArray();
  for (const std::string& text : texts) json.String(text);
  json.EndArray();
}

template <typename Record>
void WriteAs(JsonWriter& json, const void* record) {
  WriteFields(json, *static_cast<const Record*>(record));
}

}  // namespace

void WriteFields(JsonWriter& json, const ContactRecord& r) {
  json.Field("RowID", r.RowID)
      .Field("First", r.First)
      .Field("Last", r.Last)
      .Field("Middle", r.Middle)
      .Field("Organization", r.Organization)
      .Field("Department", r.Department)
      .Field("Note", r.Note)
      .Field("Birthday", r.Birthday)
      .Field("JobTitle", r.JobTitle)
      .Field("Prefix", r.Prefix)
      .Field("Suffix", r.Suffix)
      .Field("HomePhone", r.HomePhone)
      .Field("WorkPhone", r.WorkPhone)
      .Field("Address", r.Address)
      .Field("Phone", r.Phone)
      .Field("HomeEmail", r.HomeEmail)
      .Field("WorkEmail", r.WorkEmail)
      .Field("HomePage", r.HomePage)
      .Field("ImagePath", r.ImagePath)
      .Field("Reserved1", r.Reserved1)
      .Field("Reserved2", r.Reserved2);
  WriteTexts(json, "Others", r.Others);
  json.Field("Deleted", r.Deleted)
      .Field("Nickname", r.Nickname)
      .Field("CreationDate", r.CreationDate)
      .Field("ModificationDate", r.ModificationDate);
  json.Key("Values").BeginArray();
  for (const ContactValue& v : r.Values) {
    json.BeginObject().Field("Property", v.Property).Field("Label", v.Label).Field("Value", v.Value);
    // Pairs rather than an object: a key the address book does not name is "" and may repeat.
    json.Key("Parts").BeginArray();
    for (const auto& [key, part] : v.Parts) json.BeginObject().Field("Key", key).Field("Value", part).EndObject();
    json.EndArray().EndObject();
  }
  json.EndArray().Field("Unowned", r.Unowned);
}

void WriteFields(JsonWriter& json, const SmsMessage& r) {
  json.Field("Deleted", r.Deleted)
      .Field("IsFromMe", r.IsFromMe)
      .Field("RowId", r.RowId)
      .Field("Text", r.Text)
      .Field("Date", r.Date)
      .Field("Direction", r.Direction)
      .Field("AttachmentPath", r.AttachmentPath)
      .Field("MimeType", r.MimeType);
}

void WriteFields(JsonWriter& json, const SmsConversation& r) {
  json.Field("Deleted", r.Deleted).Field("Address", r.Address).Field("ContactName", r.ContactName);
  WriteList(json, "Messages", r.Messages);
}

void WriteFields(JsonWriter& json, const SmsAttachment& r) {
  json.Field("FileName", r.FileName)
      .Field("BackupFile", r.BackupFile)
      .Field("MimeType", r.MimeType)
      .Field("RelativePath", r.RelativePath)
      .Field("Key", r.Key.has_value());
}

void WriteFields(JsonWriter& json, const CallRecord& r) {
  json.Field("Deleted", r.Deleted)
      .Field("Address", r.Address)
      .Field("Date", r.Date)
      .Field("Duration", r.Duration)
      .Field("Direction", r.Direction)
      .Field("Flags", r.Flags)
      .Field("Seconds", static_cast<double>(r.Seconds))
      .Field("Name", r.Name);
}

void WriteFields(JsonWriter& json, const WaMessage& r) {
  json.Field("Deleted", r.Deleted)
      .Field("IsIncoming", r.IsIncoming)
      .Field("MessageType", r.MessageType)
      .Field("Text", r.Text)
      .Field("Date", r.Date)
      .Field("MediaPath", r.MediaPath);
}

void WriteFields(JsonWriter& json, const WaChat& r) {
  json.Field("PartnerName", r.PartnerName).Field("PhoneNumber", r.PhoneNumber);
  WriteList(json, "Messages", r.Messages);
}

void WriteFields(JsonWriter& json, const WaAttachment& r) {
  json.Field("Text", r.Text)
      .Field("FilePath", r.FilePath)
      .Field("Key", r.Key.has_value())
      .Field("Date", r.Date);
}

void WriteFields(JsonWriter& json, const NoteRecord& r) {
  json.Field("Deleted", r.Deleted)
      .Field("Title", r.Title)
      .Field("Date", r.Date)
      .Field("Content", r.Content);
}

void WriteFields(JsonWriter& json, const CalendarRecord& r) {
  json.Field("Deleted", r.Deleted)
      .Field("Summary", r.Summary)
      .Field("StartDate", r.StartDate)
      .Field("EndDate", r.EndDate)
      .Field("Description", r.Description)
      .Field("Location", r.Location)
      .Field("Status", r.Status)
      .Field("Availability", r.Availability);
}

void WriteFields(JsonWriter& json, const ReminderRecord& r) {
  json.Field("Summary", r.Summary)
      .Field("StartDate", r.StartDate)
      .Field("EndDate", r.EndDate)
      .Field("Description", r.Description)
      .Field("Location", r.Location)
      .Field("Completed", r.Completed)
      .Field("Priority", r.Priority)
      .Field("ListTitle", r.ListTitle)
      .Field("Deleted", r.Deleted);
}

void WriteFields(JsonWriter& json, const BookmarkRecord& r) {
  json.Field("Title", r.Title).Field("Url", r.Url).Field("Deleted", r.Deleted);
}

void WriteFields(JsonWriter& json, const VoiceMemoRecord& r) {
  json.Field("Date", r.Date)
      .Field("Duration", r.Duration)
      .Field("FileName", r.FileName)
      .Field("CustomLabel", r.CustomLabel)
      .Field("OrgPath", r.OrgPath)
      .Field("FileKey", r.FileKey.has_value());
}

void WriteFields(JsonWriter& json, const MediaFile& r) {
  json.Field("Deleted", r.Deleted)
      .Field("FileName", r.FileName)
      .Field("FilePath", r.FilePath)
      .Field("FileKey", r.FileKey.has_value());
}

void WriteFields(JsonWriter& json, const MediaGroup& r) {
  json.Field("Name", r.Name);
  WriteList(json, "Files", r.Files);
}

void WriteRecord(JsonWriter& json, const void* record, _InfoType type) {
  json.BeginObject().Field("type", static_cast<std::int32_t>(type)).Field("category", InfoTypeName(type));
  switch (type) {
    case INFO_SMS: WriteAs<SmsConversation>(json, record); break;
    case INFO_SMS_ATTACHMENT: WriteAs<SmsAttachment>(json, record); break;
    case INFO_CONTACT: WriteAs<ContactRecord>(json, record); break;
    case INFO_CALL: WriteAs<CallRecord>(json, record); break;
    case INFO_VOICE_MEMO: WriteAs<VoiceMemoRecord>(json, record); break;
    case INFO_WHATSAPP: WriteAs<WaChat>(json, record); break;
    case INFO_WHATSAPP_ATTACHMENT: WriteAs<WaAttachment>(json, record); break;
    case INFO_BOOKMARK: WriteAs<BookmarkRecord>(json, record); break;
    case INFO_REMINDER: WriteAs<ReminderRecord>(json, record); break;
    case INFO_NOTE: WriteAs<NoteRecord>(json, record); break;
    case INFO_CALENDAR: WriteAs<CalendarRecord>(json, record); break;
    case INFO_CAMERA_ROLL:
    case INFO_PHOTO_STREAM: WriteAs<MediaFile>(json, record); break;
    case INFO_APP_DOCUMENT:
    case INFO_APP_PICTURE:
    case INFO_APP_VIDEO:
    case INFO_MUSIC: WriteAs<MediaGroup>(json, record); break;
  }
  json.EndObject();
}

}  // namespace sieve::cli
