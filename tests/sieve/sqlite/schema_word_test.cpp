// MayHoldCreateWord: the UTF-8 search tests thirty-two offsets at a time (sixteen, then one by
// one, near the end), so the word must be found wherever it sits against those blocks and the
// region's end, and only in its two cases.
#include <gtest/gtest.h>

#include <string>

#include "sieve/sqlite/schema_word.h"

namespace sieve::sqlite {
namespace {

bool Holds(const std::string& text, TextEncoding encoding = TextEncoding::kUtf8) {
  return MayHoldCreateWord({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, encoding);
}

TEST(SchemaWord, FoundAtEveryPlaceInItsTwoCasesOnly) {
  const struct {
    std::string word;
    bool holds;
  } cases[] = {{"REATE", true}, {"reate", true}, {"ReAtE", false}, {"rEATE", false}, {"REAT", false}, {"eate", false}};
  // The filler has letters of the word but no R or E, so it never completes one.
  const std::string filler = "CxATdxatxat-a AT";
  for (const auto& c : cases) {
    for (std::size_t size : {5u, 16u, 20u, 21u, 36u, 37u, 52u, 64u, 70u}) {
      for (std::size_t at = 0; at + c.word.size() <= size; ++at) {
        std::string text;
        while (text.size() < size) text += filler;
        text.resize(size);
        text.replace(at, c.word.size(), c.word);
        EXPECT_EQ(Holds(text), c.holds) << c.word << " at " << at << " of " << size << ": " << text;
      }
    }
  }
  EXPECT_FALSE(Holds(""));
  EXPECT_FALSE(Holds(std::string(100, '\0')));
  EXPECT_TRUE(Holds(std::string("\0R\0E\0A\0T\0E\0", 11), TextEncoding::kUtf16be));
  EXPECT_FALSE(Holds(std::string("REATE"), TextEncoding::kUtf16le));
}

}  // namespace
}  // namespace sieve::sqlite
