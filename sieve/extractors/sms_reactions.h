// Tapbacks: newer Messages stores a reaction ("loved", "liked", ...) as a message row of
// its own that names the message it answers; its removal is another such row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/records.h"

namespace sieve {

struct Tapback {
  std::string answered;  // guid of the message reacted to
  std::string kind;      // "love", "like", ...
  bool removal = false;
};

// True for every associated_message_type of a tapback or of its removal.
bool IsTapbackType(std::int64_t associatedType);

// The tapback a row stands for: associated_message_type 2000 + kind (3000 + kind takes it
// back), associated_message_guid "p:<part>/<guid>" or "bp:<guid>". nullopt for other rows.
std::optional<Tapback> ParseTapback(std::int64_t associatedType, std::string_view associatedGuid);

// A sender keeps one reaction per message: a new one replaces theirs, a removal takes
// away theirs of that kind. Rows are applied in the order they were written.
void ApplyTapback(std::vector<SmsReaction>& reactions, const Tapback& tapback, const std::string& sender,
                  bool fromMe);

}  // namespace sieve
