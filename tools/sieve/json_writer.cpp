#include "tools/sieve/json_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <ctime>

#include "sieve/time_zone.h"

#include "tools/sieve/utf8.h"

namespace sieve::cli {
namespace {

// Whether none of eight bytes needs more than copying: no control character, DEL, quote,
// backslash or byte of a multi-byte sequence. Tested a word at a time, as record texts are
// long runs of such bytes.
bool EightPlain(const char* p) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
  // Below 0x20: exact as no byte has its high bit set once the first test passed.
  const std::uint64_t below = (w - 0x20 * kOnes) & ~w & kHigh;
  return ((w & kHigh) | below | hasZero(w ^ (0x7F * kOnes)) | hasZero(w ^ (0x22 * kOnes)) |
          hasZero(w ^ (0x5C * kOnes))) == 0;
}

// The same for sixteen bytes at once, as a vector compare where the machine has one; for
// 16 * kVectors bytes, one test of the vectors' findings together (record texts run long,
// and a test per sixteen bytes cost more than the compares).
template <int kVectors>
bool PlainVectors(const char* p) {
  using Bytes = std::uint8_t __attribute__((vector_size(16)));
  Bytes bad{};
  for (int v = 0; v < kVectors; ++v) {
    Bytes b;
    std::memcpy(&b, p + 16 * v, 16);
    bad |= reinterpret_cast<Bytes>(b < 0x20) | reinterpret_cast<Bytes>(b >= 0x7F) | reinterpret_cast<Bytes>(b == '"') |
           reinterpret_cast<Bytes>(b == '\\');
  }
  std::uint64_t halves[2];
  std::memcpy(halves, &bad, 16);
  return (halves[0] | halves[1]) == 0;
}

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    // Runs of printable ASCII without quotes or backslashes go in one append.
    std::size_t plain = i;
    while (plain + 64 <= text.size() && PlainVectors<4>(text.data() + plain)) plain += 64;
    while (plain + 16 <= text.size() && PlainVectors<1>(text.data() + plain)) plain += 16;
    while (plain + 8 <= text.size() && EightPlain(text.data() + plain)) plain += 8;
    while (plain < text.size()) {
      const unsigned char p = static_cast<unsigned char>(text[plain]);
      if (p < 0x20 || p >= 0x7F || p == '"' || p == '\\') break;
      ++plain;
    }
    if (plain > i) {
      out.append(text.substr(i, plain - i));
      i = plain;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const std::size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        out += kReplacementCharacter;
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
}

}  // namespace

std::string IsoDateOf(std::int64_t seconds) {
  const auto moment = static_cast<std::time_t>(seconds);
  std::tm parts{};
  const bool utc = sieve::UtcTimes();
  if ((utc ? ::gmtime_r(&moment, &parts) : ::localtime_r(&moment, &parts)) == nullptr) return {};
  char text[64];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  if (utc) return std::string(text, length) + "Z";
  const long offset = parts.tm_gmtoff;
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char zone[48];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return std::string(text, length) + zone;
}

std::string IsoDateFromLocal(std::string_view text) {
  std::tm parts{};
  const std::string copy(text);
  int used = 0;
  const int read = std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon,
                               &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &used);
  if (read != 6 || used != 19 || copy.size() != 19) return copy;
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  parts.tm_isdst = -1;  // the zone's rules say whether summer time applied then
  const std::time_t moment = std::mktime(&parts);
  return moment == static_cast<std::time_t>(-1) ? copy : IsoDateOf(moment);
}

std::string IsoDate(std::string_view text) {
  const bool dateAndTime = text.size() == 19 && text[10] == ' ';
  if (dateAndTime && sieve::UtcTimes()) return std::string(text.substr(0, 10)) + "T" + std::string(text.substr(11)) + "Z";
  return IsoDateFromLocal(text);
}

JsonWriter& JsonWriter::DateField(std::string_view name, std::string_view text) {
  Key(name);
  return text.empty() ? Null() : String(IsoDate(text));
}

JsonWriter& JsonWriter::TimeField(std::string_view name, std::int64_t seconds) {
  Key(name);
  return seconds == 0 ? Null() : String(IsoDateOf(seconds));
}

std::string JsonQuote(std::string_view text) {
  std::string out;
  AppendQuoted(out, text);
  return out;
}

void AppendJsonString(std::string& out, std::string_view text) { AppendQuoted(out, text); }

char* WriteJsonInt(char* to, std::int64_t value) { return std::to_chars(to, to + kJsonNumberRoom, value).ptr; }

char* WriteJsonUint(char* to, std::uint64_t value) { return std::to_chars(to, to + kJsonNumberRoom, value).ptr; }

namespace {

// What std::to_chars gives for a number with a whole part and a few decimals (a price, a
// rate, a time with its fraction), found by scaling it by tens; nullptr for any other (to_chars
// then), as its general search costs several hundred instructions a number. Facts relied on,
// with m = |value| >= 1 not whole and m * 10^p < 2^51 (so that the product's rounding error is
// at most 1/8 and a decimal within half a step of m lies within 1/4 of m * 10^p):
// - the integer nearest m * 10^p is the only one N whose N / 10^p reads back as m, and it does
//   exactly when the correctly rounded division N / 10^p equals m;
// - with the least such p, no shorter decimal reads back as m (one with fewer places would
//   have been found first, a whole one is not m), and the plain form, N's digits with p
//   places, is shorter than the exponent form, which to_chars takes only when shorter.
char* FewDecimals(char* to, double value) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1.0) || magnitude == std::floor(magnitude)) return nullptr;
  constexpr double kLimit = 2251799813685248.0;  // 2^51
  double scale = 1.0;
  for (int places = 1; places <= 9; ++places) {
    scale *= 10.0;
    const double scaled = magnitude * scale;
    if (scaled >= kLimit) return nullptr;
    const double nearest = std::nearbyint(scaled);
    if (std::fabs(scaled - nearest) >= 0.375 || nearest / scale != magnitude) continue;
    auto digits = static_cast<std::uint64_t>(nearest);
    char text[kJsonNumberRoom];
    char* end = text + sizeof text;
    char* at = end;
    for (int place = 0; place < places; ++place, digits /= 10) *--at = static_cast<char>('0' + digits % 10);
    *--at = '.';
    do {
      *--at = static_cast<char>('0' + digits % 10);
      digits /= 10;
    } while (digits != 0);
    if (value < 0) *--at = '-';
    std::memcpy(to, at, static_cast<std::size_t>(end - at));
    return to + (end - at);
  }
  return nullptr;
}

}  // namespace

char* WriteJsonDouble(char* to, double value) {
  if (!std::isfinite(value)) {
    std::memcpy(to, "null", 4);
    return to + 4;
  }
  if (char* end = FewDecimals(to, value)) return end;
  // Shortest text that reads back as the same value, independent of the locale.
  return std::to_chars(to, to + kJsonNumberRoom, value).ptr;
}

// Appended by length, not as a range of iterators (which takes the string's slower path).
void AppendJsonInt(std::string& out, std::int64_t value) {
  char buffer[kJsonNumberRoom];
  out.append(buffer, static_cast<std::size_t>(WriteJsonInt(buffer, value) - buffer));
}

void AppendJsonUint(std::string& out, std::uint64_t value) {
  char buffer[kJsonNumberRoom];
  out.append(buffer, static_cast<std::size_t>(WriteJsonUint(buffer, value) - buffer));
}

void AppendJsonDouble(std::string& out, double value) {
  char buffer[kJsonNumberRoom];
  out.append(buffer, static_cast<std::size_t>(WriteJsonDouble(buffer, value) - buffer));
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!hasMembers_.empty()) {
    if (hasMembers_.back() != 0) out_ += ',';
    hasMembers_.back() = 1;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ += '{';
  hasMembers_.push_back(0);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ += '}';
  hasMembers_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ += '[';
  hasMembers_.push_back(0);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ += ']';
  hasMembers_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  // Names are mostly the program's own short words: copied in one piece when nothing in
  // them needs escaping.
  const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F && c != '"' && c != '\\';
  });
  if (plain) {
    out_ += '"';
    out_.append(name);
    out_.append("\":", 2);
  } else {
    AppendQuoted(out_, name);
    out_ += ':';
  }
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  AppendQuoted(out_, text);
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  AppendJsonInt(out_, value);
  return *this;
}

JsonWriter& JsonWriter::Uint(std::uint64_t value) {
  BeforeValue();
  AppendJsonUint(out_, value);
  return *this;
}

JsonWriter& JsonWriter::Double(double value) {
  BeforeValue();
  AppendJsonDouble(out_, value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

void JsonWriter::NewLine() {
  if (hasMembers_.empty()) out_ += '\n';
}

void JsonWriter::Clear() {
  out_.clear();
  hasMembers_.clear();
  afterKey_ = false;
}

}  // namespace sieve::cli
