// The typedstream reader against archives laid out as Messages writes an attributed body,
// and against damaged and hostile ones. (References to earlier strings and classes are in
// every body tools/mkbackup writes, read by the messages tests of iOS 13 and later.)
#include "sieve/extractors/typedstream.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace sieve::typedstream {
namespace {

// Writes the tokens of an archive; strings and classes are written new each time unless the
// test passes a reference byte itself.
struct Writer {
  std::vector<std::uint8_t> out;
  Writer() {
    static constexpr std::string_view kHeader("\x04\x0Bstreamtyped\x81\xE8\x03", 16);
    out.assign(kHeader.begin(), kHeader.end());
  }

  Writer& Byte(std::uint8_t b) { out.push_back(b); return *this; }
  Writer& Integer(std::int64_t v) {
    if (v >= -110 && v < 128) return Byte(static_cast<std::uint8_t>(v));
    Byte(0x81).Byte(static_cast<std::uint8_t>(v & 0xFF)).Byte(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    return *this;
  }
  Writer& Counted(const std::string& s) {
    Integer(static_cast<std::int64_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
    return *this;
  }
  Writer& New(const std::string& s) { return Byte(0x84).Counted(s); }
  // New classes, most derived first, ending in nil.
  Writer& Classes(std::initializer_list<std::string> chain) {
    for (const std::string& name : chain) Byte(0x84).New(name).Byte(0);
    return Byte(0x85);
  }
};

// An attributed body: an attributed string of `outer` classes holding a string of `inner`
// classes with `text`, then one attribute run with a dictionary, as Messages archives it.
std::vector<std::uint8_t> Body(const std::string& text, std::initializer_list<std::string> outer,
                               std::initializer_list<std::string> inner) {
  Writer w;
  w.New("@").Byte(0x84).Classes(outer);
  w.Byte(0x92).Byte(0x84).Classes(inner).New("+").Counted(text).Byte(0x86);
  w.New("iI").Integer(1).Integer(static_cast<std::int64_t>(text.size()));
  w.Byte(0x92).Byte(0x84).Classes({"NSDictionary", "NSObject"}).New("i").Integer(0);
  w.Byte(0x86).Byte(0x86);
  return w.out;
}

TEST(Typedstream, AttributedTextOfEveryKindOfBody) {
  const std::string longText(300, 'x');
  const struct {
    const char* what;
    std::vector<std::uint8_t> body;
    std::optional<std::string> text;
  } cases[] = {
      {"plain", Body("Hello", {"NSAttributedString", "NSObject"}, {"NSString", "NSObject"}), "Hello"},
      {"mutable", Body("Hi", {"NSMutableAttributedString", "NSAttributedString", "NSObject"},
                       {"NSMutableString", "NSString", "NSObject"}), "Hi"},
      {"long text, two-byte length", Body(longText, {"NSAttributedString", "NSObject"}, {"NSString", "NSObject"}),
       longText},
      {"multibyte kept, broken bytes replaced",
       Body("caf\xC3\xA9 \xFF", {"NSAttributedString", "NSObject"}, {"NSString", "NSObject"}), "caf\xC3\xA9 \xEF\xBF\xBD"},
      {"empty text", Body("", {"NSAttributedString", "NSObject"}, {"NSString", "NSObject"}), ""},
      {"no attributed string", Body("Hello", {"NSData", "NSObject"}, {"NSString", "NSObject"}), std::nullopt},
      {"not a typedstream", {0x62, 0x70, 0x6C, 0x69, 0x73, 0x74, 0x30, 0x30}, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(AttributedText(c.body), c.text) << c.what;
}

TEST(Typedstream, CutOrHostileArchivesFailCleanly) {
  const auto body = Body("Hello there", {"NSAttributedString", "NSObject"}, {"NSString", "NSObject"});
  // The text survives a cut that leaves its bytes whole, and only such a cut.
  std::size_t textEnd = 0;
  for (std::size_t i = 0; i + 11 <= body.size(); ++i) {
    if (std::string(body.begin() + static_cast<std::ptrdiff_t>(i), body.begin() + static_cast<std::ptrdiff_t>(i + 11)) ==
        "Hello there") {
      textEnd = i + 11;
    }
  }
  ASSERT_GT(textEnd, 0u);
  for (std::size_t cut = 0; cut < body.size(); ++cut) {
    const std::vector<std::uint8_t> part(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(AttributedText(part).has_value(), cut >= textEnd) << cut;
    if (const auto archive = Decode(part); archive && cut > 16) {  // 16: the header alone, an empty archive
      EXPECT_FALSE(archive->complete) << cut;
    }
  }

  Writer deep;
  deep.New("@");
  for (int i = 0; i < 5000; ++i) deep.Byte(0x84).Byte(0x84).New("N" + std::to_string(i)).Byte(0).Byte(0x85).New("@");
  Writer unknownReference;
  unknownReference.New("@").Byte(0x84).Byte(0xA0);
  Writer classAsObject;  // an object reference that names a class
  classAsObject.New("@").Byte(0x84).Classes({"NSAttributedString"}).New("@").Byte(0x93);
  Writer lyingLength;
  lyingLength.New("@").Byte(0x84).Classes({"NSAttributedString"}).Byte(0x92).Byte(0x84).Classes({"NSString"});
  lyingLength.New("+").Byte(0x82).Byte(0xFF).Byte(0xFF).Byte(0xFF).Byte(0x7F);
  Writer hugeArray;
  hugeArray.New("[99999999999i]").Integer(1);
  for (const auto* hostile : {&deep, &unknownReference, &classAsObject, &lyingLength, &hugeArray}) {
    const auto archive = Decode(hostile->out);
    ASSERT_TRUE(archive);
    EXPECT_FALSE(archive->complete);
    EXPECT_FALSE(AttributedText(hostile->out));
  }
}

}  // namespace
}  // namespace sieve::typedstream
