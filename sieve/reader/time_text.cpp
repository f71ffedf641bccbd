#include "sieve/reader/time_text.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>

#include "sieve/time_zone.h"

namespace sieve {
namespace {

std::atomic<bool> utcTimes{false};
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

std::string Fields(long long year, unsigned month, unsigned day, long long hour, long long minute, long long second) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld-%02u-%02u %02lld:%02lld:%02lld", year, month, day, hour, minute, second);
  return text;
}

std::string UtcText(std::int64_t unixSeconds) {
  std::int64_t days = unixSeconds / 86400;
  std::int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days, year, month, day);
  return Fields(static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
}

bool LocalFields(std::int64_t unixSeconds, std::tm& out) {
  if (unixSeconds < std::numeric_limits<std::time_t>::min() || unixSeconds > std::numeric_limits<std::time_t>::max()) {
    return false;
  }
  const auto t = static_cast<std::time_t>(unixSeconds);
  return localtime_r(&t, &out) != nullptr;
}

// Seconds east of UTC of the local zone at that moment.
long LocalOffset(std::time_t at) {
  std::tm fields{};
  return localtime_r(&at, &fields) != nullptr ? fields.tm_gmtoff : 0;
}

std::string OffsetText(long seconds) {
  const long minutes = std::labs(seconds) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%c%02ld:%02ld", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

// The zone name after ".../zoneinfo/" in a path, or the whole text when it has none.
std::string AfterZoneinfo(const std::string& text) {
  const std::string marker = "zoneinfo/";
  const std::size_t at = text.rfind(marker);
  return at == std::string::npos ? text : text.substr(at + marker.size());
}

}  // namespace

std::int64_t UnixSecondsFromUnixValue(double value) { return Clamp(ToSeconds(value)); }

std::int64_t UnixSecondsFromMacValue(double value) {
  const double seconds = ToSeconds(value);
  if (seconds >= 1e9) return Clamp(seconds);
  return Clamp(seconds) + kSecondsFrom1970To2001;
}


void SetUtcTimes(bool utc) { utcTimes = utc; }
bool UtcTimes() { return utcTimes; }

std::string TimeZoneOffsetLabel() {
  if (UtcTimes()) return "UTC";
  // The offsets in January and July tell a zone with daylight saving time from one without.
  const std::time_t now = std::time(nullptr);
  std::tm today{};
  if (gmtime_r(&now, &today) == nullptr) return "UTC" + OffsetText(LocalOffset(now));
  std::tm january{};
  january.tm_year = today.tm_year;
  january.tm_mday = 1;
  std::tm july = january;
  july.tm_mon = 6;
  const long a = LocalOffset(timegm(&january));
  const long b = LocalOffset(timegm(&july));
  if (a == b) return "UTC" + OffsetText(a);
  return "UTC" + OffsetText(std::min(a, b)) + "/" + OffsetText(std::max(a, b));
}

std::string TimeZoneName() {
  if (UtcTimes()) return "UTC";
  if (const char* tz = std::getenv("TZ"); tz != nullptr) {
    std::string name = tz;
    if (!name.empty() && name.front() == ':') name.erase(0, 1);
    return name.empty() ? "UTC" : AfterZoneinfo(name);
  }
  char target[512];
  const ssize_t length = readlink("/etc/localtime", target, sizeof target - 1);
  if (length > 0) return AfterZoneinfo(std::string(target, static_cast<std::size_t>(length)));
  std::ifstream file("/etc/timezone");
  std::string name;
  std::getline(file, name);
  return name;
}

std::string FormatDateText(std::int64_t unixSeconds) {
  std::tm local{};
  // A moment the C library cannot place (absurdly far off) is shown in UTC rather than not at all.
  if (UtcTimes() || !LocalFields(unixSeconds, local)) return UtcText(unixSeconds);
  return Fields(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1), static_cast<unsigned>(local.tm_mday),
                local.tm_hour, local.tm_min, local.tm_sec);
}

std::string UnixTimeText(std::string_view secondsText) {
  double value = 0;
  if (!ParseLeadingInteger(secondsText, value)) return kEmptyDateText;
  return FormatDateText(UnixSecondsFromUnixValue(value));
}

std::string MacTimeText(std::string_view secondsText) {
  double value = 0;
  if (!ParseLeadingInteger(secondsText, value)) return kEmptyDateText;
  return MacTimeTextFromDouble(value);
}

std::string UnixTimeText(std::int64_t seconds) {
  return FormatDateText(UnixSecondsFromUnixValue(static_cast<double>(seconds)));
}

std::string MacTimeText(std::int64_t seconds) { return MacTimeTextFromDouble(static_cast<double>(seconds)); }

std::string MacTimeTextFromDouble(double seconds) {
  // Zero is how Apple's databases say "no date".
  if (seconds == 0) return kEmptyDateText;
  return FormatDateText(UnixSecondsFromMacValue(seconds));
}

std::string UnixTimeTextFromDouble(double seconds) {
  return FormatDateText(UnixSecondsFromUnixValue(seconds));
}

std::string MacDateOnlyText(double seconds) {
  const std::string text = UtcText(UnixSecondsFromMacValue(seconds));
  return text.substr(0, text.find(' '));
}

}  // namespace sieve
