// A small JSON writer. Text is expected in UTF-8; bytes that are not valid
// UTF-8 (a hostile backup can hold any) are written as U+FFFD so that the
// output is always valid JSON.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::cli {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the open object.
  JsonWriter& Key(std::string_view name);

  JsonWriter& String(std::string_view text);
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Uint(std::uint64_t value);
  // Non-finite values have no JSON form and become null.
  JsonWriter& Double(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // Key(name) followed by the value.
  JsonWriter& Field(std::string_view name, std::string_view text) { return Key(name).String(text); }
  JsonWriter& Field(std::string_view name, const char* text) { return Key(name).String(text); }
  JsonWriter& Field(std::string_view name, const std::string& text) { return Key(name).String(text); }
  JsonWriter& Field(std::string_view name, std::int32_t value) { return Key(name).Int(value); }
  JsonWriter& Field(std::string_view name, std::int64_t value) { return Key(name).Int(value); }
  JsonWriter& Field(std::string_view name, std::uint64_t value) { return Key(name).Uint(value); }
  JsonWriter& Field(std::string_view name, std::uint32_t value) { return Key(name).Uint(value); }
  JsonWriter& Field(std::string_view name, double value) { return Key(name).Double(value); }
  JsonWriter& Field(std::string_view name, bool value) { return Key(name).Bool(value); }
  // A library date text as ISO 8601 (IsoDate), null for "" (no date).
  JsonWriter& DateField(std::string_view name, std::string_view text);
  // Seconds since 1970 as ISO 8601 (IsoDateOf), null for 0 (not known).
  JsonWriter& TimeField(std::string_view name, std::int64_t seconds);
  // The library's 0/1 flags.
  JsonWriter& FlagField(std::string_view name, std::int32_t flag) { return Key(name).Bool(flag != 0); }

  // For a value the caller writes in one piece (valid JSON, as the Append functions below
  // make): writes the separator before it and returns the text to append it to.
  std::string& RawValue() {
    BeforeValue();
    return out_;
  }

  // Ends a line between whole documents (JSON Lines); nothing inside an open one.
  void NewLine();
  const std::string& Text() const { return out_; }
  // Empties the text for the next document.
  void Clear();

 private:
  void BeforeValue();

  std::string out_;
  std::vector<std::uint8_t> hasMembers_;  // one entry per open object or array (bytes: bits cost more to set)
  bool afterKey_ = false;
};

// The library's date text "YYYY-MM-DD hh:mm:ss" (the computer's zone, or UTC
// with --utc) as ISO 8601 with the offset of that moment in that zone:
// "2016-06-14T18:12:45+08:00", or "...Z" in UTC. Other text (a date without a
// time, as birthdays are) is returned as it is.
std::string IsoDate(std::string_view text);
// The same for a date text that is on the computer's clock even with --utc.
std::string IsoDateFromLocal(std::string_view text);
// Seconds since 1970 in the same form.
std::string IsoDateOf(std::int64_t seconds);

// The JSON string literal of `text`, quotes included.
std::string JsonQuote(std::string_view text);

// The same appended to `out`, and numbers as the writer writes them (a non-finite real as
// null), for values written in one piece.
void AppendJsonString(std::string& out, std::string_view text);
void AppendJsonInt(std::string& out, std::int64_t value);
void AppendJsonUint(std::string& out, std::uint64_t value);
void AppendJsonDouble(std::string& out, double value);

// The same numbers written at `to`, which has room for kJsonNumberRoom characters; give the
// end of what they wrote.
inline constexpr std::size_t kJsonNumberRoom = 32;
char* WriteJsonInt(char* to, std::int64_t value);
char* WriteJsonUint(char* to, std::uint64_t value);
char* WriteJsonDouble(char* to, double value);

}  // namespace sieve::cli
