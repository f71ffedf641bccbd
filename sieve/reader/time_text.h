// Date texts of the records: "YYYY-MM-DD hh:mm:ss" in the computer's local time zone,
// or in UTC when that is chosen (sieve/time_zone.h). A date the database does not
// hold (NULL, no number, or zero seconds since 2001, Apple's "no date") is "".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sieve {

inline constexpr std::int64_t kSecondsFrom1970To2001 = 978307200;
inline constexpr char kEmptyDateText[] = "";

// Apple stores dates in seconds, milliseconds or nanoseconds, counted from 1970
// or from 2001, depending on the database and system version. These bring any of
// them to seconds since 1970: a magnitude >= 1e14 is nanoseconds, >= 1e11 is
// milliseconds; a value said to count from 2001 that is still >= 1e9 seconds
// (year 2032 and later from 2001) is in fact counted from 1970.
std::int64_t UnixSecondsFromUnixValue(double value);
std::int64_t UnixSecondsFromMacValue(double value);

// Formats seconds since 1970 in the chosen zone.
std::string FormatDateText(std::int64_t unixSeconds);

// The four conversions the extractors use. The text forms take a decimal number
// (a fraction is cut off at its "."); text that is not a number gives "".
std::string UnixTimeText(std::string_view secondsText);
std::string MacTimeText(std::string_view secondsText);
std::string UnixTimeText(std::int64_t seconds);
std::string MacTimeText(std::int64_t seconds);
// For REAL columns: the fraction is dropped after unit detection.
std::string MacTimeTextFromDouble(double seconds);
std::string UnixTimeTextFromDouble(double seconds);

// A day (seconds since 2001 in any of the units above) as "YYYY-MM-DD", always the UTC day:
// a birthday is a day, not a moment, kept as a moment at a fixed hour of that day in UTC,
// and shown in a zone far enough west or east it would move to the day before or after.
std::string MacDateOnlyText(double seconds);

}  // namespace sieve
