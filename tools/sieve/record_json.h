// JSON form of the record structures a scan delivers: every field under its
// own name, nested lists as arrays. File keys are secrets and appear only as
// a boolean ("FileKey"/"Key": true when the record carries one).
#pragma once

#include <string>

#include "sieve/info_type.h"
#include "sieve/records.h"
#include "tools/sieve/json_writer.h"

namespace sieve::cli {

// Each writes the members of one record into the object the writer has open.
void WriteFields(JsonWriter& json, const ContactRecord& record);
void WriteFields(JsonWriter& json, const SmsMessage& record);
void WriteFields(JsonWriter& json, const SmsConversation& record);
void WriteFields(JsonWriter& json, const SmsAttachment& record);
void WriteFields(JsonWriter& json, const CallRecord& record);
void WriteFields(JsonWriter& json, const WaMessage& record);
void WriteFields(JsonWriter& json, const WaChat& record);
void WriteFields(JsonWriter& json, const WaAttachment& record);
void WriteFields(JsonWriter& json, const NoteRecord& record);
void WriteFields(JsonWriter& json, const CalendarRecord& record);
void WriteFields(JsonWriter& json, const ReminderRecord& record);
void WriteFields(JsonWriter& json, const BookmarkRecord& record);
void WriteFields(JsonWriter& json, const VoiceMemoRecord& record);
void WriteFields(JsonWriter& json, const MediaFile& record);
void WriteFields(JsonWriter& json, const MediaGroup& record);

// One delivered record as a whole object: {"type": N, "category": name, fields...}.
// `record` points at the structure that `type` names; an unknown type gives
// only the type and category members.
void WriteRecord(JsonWriter& json, const void* record, _InfoType type);

}  // namespace sieve::cli
