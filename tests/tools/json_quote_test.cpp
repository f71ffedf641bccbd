// JsonQuote (tools/sieve): runs of plain bytes are copied a word at a time, so every byte
// that needs escaping or checking must be caught wherever it sits in such a run. A carved
// row's line, written in one piece, has every member and value form of `sieve carve --json`.
// Reals are written as std::to_chars writes them, through a shortcut for few decimals.
#include <gtest/gtest.h>

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tools/sieve/carve_json.h"
#include "tools/sieve/json_writer.h"

namespace sieve::test {
namespace {

struct Special {
  std::string byte;    // what the text holds
  std::string quoted;  // what the JSON string holds for it
};

TEST(JsonQuote, SpecialBytesAreCaughtAtEveryPlaceOfAPlainRun) {
  const Special specials[] = {
      {"\"", "\\\""},         {"\\", "\\\\"},         {std::string(1, '\0'), "\\u0000"},
      {"\x1f", "\\u001f"},    {"\n", "\\u000a"},      {"\x7f", "\\u007f"},
      {"\xC3\xA9", "\xC3\xA9"},                        // a valid sequence is kept
      {"\xFF", "\xEF\xBF\xBD"},                        // an invalid byte becomes U+FFFD
      {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},        // a cut sequence too
  };
  // Around the special byte, the bytes next to the ones tested (space, '!', '#', '[', ']',
  // '~') must be copied as they are.
  std::string plain = " !#[]~abcdefghijklmnopqrstuvwxyz";
  plain += plain + plain;
  for (const Special& special : specials) {
    for (std::size_t length : {7u, 8u, 9u, 16u, 17u, 24u, 63u, 64u, 65u, 80u}) {
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string before = plain.substr(0, at);
        const std::string after = plain.substr(at, length - at);
        EXPECT_EQ(cli::JsonQuote(before + special.byte + after), "\"" + before + special.quoted + after + "\"")
            << "byte " << static_cast<int>(static_cast<unsigned char>(special.byte[0])) << " at " << at << " of "
            << length;
      }
    }
  }
}

// Blobs are written as base64, each group of three bytes in place: every length of the last
// group and bytes with the high bit set.
TEST(JsonDouble, SameTextAsToChars) {
  std::vector<double> values = {1.5, -1.5, 0.5, 39.25, -39.75, 1e15 + 0.5, 225179981368524.7, 123456789.123456789,
                                9.999999999999999, 1.0000000000000002, 1.1, 2.675, 0.1 + 0.2, 1e-7, -0.0, 0.0, 5e-324,
                                DBL_MAX, 100.0, 1e5, 123456.0, 694224000.123456, 694224000.1234567, 3.0000000001};
  std::mt19937_64 random(7);
  // Decimals of one to eleven places at many magnitudes, read as C reads them, and their
  // neighbouring doubles; then doubles of any bits.
  for (int places = 1; places <= 11; ++places) {
    for (int i = 0; i < 400; ++i) {
      const std::uint64_t digits = random() % (std::uint64_t{1} << (8 + i % 45));
      const std::string text = std::to_string(digits) + "e-" + std::to_string(places);
      const double value = std::strtod(text.c_str(), nullptr);
      for (const double v : {value, std::nextafter(value, 0.0), std::nextafter(value, 1e300), -value}) values.push_back(v);
    }
  }
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    values.push_back(std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 60)));
  }
  for (const double value : values) {
    char expected[64];
    const char* end = std::to_chars(expected, expected + sizeof expected, value).ptr;
    char written[64];
    const char* writtenEnd = cli::WriteJsonDouble(written, value);
    const std::string want = std::isfinite(value) ? std::string(static_cast<const char*>(expected), end) : "null";
    ASSERT_EQ(std::string(static_cast<const char*>(written), writtenEnd), want);
  }
}

TEST(Base64, EncodesAsRfc4648) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {"\xff\xfe\xfd", "//79"}, {std::string("\0\0", 2), "AAA="},
  };
  for (const auto& [bytes, encoded] : cases) EXPECT_EQ(cli::Base64(bytes), encoded) << encoded;
}

TEST(CarvedRowLine, EveryMemberAndValueForm) {
  using sqlite::CarvedValue;
  using sqlite::ValueKind;
  const auto value = [](ValueKind kind, std::int64_t integer, double real, std::string bytes) {
    CarvedValue v;
    v.kind = kind;
    v.integer = integer;
    v.real = real;
    v.bytes = std::move(bytes);
    return v;
  };
  sqlite::CarvedRow plain;
  plain.table = "message";
  plain.source = sqlite::CarveSource::Freeblock;
  plain.page = 7;
  plain.offset = 4096 * 6 + 100;
  plain.rowid = -3;
  plain.values = {value(ValueKind::kNull, 0, 0, ""), value(ValueKind::kInteger, INT64_MIN, 0, ""),
                  value(ValueKind::kReal, 0, 0.1, ""), value(ValueKind::kReal, 0, 1e300 * 1e300, ""),
                  value(ValueKind::kText, 0, 0, "say \"hi\"\n"), value(ValueKind::kBlob, 0, 0, "foob")};
  sqlite::CarvedRow unclaimed;
  unclaimed.source = sqlite::CarveSource::Wal;
  unclaimed.page = 1;
  unclaimed.alsoIn = {sqlite::CarveSource::Freelist, sqlite::CarveSource::Unallocated};
  unclaimed.partial = true;
  // Wider than the writer gathers at once: a long name, and numbers and short texts past
  // every boundary of its buffer.
  sqlite::CarvedRow wide;
  wide.table = std::string(300, 't');
  wide.source = sqlite::CarveSource::Overflow;
  std::string wideValues;
  for (int i = 0; i < 40; ++i) {
    wide.values.push_back(i % 3 == 2 ? value(ValueKind::kText, 0, 0, std::string(static_cast<std::size_t>(i), 'x'))
                                     : value(ValueKind::kInteger, INT64_MIN + i, 0, ""));
    wideValues += (i > 0 ? "," : "") + (i % 3 == 2 ? "\"" + std::string(static_cast<std::size_t>(i), 'x') + "\""
                                                   : std::to_string(INT64_MIN + i));
  }
  const std::string wideLine = R"({"table":")" + wide.table + R"(","source":"overflow","page":0,"offset":0,)"
                               R"("rowid":null,"values":[)" + wideValues + "]}";
  const std::pair<const sqlite::CarvedRow*, std::string> cases[] = {
      {&wide, wideLine},
      {&plain,
       R"({"table":"message","source":"freeblock","page":7,"offset":24676,"rowid":-3,"values":)"
       R"([null,-9223372036854775808,0.1,null,"say \"hi\"\u000a",{"base64":"Zm9vYg=="}]})"},
      {&unclaimed,
       R"({"table":null,"source":"wal","page":1,"offset":0,"rowid":null,"values":[],)"
       R"("also_in":["freelist","unallocated"],"partial":true})"},
  };
  cli::JsonWriter lines;
  std::string expected;
  for (const auto& [row, line] : cases) {
    cli::JsonWriter one;
    cli::WriteCarvedRow(one, *row);
    EXPECT_EQ(one.Text(), line);
    cli::WriteCarvedRow(lines, *row);
    lines.NewLine();
    expected += line + "\n";
  }
  EXPECT_EQ(lines.Text(), expected);
}

}  // namespace
}  // namespace sieve::test
