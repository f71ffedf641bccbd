// Which clock the date texts of the records are on: the computer's local time zone
// (the TZ variable is honoured) unless UTC is chosen. Process-wide; set it before a
// scan, since records keep the texts they were made with.
#pragma once

#include <string>

namespace sieve {

void SetUtcTimes(bool utc);
bool UtcTimes();

// The zone for a label beside the dates: "UTC", "UTC+09:00", or for a zone that
// changes its offset during the year both, "UTC-05:00/-04:00".
std::string TimeZoneOffsetLabel();
// The zone's name ("Europe/Berlin", from TZ or the system's setting); "UTC" in UTC
// mode, "" when the system does not say.
std::string TimeZoneName();

}  // namespace sieve
