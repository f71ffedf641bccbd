// Records of any kind for tests that drive every category the same way: a record of
// the kind with some hostile text in it, deleted or not where the kind can be.
#pragma once

#include <string>
#include <variant>

#include "sieve/record_visit.h"

namespace quarry::views::test {

template <int T = 0>
sieve::AnyRecord EmptyRecordOf(int type) {
  if constexpr (T >= sieve::kInfoTypeCount) {
    return {};
  } else {
    if (type == T) return sieve::RecordType<static_cast<sieve::_InfoType>(T)>{};
    return EmptyRecordOf<T + 1>(type);
  }
}

// A record of the kind with some text in it; deleted or not where the kind can be.
inline sieve::AnyRecord SampleOf(int type, int n, bool deleted) {
  sieve::AnyRecord record = EmptyRecordOf(type);
  const std::string text = "item " + std::to_string(n) + " <b>&\"'";
  std::visit(
      [&](auto& r) {
        using R = std::decay_t<decltype(r)>;
        if constexpr (requires { r.Deleted; }) r.Deleted = deleted ? 1 : 0;
        if constexpr (std::is_same_v<R, sieve::MediaGroup>) {
          r.Name = "group";
          sieve::MediaFile file;
          file.Deleted = deleted ? 1 : 0;
          file.FileName = text + ".jpg";
          file.FilePath = "/nonexistent/" + std::to_string(n);
          r.Files.push_back(std::move(file));
        } else if constexpr (std::is_same_v<R, sieve::MediaFile>) {
          r.FileName = text + ".jpg";
        } else if constexpr (std::is_same_v<R, sieve::SmsConversation>) {
          r.Address = text;
          r.Messages.push_back({deleted ? 1 : 0, 1, n, text, "2015-01-02 03:04:05", "OUT", "", ""});
        } else if constexpr (std::is_same_v<R, sieve::WaChat>) {
          r.PartnerName = text;
          r.Messages.push_back({deleted ? 1 : 0, 1, 0, text, "2015-01-02 03:04:05", ""});
        } else if constexpr (std::is_same_v<R, sieve::ContactRecord>) {
          r.First = text;
        } else if constexpr (requires { r.Title; }) {
          r.Title = text;
        } else if constexpr (requires { r.Summary; }) {
          r.Summary = text;
        } else if constexpr (requires { r.Address; }) {
          r.Address = text;
        } else if constexpr (requires { r.FileName; }) {
          r.FileName = text;
        } else if constexpr (requires { r.Text; }) {
          r.Text = text;
        }
      },
      record);
  return record;
}

// Whether records of the kind can be recovered ones (some kinds only come from live rows).
inline bool CanBeDeleted(int type) {
  bool can = false;
  std::visit(
      [&](const auto& r) {
        using R = std::decay_t<decltype(r)>;
        can = requires { r.Deleted; } || requires { r.Messages; } || std::is_same_v<R, sieve::MediaGroup>;
      },
      EmptyRecordOf(type));
  return can;
}

}  // namespace quarry::views::test
