// JsonQuote (tools/sieve): runs of plain bytes are copied a word at a time, so every byte
// that needs escaping or checking must be caught wherever it sits in such a run.
#include <gtest/gtest.h>

#include <string>
#include <utility>

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
  const std::string plain = " !#[]~abcdefghijklmnopqrstuvwxyz";
  for (const Special& special : specials) {
    for (std::size_t length : {7u, 8u, 9u, 16u, 17u, 24u}) {
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
TEST(Base64, EncodesAsRfc4648) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},          {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
      {"\xff\xfe\xfd", "//79"}, {std::string("\0\0", 2), "AAA="},
  };
  for (const auto& [bytes, encoded] : cases) EXPECT_EQ(cli::Base64(bytes), encoded) << encoded;
}

}  // namespace
}  // namespace sieve::test
