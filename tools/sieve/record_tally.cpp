#include "tools/sieve/record_tally.h"

#include "sieve/records.h"

namespace sieve::cli {
namespace {

template <typename Item>
int DeletedIn(const std::vector<Item>& items) {
  int n = 0;
  for (const Item& item : items) n += item.Deleted == 1 ? 1 : 0;
  return n;
}

template <typename Record>
int OwnFlag(const void* record) {
  return static_cast<const Record*>(record)->Deleted == 1 ? 1 : 0;
}

}  // namespace

int DeletedItems(const void* record, _InfoType type) {
  switch (type) {
    case INFO_SMS: {
      const auto* c = static_cast<const SmsConversation*>(record);
      return (c->Deleted == 1 ? 1 : 0) + DeletedIn(c->Messages);
    }
    case INFO_WHATSAPP: return DeletedIn(static_cast<const WaChat*>(record)->Messages);
    case INFO_CONTACT: return OwnFlag<ContactRecord>(record);
    case INFO_CALL: return OwnFlag<CallRecord>(record);
    case INFO_BOOKMARK: return OwnFlag<BookmarkRecord>(record);
    case INFO_REMINDER: return OwnFlag<ReminderRecord>(record);
    case INFO_NOTE: return OwnFlag<NoteRecord>(record);
    case INFO_CALENDAR: return OwnFlag<CalendarRecord>(record);
    case INFO_CAMERA_ROLL:
    case INFO_PHOTO_STREAM: return OwnFlag<MediaFile>(record);
    case INFO_APP_DOCUMENT:
    case INFO_APP_PICTURE:
    case INFO_APP_VIDEO:
    case INFO_MUSIC: return DeletedIn(static_cast<const MediaGroup*>(record)->Files);
    case INFO_SMS_ATTACHMENT:
    case INFO_VOICE_MEMO:
    case INFO_WHATSAPP_ATTACHMENT: return 0;  // these kinds carry no Deleted flag
  }
  return 0;
}

void ScanTally::Add(const void* record, _InfoType type) {
  if (type < 0 || type >= kInfoTypeCount) return;
  ++records[static_cast<std::size_t>(type)];
  deleted[static_cast<std::size_t>(type)] += static_cast<std::uint64_t>(DeletedItems(record, type));
}

}  // namespace sieve::cli
