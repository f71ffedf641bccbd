#include "sieve/extractors/whatsapp_system.h"

namespace sieve {

std::int32_t WaEventOf(std::int32_t messageType, std::optional<std::int64_t> groupEventType) {
  if (messageType == kWaNoticeType) return kWaEventOther;
  if (messageType != kWaGroupEventType) return kWaNoEvent;
  switch (groupEventType.value_or(0)) {
    case 1: return kWaEventSubject;
    case 2: return kWaEventJoined;
    case 3: return kWaEventLeft;
    case 4:
    case 5: return kWaEventPicture;  // changed or removed
    case 7: return kWaEventRemoved;
    case 11: return kWaEventCreated;
    default: return kWaEventOther;
  }
}

std::string WaMemberName(std::string_view contactName, std::string_view firstName, std::string_view pushName,
                         std::string_view memberJid) {
  for (const std::string_view name : {contactName, firstName, pushName}) {
    if (!name.empty()) return std::string(name);
  }
  return std::string(memberJid.substr(0, memberJid.rfind('@')));
}

bool IsGroupJid(std::string_view jid) { return jid.ends_with("@g.us"); }

}  // namespace sieve
