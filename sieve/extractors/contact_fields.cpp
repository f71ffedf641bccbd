#include "sieve/extractors/contact_fields.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"

namespace sieve {
namespace {

void FillOrKeep(std::string& field, ContactRecord& record, const std::string& value) {
  if (field.empty()) {
    field = value;
  } else {
    record.Others.push_back(value);
  }
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

LabelKind ClassifyLabel(std::string_view labelText) {
  if (labelText == "_$!<Home>!$_") return LabelKind::Home;
  if (labelText == "_$!<Work>!$_") return LabelKind::Work;
  if (labelText == "_$!<Mobile>!$_" || labelText == "iPhone") return LabelKind::Mobile;
  if (labelText == "_$!<HomePage>!$_") return LabelKind::HomePage;
  return LabelKind::Other;
}

void PlaceMultiValue(ContactRecord& record, std::int64_t property, LabelKind label, const std::string& value) {
  switch (property) {
    case kPropertyPhone:
      if (label == LabelKind::Home) {
        FillOrKeep(record.HomePhone, record, value);
      } else if (label == LabelKind::Work) {
        FillOrKeep(record.WorkPhone, record, value);
      } else {
        // A mobile number is the contact's main number and is listed with the others too.
        if (label == LabelKind::Mobile) record.Phone = value;
        record.Others.push_back(value);
      }
      return;
    case kPropertyEmail:
      if (record.HomeEmail.empty()) {
        record.HomeEmail = value;
        if (label == LabelKind::Work && record.WorkEmail.empty()) record.WorkEmail = value;
      } else if (label == LabelKind::Work && record.WorkEmail.empty()) {
        record.WorkEmail = value;
      } else {
        record.Others.push_back(value);
      }
      return;
    case kPropertyWebPage:
      FillOrKeep(record.HomePage, record, value);
      return;
    default:
      record.Others.push_back(value);
      return;
  }
}

void OrderAddressParts(AddressParts& parts) {
  static constexpr std::string_view kOrder[] = {"Street", "City", "SubLocality", "State", "SubAdministrativeArea",
                                                "ZIP", "Country", "CountryCode"};
  const auto rank = [](const std::string& key) {
    const auto* at = std::find(std::begin(kOrder), std::end(kOrder), key);
    return static_cast<std::size_t>(at - std::begin(kOrder));
  };
  std::stable_sort(parts.begin(), parts.end(), [&](const auto& a, const auto& b) { return rank(a.first) < rank(b.first); });
}

std::string JoinAddressParts(const AddressParts& parts) {
  // The country code repeats the country, for machines.
  const bool country = std::any_of(parts.begin(), parts.end(),
                                   [](const auto& part) { return part.first == "Country" && !part.second.empty(); });
  std::string text;
  for (const auto& [key, value] : parts) {
    if (value.empty() || (country && key == "CountryCode")) continue;
    if (!text.empty()) text += ", ";
    text += value;
  }
  return text;
}

std::string BirthdayText(std::string_view stored) {
  const std::string text(Trim(stored));
  if (text.empty()) return {};
  errno = 0;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(seconds)) return std::string(stored);
  return MacDateOnlyText(seconds);
}

std::string PhoneKey(std::string_view number) {
  std::string digits;
  for (const char c : number) {
    if (c >= '0' && c <= '9') digits.push_back(c);
  }
  return digits.size() >= kMinPhoneDigits ? digits : std::string{};
}

bool SamePhone(std::string_view keyA, std::string_view keyB) {
  // Leading zeros are trunk or international prefixes ("020 ...", "0044 ..."), not the line.
  while (!keyA.empty() && keyA.front() == '0') keyA.remove_prefix(1);
  while (!keyB.empty() && keyB.front() == '0') keyB.remove_prefix(1);
  const std::size_t n = std::min(keyA.size(), keyB.size());
  if (n < kMinPhoneDigits) return false;
  return keyA.substr(keyA.size() - n) == keyB.substr(keyB.size() - n);
}

std::string EmailKey(std::string_view address) {
  const std::string_view trimmed = Trim(address);
  if (trimmed.find('@') == std::string_view::npos) return {};
  return ToLowerAscii(trimmed);
}

}  // namespace sieve
