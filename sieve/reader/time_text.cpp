#include "sieve/reader/time_text.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace sieve {
namespace {

constexpr std::int64_t kWallClockOffset = 8 * 3600;
// Far enough for any real date; keeps the arithmetic below away from overflow.
constexpr double kLimit = 1e18;

double ToSeconds(double value) {
  const double magnitude = std::fabs(value);
  if (magnitude >= 1e14) return value / 1e9;
  if (magnitude >= 1e11) return value / 1e3;
  return value;
}

std::int64_t Clamp(double seconds) {
  if (!std::isfinite(seconds)) return 0;
  if (seconds > kLimit) return static_cast<std::int64_t>(kLimit);
  if (seconds < -kLimit) return static_cast<std::int64_t>(-kLimit);
  return static_cast<std::int64_t>(std::trunc(seconds));
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), after H. Hinnant.
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

// Parses an optionally signed decimal integer, stopping at the first "." or other
// non-digit. Returns false when there is no digit at all.
bool ParseLeadingInteger(std::string_view text, double& out) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  double value = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    any = true;
  }
  out = negative ? -value : value;
  return any;
}

}  // namespace

std::int64_t UnixSecondsFromUnixValue(double value) { return Clamp(ToSeconds(value)); }

std::int64_t UnixSecondsFromMacValue(double value) {
  const double seconds = ToSeconds(value);
  if (seconds >= 1e9) return Clamp(seconds);
  return Clamp(seconds) + kSecondsFrom1970To2001;
}

std::string FormatDateText(std::int64_t unixSeconds) {
  const std::int64_t local = unixSeconds + kWallClockOffset;
  std::int64_t days = local / 86400;
  std::int64_t rest = local % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  char text[48];
  std::snprintf(text, sizeof text, "%lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(year),
                month, day, static_cast<long long>(rest / 3600), static_cast<long long>(rest / 60 % 60),
                static_cast<long long>(rest % 60));
  return text;
}

std::string UnixTimeText(std::string_view secondsText) {
  double value = 0;
  ParseLeadingInteger(secondsText, value);
  return FormatDateText(UnixSecondsFromUnixValue(value));
}

std::string MacTimeText(std::string_view secondsText) {
  double value = 0;
  ParseLeadingInteger(secondsText, value);
  return FormatDateText(UnixSecondsFromMacValue(value));
}

std::string UnixTimeText(std::int64_t seconds) {
  return FormatDateText(UnixSecondsFromUnixValue(static_cast<double>(seconds)));
}

std::string MacTimeText(std::int64_t seconds) {
  return FormatDateText(UnixSecondsFromMacValue(static_cast<double>(seconds)));
}

std::string MacTimeTextFromDouble(double seconds) {
  return FormatDateText(UnixSecondsFromMacValue(seconds));
}

std::string UnixTimeTextFromDouble(double seconds) {
  return FormatDateText(UnixSecondsFromUnixValue(seconds));
}

std::string MacDateOnlyText(double seconds) {
  const std::string text = MacTimeTextFromDouble(seconds);
  return text.substr(0, text.find(' '));
}

}  // namespace sieve
