#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <utility>

#include "sieve/path_safety.h"
#include "sieve/person_name.h"
#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"
#include "sieve/reader/version.h"
#include "sieve/time_zone.h"
#include "support/test_support.h"

namespace sieve {
namespace {

// The test programs run at UTC+8 (support/test_support.h); other zones below.
TEST(DateText, TestZoneClockUnitsAndEmptyDate) {
  // No date in the database is no text at all: zero since 2001, NULL, no number.
  EXPECT_EQ(kEmptyDateText, std::string());
  EXPECT_EQ(MacTimeText(std::int64_t{0}), "");
  EXPECT_EQ(MacTimeTextFromDouble(0.0), "");
  EXPECT_EQ(MacTimeText(std::string_view("0.000")), "");
  EXPECT_EQ(UnixTimeText(std::string_view("")), "");
  EXPECT_EQ(UnixTimeText(std::int64_t{0}), "1970-01-01 08:00:00");
  // 2016-06-14 10:12:45 UTC is 18:12:45 at UTC+8.
  EXPECT_EQ(UnixTimeText(std::int64_t{1465899165}), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::int64_t{1465899165 - kSecondsFrom1970To2001}), "2016-06-14 18:12:45");
  // Dates of 2026 and later keep their year.
  EXPECT_EQ(UnixTimeText(std::int64_t{1798761600}), "2027-01-01 08:00:00");
  EXPECT_EQ(MacTimeText(std::int64_t{1798761600 - kSecondsFrom1970To2001}), "2027-01-01 08:00:00");
  // Before 1970 and across a leap day.
  EXPECT_EQ(UnixTimeText(std::int64_t{-86400}), "1969-12-31 08:00:00");
  EXPECT_EQ(UnixTimeText(std::int64_t{951782400}), "2000-02-29 08:00:00");
  // Nanoseconds (newer message stores) and milliseconds; a "since 2001" value that is already
  // seconds since 1970; fractions and numbers as text.
  const std::int64_t mac = 1465899165 - kSecondsFrom1970To2001;
  EXPECT_EQ(MacTimeText(mac * 1000000000), "2016-06-14 18:12:45");
  EXPECT_EQ(UnixTimeText(std::int64_t{1465899165000}), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::int64_t{1465899165}), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeTextFromDouble(static_cast<double>(mac) + 0.75), "2016-06-14 18:12:45");
  EXPECT_EQ(UnixTimeText(std::string_view("1465899165.987")), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::string_view("487591965")), "2016-06-14 18:12:45");
  EXPECT_EQ(MacTimeText(std::string_view("not a number")), kEmptyDateText);
  EXPECT_EQ(MacTimeText(std::string_view("")), kEmptyDateText);
  EXPECT_EQ(MacDateOnlyText(487591965.0), "2016-06-14");
}

// Every zone shows its own wall clock, daylight saving time included, and the zone is
// named for the exports; UTC when chosen, whatever the zone.
TEST(DateText, TheComputersZoneOrUtc) {
  const std::int64_t winter = 1453770000;  // 2016-01-26 01:00:00 UTC
  const std::int64_t summer = 1465899165;  // 2016-06-14 10:12:45 UTC
  const struct {
    const char* Zone;
    const char* Winter;
    const char* Summer;
    const char* Label;
  } cases[] = {
      {"Asia/Tokyo", "2016-01-26 10:00:00", "2016-06-14 19:12:45", "UTC+09:00"},
      {"America/New_York", "2016-01-25 20:00:00", "2016-06-14 06:12:45", "UTC-05:00/-04:00"},
      {"Europe/Berlin", "2016-01-26 02:00:00", "2016-06-14 12:12:45", "UTC+01:00/+02:00"},
      {"Australia/Sydney", "2016-01-26 12:00:00", "2016-06-14 20:12:45", "UTC+10:00/+11:00"},
      {"UTC", "2016-01-26 01:00:00", "2016-06-14 10:12:45", "UTC+00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Zone);
    test::ScopedTimeZone zone(c.Zone);
    EXPECT_EQ(UnixTimeText(winter), c.Winter);
    EXPECT_EQ(MacTimeText(summer - kSecondsFrom1970To2001), c.Summer);
    EXPECT_EQ(MacTimeText(std::to_string(summer - kSecondsFrom1970To2001) + ".5"), c.Summer);
    EXPECT_EQ(TimeZoneOffsetLabel(), c.Label);
    EXPECT_EQ(TimeZoneName(), c.Zone);
    SetUtcTimes(true);
    EXPECT_EQ(UnixTimeText(winter), "2016-01-26 01:00:00");
    EXPECT_EQ(MacTimeTextFromDouble(static_cast<double>(summer - kSecondsFrom1970To2001)), "2016-06-14 10:12:45");
    EXPECT_EQ(TimeZoneOffsetLabel(), "UTC");
    EXPECT_EQ(TimeZoneName(), "UTC");
    EXPECT_EQ(MacTimeText(std::int64_t{0}), "");
    SetUtcTimes(false);
  }
  test::ScopedTimeZone path(":/usr/share/zoneinfo/Asia/Tokyo");
  EXPECT_EQ(TimeZoneName(), "Asia/Tokyo");
}

// A birthday is a day: at midnight or noon UTC it stays that day from UTC-11 to UTC+14.
TEST(DateText, BirthdaysKeepTheirDayInEveryZone) {
  for (const char* zone : {"Pacific/Pago_Pago", "America/New_York", "Asia/Tokyo", "Pacific/Kiritimati"}) {
    SCOPED_TRACE(zone);
    test::ScopedTimeZone scoped(zone);
    EXPECT_EQ(MacDateOnlyText(-536544000.0), "1984-01-01");
    EXPECT_EQ(MacDateOnlyText(-536544000.0 + 12 * 3600), "1984-01-01");
    EXPECT_EQ(MacDateOnlyText(0.0), "2001-01-01");
  }
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
  // ASCII is passed over thirty-two and eight bytes at a time: a sequence is judged
  // wherever it sits in or after such a run.
  for (const auto& [sequence, valid] : {std::pair<std::string, bool>{"\xC3\xA9", true}, {"\xFF", false}, {"\xE2\x82", false}}) {
    for (const std::size_t length : {7u, 8u, 31u, 32u, 33u, 40u, 64u, 70u}) {
      for (std::size_t at = 0; at <= length; ++at) {
        const std::string text = std::string(at, 'a') + sequence + std::string(length - at, 'b');
        EXPECT_EQ(IsValidUtf8(text), valid) << "at " << at << " of " << length;
      }
    }
  }
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

TEST(PathSafety, FileNamesAreVisibleShortAndReadInTheirStoredOrder) {
  const struct {
    std::string In;
    std::string Out;
  } cases[] = {
      {"../x", "_._x"},                        // never a hidden file
      {".profile", "_profile"},
      {"  .. ", "_"},
      {"  Ann  ", "Ann"},
      {"Ann\xE2\x80\xAEgpj.exe", "Anngpj.exe"},  // U+202E would show it as "Annexe.jpg"
      {"\xE2\x80\x8F" "a\xE2\x81\xA6" "b\xE2\x81\xA9\xE2\x80\x8E", "ab"},  // marks and isolates
      {"tab\there\x7F\xC2\x85", "tab_here__"},  // C0, DEL and C1 controls
      {"bad\xFF" "byte", "bad_byte"},
      {"\xE2\x80\xAE", "_"},
      {"Zoë 日本", "Zoë 日本"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeFileName(c.In), c.Out) << c.In;
  EXPECT_EQ(SafeFileName("", "fallback"), "fallback");

  // Long names are cut at a character boundary, their extension kept.
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "é";
  const std::string cut = SafeFileName(longName + ".vcf");
  EXPECT_LE(cut.size(), kMaxFileNameBytes);
  EXPECT_TRUE(IsValidUtf8(cut));
  EXPECT_EQ(cut.substr(cut.size() - 4), ".vcf");
  EXPECT_LE(SafeFileName(longName + "x").size(), kMaxFileNameBytes);

  // Linear in the name's length: four megabytes of hostile text are cleaned at once.
  std::string huge;
  for (int i = 0; i < (1 << 20); ++i) huge += i % 2 ? "\xE2\x80\xAE" : "a/";
  const auto started = std::chrono::steady_clock::now();
  const std::string cleaned = SafeFileName(huge + ".jpg");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
  EXPECT_LE(cleaned.size(), kMaxFileNameBytes);
  EXPECT_EQ(cleaned.substr(cleaned.size() - 4), ".jpg");
}

TEST(PersonName, PartsAreSpacedExceptBetweenCjkCharacters) {
  EXPECT_EQ(JoinPersonName({"Kenji", "", "Müller"}), "Kenji Müller");
  EXPECT_EQ(JoinPersonName({"Chloé", "Løkke", "Adeyemi"}), "Chloé Løkke Adeyemi");
  EXPECT_EQ(JoinPersonName({"李", "", "王"}), "李王");
  EXPECT_EQ(JoinPersonName({"さくら", "", "山田"}), "さくら山田");
  EXPECT_EQ(JoinPersonName({"민수", "", "김"}), "민수김");
  EXPECT_EQ(JoinPersonName({"Priya23", "", "王-23"}), "Priya23 王-23");
  EXPECT_EQ(JoinPersonName({"李", "", "Smith"}), "李 Smith");
  EXPECT_EQ(JoinPersonName({"𠀋", "", "王"}), "𠀋王");  // beyond the basic plane
  EXPECT_EQ(JoinPersonName({"", "", ""}), "");
}

}  // namespace
}  // namespace sieve
