// One error type for everything the device layer reports. The libraries' own codes
// (libimobiledevice, lockdownd, mobilebackup2, notification proxy, AFC,
// libirecovery) are mapped to it where we call them, so callers branch on our kinds
// and never include a USB library header.
#pragma once

#include <string>

namespace tether {

enum class DeviceErrorKind {
  None,
  NoDevice,            // nothing attached, or the device went away before we began
  ServiceUnreachable,  // usbmuxd does not answer
  TrustPending,        // the device shows "Trust This Computer?"
  Locked,              // the device must be unlocked before it answers
  TrustDenied,         // the user tapped "Don't Trust"
  StalePairing,        // the device no longer knows our pairing (it was reset)
  NotActivated,        // an unactivated device will not back up
  ServiceRefused,      // the device would not start a service we need
  ProtocolMismatch,    // a protocol version we cannot speak
  DeviceReported,      // the device ended the work with an error code of its own
  Disconnected,        // the connection broke in the middle
  Cancelled,           // stopped by the user or by the device
  DiskFull,            // too little space on this computer
  LocalIo,             // reading or writing on this computer failed
  Timeout,             // the device stopped answering
  Failed,              // anything else
};

struct DeviceError {
  DeviceErrorKind kind = DeviceErrorKind::None;
  int code = 0;       // the library's or the device's own code, shown beside the text
  std::string text;   // English, for the message and the log

  explicit operator bool() const { return kind != DeviceErrorKind::None; }
};

// The number callers show and branch on: 0 none, -105 too little disk space, else the
// error's own code when it has one, or a negative number per kind.
int ErrorNumber(const DeviceError& error);

// A stable English word for a kind ("disk-full", "trust-denied"), for JSON and lines.
const char* KindName(DeviceErrorKind kind);
DeviceErrorKind KindFromName(const std::string& name);

}  // namespace tether
