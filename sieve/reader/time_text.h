// Date texts of the records: "YYYY-MM-DD hh:mm:ss" on a fixed UTC+8 wall clock,
// the clock the program has always shown, on every machine whatever its zone.
// "2001-01-01 08:00:00" (zero seconds since 2001) stands for an empty date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sieve {

inline constexpr std::int64_t kSecondsFrom1970To2001 = 978307200;
inline constexpr char kEmptyDateText[] = "2001-01-01 08:00:00";

// Apple stores dates in seconds, milliseconds or nanoseconds, counted from 1970
// or from 2001, depending on the database and system version. These bring any of
// them to seconds since 1970: a magnitude >= 1e14 is nanoseconds, >= 1e11 is
// milliseconds; a value said to count from 2001 that is still >= 1e9 seconds
// (year 2032 and later from 2001) is in fact counted from 1970.
std::int64_t UnixSecondsFromUnixValue(double value);
std::int64_t UnixSecondsFromMacValue(double value);

// Formats seconds since 1970 on the UTC+8 wall clock.
std::string FormatDateText(std::int64_t unixSeconds);

// The four conversions the extractors use. The text forms take a decimal number
// (a fraction is cut off at its "."); text that is not a number gives the date zero.
std::string UnixTimeText(std::string_view secondsText);
std::string MacTimeText(std::string_view secondsText);
std::string UnixTimeText(std::int64_t seconds);
std::string MacTimeText(std::int64_t seconds);
// For REAL columns: the fraction is dropped after unit detection.
std::string MacTimeTextFromDouble(double seconds);
std::string UnixTimeTextFromDouble(double seconds);

// A date (seconds since 2001 in any of the units above) as "YYYY-MM-DD" on the same clock.
std::string MacDateOnlyText(double seconds);

}  // namespace sieve
