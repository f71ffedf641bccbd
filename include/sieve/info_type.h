// The record kinds a scan delivers through the callback.
#pragma once

namespace sieve {

enum _InfoType : int {
  INFO_SMS = 0,             // SmsConversation
  INFO_SMS_ATTACHMENT = 1,  // SmsAttachment
  INFO_CONTACT = 2,         // ContactRecord
  INFO_CALL = 3,            // CallRecord
  INFO_VOICE_MEMO = 4,      // VoiceMemoRecord
  INFO_WHATSAPP = 5,        // WaChat
  INFO_WHATSAPP_ATTACHMENT = 6,  // WaAttachment
  INFO_BOOKMARK = 7,        // BookmarkRecord
  INFO_REMINDER = 8,        // ReminderRecord
  INFO_NOTE = 9,            // NoteRecord
  INFO_CALENDAR = 10,       // CalendarRecord
  INFO_CAMERA_ROLL = 11,    // MediaFile
  INFO_APP_DOCUMENT = 12,   // MediaGroup
  INFO_APP_PICTURE = 13,    // MediaGroup
  INFO_APP_VIDEO = 14,      // MediaGroup
  INFO_PHOTO_STREAM = 15,   // MediaFile
  INFO_MUSIC = 16,          // MediaGroup
};

constexpr int kInfoTypeCount = 17;

// Stable lower-case name of a record kind ("contacts", "calls", "camera-roll", ...);
// used by the command line's JSON output and by exported folder names; "unknown"
// for a value outside the table.
const char* InfoTypeName(int type);

// The percentage at which the scan has ended the step that delivers `type` (the
// scan visits the categories in a fixed order); 100 for an unknown kind.
float InfoTypeScanEnd(int type);

}  // namespace sieve
