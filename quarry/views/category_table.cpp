#include "quarry/views/category_table.h"

#include <array>

#include "quarry/views/attachment_models.h"
#include "quarry/views/bookmarks_model.h"
#include "quarry/views/calendar_model.h"
#include "quarry/views/calls_model.h"
#include "quarry/views/chat_models.h"
#include "quarry/views/contacts_model.h"
#include "quarry/views/media_model.h"
#include "quarry/views/notes_model.h"
#include "quarry/views/reminders_model.h"
#include "quarry/views/voice_memo_model.h"
#include "sieve/info_type.h"

namespace quarry::views {

namespace {

constexpr PageStyle kGroup = PageStyle::Empty;

constexpr CategoryRow kRows[] = {
    {0, "IDS_RECOVERY_MAIN_MESSAGE_CALLLOG", -1, nullptr, kGroup},
    {100057, "IDS_RECOVERY_MAIN_CONTACT", sieve::INFO_CONTACT, &MakeModel<ContactsModel>, PageStyle::Contacts},
    {100058, "IDS_RECOVERY_MAIN_MESSAGE", sieve::INFO_SMS, &MakeModel<MessagesModel>, PageStyle::Chat},
    {100060, "IDS_RECOVERY_MAIN_MESSAGE_ATTACH", sieve::INFO_SMS_ATTACHMENT, &MakeModel<MessageAttachmentsModel>, PageStyle::List},
    {100061, "IDS_RECOVERY_MAIN_RECENT_CALL", sieve::INFO_CALL, &MakeModel<CallsModel>, PageStyle::List},
    {100062, "IDS_RECOVERY_MAIN_VOICE_MEMO", sieve::INFO_VOICE_MEMO, &MakeModel<VoiceMemoModel>, PageStyle::List},
    {100063, "IDS_RECOVERY_MAIN_VOICEMAIL", -1, nullptr, PageStyle::NotShown},
    {100064, "IDS_RECOVERY_MAIN_WHATSAPP", sieve::INFO_WHATSAPP, &MakeModel<WhatsAppModel>, PageStyle::Chat},
    {100065, "IDS_RECOVERY_MAIN_WHATSAPP_ATTACH", sieve::INFO_WHATSAPP_ATTACHMENT, &MakeModel<WhatsAppAttachmentsModel>, PageStyle::List},
    {0, "IDS_RECOVERY_MAIN_PHOTOS_VIDEOS", -1, nullptr, kGroup},
    {100066, "IDS_RECOVERY_MAIN_CAMERA_ROLL", sieve::INFO_CAMERA_ROLL, &MakeModel<CameraRollModel>, PageStyle::Pictures},
    {100067, "IDS_RECOVERY_MAIN_PHOTO_STREAM", sieve::INFO_PHOTO_STREAM, &MakeModel<PhotoStreamModel>, PageStyle::Pictures},
    {100068, "IDS_RECOVERY_MAIN_APP_PHOTO", sieve::INFO_APP_PICTURE, &MakeModel<AppPicturesModel>, PageStyle::Pictures},
    {100069, "IDS_RECOVERY_MAIN_APP_VIDEO", sieve::INFO_APP_VIDEO, &MakeModel<AppVideosModel>, PageStyle::List},
    {100070, "IDS_RECOVERY_MAIN_MUSIC", sieve::INFO_MUSIC, &MakeModel<MusicModel>, PageStyle::List},
    {0, "IDS_RECOVERY_MAIN_OHTERS", -1, nullptr, kGroup},
    {100071, "IDS_RECOVERY_MAIN_NOTES", sieve::INFO_NOTE, &MakeModel<NotesModel>, PageStyle::ListDetail},
    {100072, "IDS_RECOVERY_MAIN_CALENDAR", sieve::INFO_CALENDAR, &MakeModel<CalendarModel>, PageStyle::ListDetail},
    {100073, "IDS_RECOVERY_MAIN_REMINDER", sieve::INFO_REMINDER, &MakeModel<RemindersModel>, PageStyle::ListDetail},
    {100074, "IDS_RECOVERY_MAIN_BOOKMARK", sieve::INFO_BOOKMARK, &MakeModel<BookmarksModel>, PageStyle::List},
    {100075, "IDS_RECOVERY_MAIN_APP_DOC", sieve::INFO_APP_DOCUMENT, &MakeModel<AppDocumentsModel>, PageStyle::List},
};

// Every record kind has exactly one category that receives it, and page ids are unique.
constexpr bool TableIsWhole() {
  std::array<int, sieve::kInfoTypeCount> seen{};
  for (const CategoryRow& row : kRows) {
    if (row.type >= sieve::kInfoTypeCount) return false;
    if (row.type >= 0) ++seen[static_cast<std::size_t>(row.type)];
    for (const CategoryRow& other : kRows) {
      if (&other != &row && row.pageId != 0 && other.pageId == row.pageId) return false;
    }
  }
  for (const int n : seen) {
    if (n != 1) return false;
  }
  return true;
}
static_assert(TableIsWhole(), "every record kind belongs to exactly one category, page ids are unique");

}  // namespace

std::span<const CategoryRow> CategoryRows() { return kRows; }

const CategoryRow* CategoryOfType(int type) {
  for (const CategoryRow& row : kRows) {
    if (row.pageId != 0 && row.type >= 0 && row.type == type) return &row;
  }
  return nullptr;
}

}  // namespace quarry::views
