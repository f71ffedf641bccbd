// What a WhatsApp system line says happened in a group, and the map link of a shared
// location: shared by the library, its JSON and the program's views.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sieve {

// WaMessage::Event. 0 is an ordinary message; every other value is a system line.
enum WaEvent : std::int32_t {
  kWaNoEvent = 0,
  kWaEventOther = 1,  // a system line of a kind not told apart here
  kWaEventCreated = 2,
  kWaEventJoined = 3,
  kWaEventLeft = 4,
  kWaEventRemoved = 5,
  kWaEventSubject = 6,  // the message's text is the new subject
  kWaEventPicture = 7,
};

// The name the JSON gives an event; "" for an ordinary message.
inline const char* WaEventName(std::int32_t event) {
  switch (event) {
    case kWaNoEvent: return "";
    case kWaEventCreated: return "created";
    case kWaEventJoined: return "joined";
    case kWaEventLeft: return "left";
    case kWaEventRemoved: return "removed";
    case kWaEventSubject: return "subject-changed";
    case kWaEventPicture: return "picture-changed";
    default: return "other";
  }
}

// Coordinates a map can show: finite, within range, and not the 0,0 an unset pair reads as.
inline bool IsMapPosition(double latitude, double longitude) {
  return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90.0 &&
         std::fabs(longitude) <= 180.0 && !(latitude == 0.0 && longitude == 0.0);
}

// An OpenStreetMap link that puts a marker on the position; "" when it is no position.
inline std::string MapLink(double latitude, double longitude) {
  if (!IsMapPosition(latitude, longitude)) return {};
  char link[160];
  std::snprintf(link, sizeof link, "https://www.openstreetmap.org/?mlat=%.6f&mlon=%.6f#map=16/%.6f/%.6f", latitude,
                longitude, latitude, longitude);
  return link;
}

}  // namespace sieve
