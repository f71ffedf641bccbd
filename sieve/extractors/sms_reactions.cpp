#include "sieve/extractors/sms_reactions.h"

#include <algorithm>
#include <array>

namespace sieve {
namespace {

constexpr std::int64_t kAdded = 2000;
constexpr std::int64_t kRemoved = 3000;
// 2006 and 2007 are the emoji and sticker reactions of iOS 17 and later.
constexpr std::array<std::string_view, 8> kKinds = {"love",     "like",     "dislike", "laugh",
                                                    "emphasize", "question", "emoji",   "sticker"};

}  // namespace

bool IsTapbackType(std::int64_t associatedType) {
  return associatedType >= kAdded && associatedType < kRemoved + 1000;
}

std::optional<Tapback> ParseTapback(std::int64_t associatedType, std::string_view associatedGuid) {
  const bool removal = associatedType >= kRemoved;
  const std::int64_t kind = associatedType - (removal ? kRemoved : kAdded);
  if (!IsTapbackType(associatedType) || kind < 0 || kind >= static_cast<std::int64_t>(kKinds.size())) {
    return std::nullopt;
  }
  // "p:0/GUID" names a part of the message, "bp:GUID" the whole of it.
  if (associatedGuid.starts_with("bp:")) {
    associatedGuid.remove_prefix(3);
  } else if (associatedGuid.starts_with("p:") && associatedGuid.find('/') != std::string_view::npos) {
    associatedGuid.remove_prefix(associatedGuid.find('/') + 1);
  }
  if (associatedGuid.empty()) return std::nullopt;
  return Tapback{std::string(associatedGuid), std::string(kKinds[static_cast<std::size_t>(kind)]), removal};
}

void ApplyTapback(std::vector<SmsReaction>& reactions, const Tapback& tapback, const std::string& sender,
                  bool fromMe) {
  const std::string who = fromMe ? std::string() : sender;
  const auto bySender = [&](const SmsReaction& r) {
    return (r.IsFromMe != 0) == fromMe && r.Sender == who && (!tapback.removal || r.Kind == tapback.kind);
  };
  reactions.erase(std::remove_if(reactions.begin(), reactions.end(), bySender), reactions.end());
  if (!tapback.removal) reactions.push_back({tapback.kind, who, fromMe ? 1 : 0});
}

}  // namespace sieve
