#include "sieve/info_type.h"

namespace sieve {

const char* InfoTypeName(int type) {
  static const char* const kNames[kInfoTypeCount] = {
      "messages",      "message-attachments", "contacts",      "calls",        "voice-memos",
      "whatsapp",      "whatsapp-attachments", "safari",       "reminders",    "notes",
      "calendar",      "camera-roll",         "app-documents", "app-pictures", "app-videos",
      "photo-stream",  "music",
  };
  if (type < 0 || type >= kInfoTypeCount) return "unknown";
  return kNames[type];
}

}  // namespace sieve
