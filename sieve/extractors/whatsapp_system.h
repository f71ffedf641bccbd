// How WhatsApp marks the lines of a chat that no one wrote, and whom a group line names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sieve/whatsapp_event.h"

namespace sieve {

// ZMESSAGETYPE values: 5 a shared location; 6 a group event (what happened is in
// ZGROUPEVENTTYPE), 10 a notice of the app itself.
constexpr std::int32_t kWaLocationType = 5;
constexpr std::int32_t kWaGroupEventType = 6;
constexpr std::int32_t kWaNoticeType = 10;

// The WaEvent of a message: kWaNoEvent for one someone wrote.
std::int32_t WaEventOf(std::int32_t messageType, std::optional<std::int64_t> groupEventType);

// The name a group line gives its member: the address-book name, else the first name, else
// the name the member chose (push name), else the number of the member's JID; "" when none.
std::string WaMemberName(std::string_view contactName, std::string_view firstName, std::string_view pushName,
                         std::string_view memberJid);

bool IsGroupJid(std::string_view jid);

}  // namespace sieve
