// The one typed way from the callback's untyped record to its structure: which
// record structure each record kind carries, and a visitor that calls a function
// with the record as that structure. The JSON writer, the tallies, the program's
// scan session and its views all go through here, so a kind and its structure are
// paired in this file only.
#pragma once

#include <cstdint>
#include <utility>
#include <variant>

#include "sieve/info_type.h"
#include "sieve/records.h"

namespace sieve {

template <_InfoType T>
struct RecordOf;

#define SIEVE_RECORD_OF(kind, type) \
  template <>                       \
  struct RecordOf<kind> {           \
    using Type = type;              \
  }
SIEVE_RECORD_OF(INFO_SMS, SmsConversation);
SIEVE_RECORD_OF(INFO_SMS_ATTACHMENT, SmsAttachment);
SIEVE_RECORD_OF(INFO_CONTACT, ContactRecord);
SIEVE_RECORD_OF(INFO_CALL, CallRecord);
SIEVE_RECORD_OF(INFO_VOICE_MEMO, VoiceMemoRecord);
SIEVE_RECORD_OF(INFO_WHATSAPP, WaChat);
SIEVE_RECORD_OF(INFO_WHATSAPP_ATTACHMENT, WaAttachment);
SIEVE_RECORD_OF(INFO_BOOKMARK, BookmarkRecord);
SIEVE_RECORD_OF(INFO_REMINDER, ReminderRecord);
SIEVE_RECORD_OF(INFO_NOTE, NoteRecord);
SIEVE_RECORD_OF(INFO_CALENDAR, CalendarRecord);
SIEVE_RECORD_OF(INFO_CAMERA_ROLL, MediaFile);
SIEVE_RECORD_OF(INFO_APP_DOCUMENT, MediaGroup);
SIEVE_RECORD_OF(INFO_APP_PICTURE, MediaGroup);
SIEVE_RECORD_OF(INFO_APP_VIDEO, MediaGroup);
SIEVE_RECORD_OF(INFO_PHOTO_STREAM, MediaFile);
SIEVE_RECORD_OF(INFO_MUSIC, MediaGroup);
#undef SIEVE_RECORD_OF

template <_InfoType T>
using RecordType = typename RecordOf<T>::Type;

namespace detail {

template <int T>
constexpr bool HasRecordType() {
  if constexpr (T >= kInfoTypeCount) {
    return true;
  } else {
    return sizeof(RecordType<static_cast<_InfoType>(T)>) > 0 && HasRecordType<T + 1>();
  }
}
// A kind added to _InfoType without its structure here fails to compile.
static_assert(HasRecordType<0>(), "every record kind names its record structure");

template <int T, class F>
bool VisitFrom(const void* record, int type, F& f) {
  if constexpr (T >= kInfoTypeCount) {
    return false;
  } else {
    if (type == T) {
      constexpr auto kind = static_cast<_InfoType>(T);
      f(std::integral_constant<_InfoType, kind>{}, *static_cast<const RecordType<kind>*>(record));
      return true;
    }
    return VisitFrom<T + 1>(record, type, f);
  }
}

}  // namespace detail

// Calls f(std::integral_constant<_InfoType, kind>, const RecordType<kind>&) for a known
// kind and a non-null record; false (f not called) otherwise. The constant lets one
// overload serve kinds that share a structure (the media groups) and still tell them apart.
template <class F>
bool VisitRecord(const void* record, int type, F&& f) {
  if (record == nullptr) return false;
  return detail::VisitFrom<0>(record, type, f);
}

// Items a record stands for, as the category list counts them: a media group counts its
// files, every other record one.
inline std::int64_t RecordItemCount(const void* record, int type) {
  std::int64_t count = 0;
  VisitRecord(record, type, [&count](auto, const auto& r) {
    if constexpr (std::is_same_v<std::decay_t<decltype(r)>, MediaGroup>) {
      count = static_cast<std::int64_t>(r.Files.size());
    } else {
      count = 1;
    }
  });
  return count;
}

// A copy of any record, for receivers that keep records past the callback.
using AnyRecord = std::variant<SmsConversation, SmsAttachment, ContactRecord, CallRecord, VoiceMemoRecord, WaChat,
                               WaAttachment, BookmarkRecord, ReminderRecord, NoteRecord, CalendarRecord, MediaFile,
                               MediaGroup>;

}  // namespace sieve
