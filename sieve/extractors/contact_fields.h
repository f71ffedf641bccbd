// How the address book's multi-values (phone numbers, e-mails, web pages, addresses) land in
// the fields of a ContactRecord, and the keys a phone number or e-mail is looked up by.
// Shared by the live read and the recovery of deleted people.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sieve/records.h"

namespace sieve {

// Property numbers of ABMultiValue; these are the same in every database.
inline constexpr std::int64_t kPropertyPhone = 3;
inline constexpr std::int64_t kPropertyEmail = 4;
inline constexpr std::int64_t kPropertyAddress = 5;
inline constexpr std::int64_t kPropertyWebPage = 22;

// What a label row says. The label column is a row id into ABMultiValueLabel, whose
// numbering differs from one database to the next, so only the label's text counts.
enum class LabelKind { Home, Work, Mobile, HomePage, Other };
LabelKind ClassifyLabel(std::string_view labelText);

// Places one multi-value: phones by label into HomePhone / WorkPhone / Phone, the first
// e-mail into HomeEmail (a work e-mail also into WorkEmail), the first web page into
// HomePage; what finds no field of its own goes to Others, in row order.
void PlaceMultiValue(ContactRecord& record, std::int64_t property, LabelKind label, const std::string& value);

// A street address's parts put in reading order (Street, City, State, ZIP, Country, then
// any other key as it came), and their values joined by ", " into one line.
using AddressParts = std::vector<std::pair<std::string, std::string>>;
void OrderAddressParts(AddressParts& parts);
std::string JoinAddressParts(const AddressParts& parts);

// Birthday is stored as seconds since 2001 in a text column: shown as a date; a text that
// is not a number stays as it is.
std::string BirthdayText(std::string_view stored);

// The digits of a phone number, "" when it holds fewer than kMinPhoneDigits.
inline constexpr std::size_t kMinPhoneDigits = 7;
std::string PhoneKey(std::string_view number);
// True when two phone keys name the same line: their trailing digits agree over the length
// of the shorter one, leading zeros aside (so a country code or trunk prefix on one side
// does not matter), and that tail holds at least kMinPhoneDigits digits.
bool SamePhone(std::string_view keyA, std::string_view keyB);
// An e-mail address trimmed and in lower case (ASCII), "" when it has no "@".
std::string EmailKey(std::string_view address);

}  // namespace sieve
