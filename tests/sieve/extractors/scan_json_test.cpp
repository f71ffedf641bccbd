// `sieve scan --json` against the library's own records: one scan of a backup through the
// reader and one through the command line give the same value in every member of every
// record kind the extractors make, nested messages included (dates as ISO 8601 with the
// offset of the zone the tests run in, flags as true/false, numbers exactly).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "sieve/record_visit.h"
#include "sieve/whatsapp_event.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using test::JsonValue;
using Row = std::vector<std::string>;
using Rows = std::map<std::string, std::vector<Row>>;  // by category

std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}
std::string Flag(std::int64_t value) { return value != 0 ? "true" : "false"; }
// A day alone (all-day events) stays a day.
std::string Iso(const std::string& date) {
  return date.size() <= 10 ? date : date.substr(0, 10) + "T" + date.substr(11) + "+08:00";
}
std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += item + "|";
  return text;
}

// A member as text; missing and null alike are "".
std::string Text(const JsonValue* value) {
  if (value == nullptr) return "";
  switch (value->Type) {
    case JsonValue::Kind::String: return value->String;
    case JsonValue::Kind::Bool: return Flag(value->Bool);
    case JsonValue::Kind::Number: return Number(value->Number);
    case JsonValue::Kind::Array: {
      std::string text;
      for (const JsonValue& item : value->Items) text += Text(&item) + "|";
      return text;
    }
    default: return "";
  }
}

// The members compared of each kind, then of each of its "messages".
const std::map<int, std::pair<Row, Row>> kMembers = {
    {INFO_SMS,
     {{"deleted", "address", "contact_name"},
      {"row_id", "deleted", "is_from_me", "direction", "date", "text", "edited", "unsent", "audio", "attachment_name",
       "mime_type"}}},
    {INFO_CALL,
     {{"deleted", "address", "name", "date", "direction", "duration_seconds", "flags", "service", "call_type", "answered"},
      {}}},
    {INFO_VOICE_MEMO,
     {{"deleted", "date", "duration_seconds", "file_name", "custom_label", "has_key", "stored_path"}, {}}},
    {INFO_WHATSAPP,
     {{"partner_name", "phone_number"},
      {"deleted", "is_incoming", "message_type", "date", "text", "sender_name", "event", "latitude", "longitude",
       "map_link"}}},
    {INFO_WHATSAPP_ATTACHMENT, {{"text", "date", "has_key"}, {}}},
    {INFO_BOOKMARK, {{"deleted", "kind", "title", "url", "folder", "visit_date"}, {}}},
    {INFO_REMINDER,
     {{"deleted", "summary", "start_date", "end_date", "description", "location", "completed", "priority", "list_title",
       "completion_date"},
      {}}},
    {INFO_NOTE, {{"deleted", "title", "date", "content", "folder", "locked", "attachments"}, {}}},
    {INFO_CALENDAR,
     {{"deleted", "summary", "start_date", "end_date", "description", "location", "status", "availability", "all_day"},
      {}}},
};

// The same members of a record as the library gives it.
void Collect(void* record, _InfoType type, void* user) {
  std::vector<Row>& rows = (*static_cast<Rows*>(user))[InfoTypeName(type)];
  VisitRecord(record, type, [&](auto, const auto& r) {
    using R = std::decay_t<decltype(r)>;
    if constexpr (std::is_same_v<R, SmsConversation>) {
      rows.push_back({Flag(r.Deleted), r.Address, r.ContactName});
      for (const SmsMessage& m : r.Messages) {
        rows.push_back({Number(static_cast<double>(m.RowId)), Flag(m.Deleted), Flag(m.IsFromMe), m.Direction,
                        Iso(m.Date), m.Text, Flag(m.Edited), Flag(m.Unsent), Flag(m.IsAudio), m.AttachmentName,
                        m.MimeType});
      }
    } else if constexpr (std::is_same_v<R, CallRecord>) {
      rows.push_back({Flag(r.Deleted), r.Address, r.Name, Iso(r.Date), r.Direction, Number(r.Seconds),
                      Number(static_cast<double>(r.Flags)), r.Service, Number(r.CallType),
                      r.Answered < 0 ? "" : Flag(r.Answered)});
    } else if constexpr (std::is_same_v<R, VoiceMemoRecord>) {
      rows.push_back({Flag(r.Deleted), Iso(r.Date), r.Duration, r.FileName, r.CustomLabel, Flag(r.FileKey.has_value()),
                      r.OrgPath});
    } else if constexpr (std::is_same_v<R, WaChat>) {
      rows.push_back({r.PartnerName, r.PhoneNumber});
      for (const WaMessage& m : r.Messages) {
        const bool place = m.HasLocation != 0;
        rows.push_back({Flag(m.Deleted), Flag(m.IsIncoming), Number(m.MessageType), Iso(m.Date), m.Text, m.SenderName,
                        WaEventName(m.Event), place ? Number(m.Latitude) : "", place ? Number(m.Longitude) : "",
                        place ? MapLink(m.Latitude, m.Longitude) : ""});
      }
    } else if constexpr (std::is_same_v<R, WaAttachment>) {
      rows.push_back({r.Text, Iso(r.Date), Flag(r.Key.has_value())});
    } else if constexpr (std::is_same_v<R, BookmarkRecord>) {
      rows.push_back({Flag(r.Deleted), r.Kind == kHistoryVisit ? "visit" : "bookmark", r.Title, r.Url, r.Folder,
                      Iso(r.VisitDate)});
    } else if constexpr (std::is_same_v<R, ReminderRecord>) {
      rows.push_back({Flag(r.Deleted), r.Summary, Iso(r.StartDate), Iso(r.EndDate), r.Description, r.Location,
                      Flag(r.Completed), Number(r.Priority), r.ListTitle, Iso(r.CompletionDate)});
    } else if constexpr (std::is_same_v<R, NoteRecord>) {
      rows.push_back({Flag(r.Deleted), r.Title, Iso(r.Date), r.Content, r.Folder, Flag(r.Locked), Joined(r.Attachments)});
    } else if constexpr (std::is_same_v<R, CalendarRecord>) {
      rows.push_back({Flag(r.Deleted), r.Summary, Iso(r.StartDate), Iso(r.EndDate), r.Description, r.Location,
                      Number(r.Status), Number(r.Availability), Flag(r.AllDay)});
    }
  });
  if (rows.empty()) (*static_cast<Rows*>(user)).erase(InfoTypeName(type));
}

// An older and a newer system: both note and memo stores, call stores with and without
// "answered", calendar reminders and reminder stores.
TEST(ScanJson, EveryMemberOfEveryRecordKindAsTheLibraryGivesIt) {
  std::set<std::string> seen;
  for (const test::LayoutBackup* b : {&test::SmallBackup("9.3.2", "11"), &test::SmallBackup("18.2", "3")}) {
    SCOPED_TRACE(b->Backup.Folder);
    Rows want, got;
    CItunesBackupReader reader;
    ASSERT_EQ(reader.ReadItunesbackFromPath(b->Backup.Folder.c_str()), 0);
    reader.SetCallBack(&Collect, &want);
    ASSERT_EQ(reader.ReadBackup(0), 0);
    const test::CommandResult scan = test::RunSieve({"scan", b->Backup.Folder, "--json"});
    ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
    for (const JsonValue& line : test::ParseJsonLines(scan.Out)) {
      for (const auto& [type, members] : kMembers) {
        if (line.Text("category") != InfoTypeName(type)) continue;
        std::vector<Row>& rows = got[InfoTypeName(type)];
        rows.emplace_back();
        for (const std::string& member : members.first) rows.back().push_back(Text(line.Find(member)));
        const JsonValue* messages = line.Find("messages");
        for (std::size_t i = 0; messages != nullptr && i < messages->Items.size(); ++i) {
          rows.emplace_back();
          for (const std::string& member : members.second) rows.back().push_back(Text(messages->Items[i].Find(member)));
        }
      }
    }
    EXPECT_EQ(got, want);
    for (const auto& [category, rows] : want) seen.insert(category);
  }
  for (const auto& [type, members] : kMembers) EXPECT_TRUE(seen.contains(InfoTypeName(type))) << InfoTypeName(type);
}

}  // namespace
}  // namespace sieve
