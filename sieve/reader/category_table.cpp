#include "sieve/reader/category_table.h"

#include "sieve/extractors/bookmark_info.h"
#include "sieve/extractors/calendar_info.h"
#include "sieve/extractors/call_info.h"
#include "sieve/extractors/contact_info.h"
#include "sieve/extractors/media_files_info.h"
#include "sieve/extractors/note_info.h"
#include "sieve/extractors/recording_info.h"
#include "sieve/extractors/sms_info.h"
#include "sieve/extractors/voicemail_info.h"
#include "sieve/extractors/whatsapp_info.h"

namespace sieve {
namespace {

template <class Extractor>
std::unique_ptr<CDatabaseInfo> Make() {
  return std::make_unique<Extractor>();
}

constexpr DeliveredKind kNothing{};

// The order and the progress values are what the program shows: part of the interface.
constexpr std::array<CategoryRow, kExtractorSlotCount> kTable{{
    {ExtractorSlot::Contacts, "contacts", {{{INFO_CONTACT, "contacts", 5}, kNothing}}, Make<CContactInfo>, 35},
    {ExtractorSlot::Calendar, "calendar", {{{INFO_CALENDAR, "calendar", 2}, kNothing}}, Make<CCalendarInfo>, 37},
    {ExtractorSlot::CallHistory, "call-history", {{{INFO_CALL, "calls", 5}, kNothing}}, Make<CCallInfo>, 44},
    {ExtractorSlot::CameraRoll, "camera-roll", {{{INFO_CAMERA_ROLL, "camera-roll", 10}, kNothing}}, Make<CCameraInfo>, 54},
    {ExtractorSlot::VoiceMemos, "voice-memos", {{{INFO_VOICE_MEMO, "voice-memos", 3}, kNothing}}, Make<CRecordingInfo>, 57},
    {ExtractorSlot::Notes, "notes", {{{INFO_NOTE, "notes", 5}, kNothing}}, Make<CNoteInfo>, 62},
    {ExtractorSlot::Messages,
     "messages",
     {{{INFO_SMS_ATTACHMENT, "message-attachments", 10}, {INFO_SMS, "messages", 2}}},
     Make<CSmsInfo>,
     76},
    {ExtractorSlot::AppDocuments, "app-documents", {{{INFO_APP_DOCUMENT, "app-documents", 5}, kNothing}}, Make<CAppDocumentInfo>, 81},
    {ExtractorSlot::Music, "music", {{{INFO_MUSIC, "music", 2}, kNothing}}, Make<CMusicInfo>, 83},
    {ExtractorSlot::AppVideos, "app-videos", {{{INFO_APP_VIDEO, "app-videos", 2}, kNothing}}, Make<CAppVideoInfo>, 85},
    {ExtractorSlot::AppPictures, "app-pictures", {{{INFO_APP_PICTURE, "app-pictures", 3}, kNothing}}, Make<CAppImageInfo>, 88},
    {ExtractorSlot::Safari, "safari", {{{INFO_BOOKMARK, "safari", 4}, kNothing}}, Make<CBookmarkInfo>, 92},
    {ExtractorSlot::PhotoStream, "photo-stream", {{{INFO_PHOTO_STREAM, "photo-stream", 3}, kNothing}}, Make<CPhotostreamInfo>, 95},
    // Voicemail is read but no record kind carries it.
    {ExtractorSlot::Voicemail, "voicemail", {{kNothing, kNothing}}, Make<CVoiceMailInfo>, 96},
    {ExtractorSlot::Reminders, "reminders", {{{INFO_REMINDER, "reminders", 2}, kNothing}}, Make<CRemainderInfo>, 98},
    // Attachments come without progress steps of their own.
    {ExtractorSlot::WhatsApp,
     "whatsapp",
     {{{INFO_WHATSAPP, "whatsapp", 2}, {INFO_WHATSAPP_ATTACHMENT, "whatsapp-attachments", 0}}},
     Make<CWhatAppInfo>,
     100},
}};

constexpr bool EverySlotOnce() {
  for (int slot = 0; slot < kExtractorSlotCount; ++slot) {
    int seen = 0;
    for (const CategoryRow& row : kTable) seen += static_cast<int>(row.slot) == slot ? 1 : 0;
    if (seen != 1) return false;
  }
  return true;
}

constexpr bool EveryKindOnce() {
  for (int type = 0; type < kInfoTypeCount; ++type) {
    int seen = 0;
    for (const CategoryRow& row : kTable) {
      for (const DeliveredKind& kind : row.kinds) seen += kind.type == type ? 1 : 0;
    }
    if (seen != 1) return false;
  }
  for (const CategoryRow& row : kTable) {
    for (const DeliveredKind& kind : row.kinds) {
      if (kind.type >= kInfoTypeCount || (kind.IsSet() != (kind.name != nullptr))) return false;
    }
  }
  return true;
}

constexpr bool ProgressRisesToTheEnd() {
  float last = 30;  // where the index walk leaves the progress
  for (const CategoryRow& row : kTable) {
    if (!(row.progressAtEnd > last)) return false;
    last = row.progressAtEnd;
  }
  return last == 100;
}

static_assert(EverySlotOnce(), "every extractor slot has exactly one row");
static_assert(EveryKindOnce(), "every record kind is delivered by exactly one row, with its name");
// The scan driver fills in contact names after each later step's read.
static_assert(kTable.front().slot == ExtractorSlot::Contacts, "the address book is read first");
static_assert(ProgressRisesToTheEnd(), "the steps end at rising percentages, the last at 100");

const DeliveredKind* KindOf(int type) {
  for (const CategoryRow& row : kTable) {
    for (const DeliveredKind& kind : row.kinds) {
      if (kind.IsSet() && kind.type == type) return &kind;
    }
  }
  return nullptr;
}

}  // namespace

const std::array<CategoryRow, kExtractorSlotCount>& CategoryTable() { return kTable; }

const CategoryRow& CategoryRowOf(ExtractorSlot slot) {
  for (const CategoryRow& row : kTable) {
    if (row.slot == slot) return row;
  }
  // Unreachable: every slot has a row (checked above).
  return kTable.front();
}

const char* SlotName(ExtractorSlot slot) { return CategoryRowOf(slot).slotName; }

std::unique_ptr<CDatabaseInfo> CreateExtractor(ExtractorSlot slot) { return CategoryRowOf(slot).create(); }

const char* InfoTypeName(int type) {
  const DeliveredKind* kind = KindOf(type);
  return kind == nullptr ? "unknown" : kind->name;
}

float InfoTypeScanEnd(int type) {
  for (const CategoryRow& row : kTable) {
    for (const DeliveredKind& kind : row.kinds) {
      if (kind.IsSet() && kind.type == type) return row.progressAtEnd;
    }
  }
  return 100.0f;
}

}  // namespace sieve
