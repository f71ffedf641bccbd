#include <gtest/gtest.h>

#include <cstring>

#include "sieve/path_safety.h"
#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"
#include "sieve/reader/version.h"

namespace sieve {
namespace {

TEST(DateText, FixedWallClockAndEmptyDate) {
  EXPECT_EQ(MacTimeText(std::int64_t{0}), kEmptyDateText);
  EXPECT_EQ(UnixTimeText(std::int64_t{0}), "1970-01-01 08:00:00");
  // 2016-06-14 10:12:45 UTC is 18:12:45 on the UTC+8 clock.
  EXPECT_EQ(UnixTimeText(std::int64_t{1465899165}), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::int64_t{1465899165 - kSecondsFrom1970To2001}), "2016-06-14 18:12:45");
  // Dates of 2026 and later keep their year.
  EXPECT_EQ(UnixTimeText(std::int64_t{1798761600}), "2027-01-01 08:00:00");
  EXPECT_EQ(MacTimeText(std::int64_t{1798761600 - kSecondsFrom1970To2001}), "2027-01-01 08:00:00");
  // Before 1970 and across a leap day.
  EXPECT_EQ(UnixTimeText(std::int64_t{-86400}), "1969-12-31 08:00:00");
  EXPECT_EQ(UnixTimeText(std::int64_t{951782400}), "2000-02-29 08:00:00");
}

TEST(DateText, UnitDetection) {
  const std::int64_t mac = 1465899165 - kSecondsFrom1970To2001;
  // Nanoseconds (newer message stores) and milliseconds.
  EXPECT_EQ(MacTimeText(mac * 1000000000), "2016-06-14 18:12:45");
  EXPECT_EQ(UnixTimeText(std::int64_t{1465899165000}), "2016-06-14 18:12:45");
  // A "since 2001" value that is already seconds since 1970.
  EXPECT_EQ(MacTimeText(std::int64_t{1465899165}), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeTextFromDouble(static_cast<double>(mac) + 0.75), "2016-06-14 18:12:45");
}

TEST(DateText, TextForms) {
  EXPECT_EQ(UnixTimeText(std::string_view("1465899165.987")), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::string_view("487591965")), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::string_view("not a number")), kEmptyDateText);
  EXPECT_EQ(MacTimeText(std::string_view("")), kEmptyDateText);
  EXPECT_EQ(MacDateOnlyText(487591965.0), "2016-06-14");
}

TEST(Versions, ComparedAsNumbers) {
  EXPECT_LT(CompareVersions("9.3.2", "10.0"), 0);
  EXPECT_GT(CompareVersions("10.3", "9.3.5"), 0);
  EXPECT_EQ(CompareVersions("10", "10.0.0"), 0);
  EXPECT_LT(CompareVersions("5.1.1", "5.1.10"), 0);
  EXPECT_LT(CompareVersions("", "5"), 0);
  EXPECT_EQ(CompareVersions("9.3b1", "9.3"), 0);
}

TEST(Text, Utf16AndInvalidUtf8BecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(u"Grüße ?"), "Grüße ?");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(SanitizeUtf8("ok?\xFF" "x"), "ok?\xEF\xBF\xBD" "x");
  EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong "/"
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80").find('\xED'), std::string::npos);  // encoded surrogate
  EXPECT_TRUE(IsValidUtf8("Grüße"));
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
}

TEST(Text, BufferCopiesAreCutAtCharacterBoundaries) {
  char buffer[6];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(CopyToBuffer("abcü", buffer, 5), 3u);  // ü needs two bytes; only one fits
  EXPECT_STREQ(buffer, "abc");
  const std::string huge(5000, 'n');
  char small[1024];
  EXPECT_EQ(CopyToBuffer(huge, small, sizeof small), 1023u);
  EXPECT_EQ(small[1023], '\0');
  EXPECT_EQ(CopyToBuffer("abc", buffer, 0), 0u);
}

TEST(PathSafety, RelativePathsThatCannotEscape) {
  EXPECT_TRUE(IsSafeRelativePath("Library/SMS/sms.db"));
  EXPECT_TRUE(IsSafeRelativePath("a..b/c"));
  for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a/./b", "a//b", "a/", "a\\b"}) {
    EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
  }
  EXPECT_FALSE(IsSafeRelativePath(std::string_view("a\0b", 3)));
  EXPECT_EQ(SafeFileName("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(SafeFileName(".."), "_");
  EXPECT_EQ(SafeFileName(""), "_");
  EXPECT_EQ(SafeFileName(std::string_view("x\0y\n", 4)), "x_y_");
}

}  // namespace
}  // namespace sieve
