// Tells when a device is plugged in, unplugged, or has just been paired (usbmuxd saved
// its pair record: the trust check can run again at once instead of on its next tick).
//
// libimobiledevice 1.3.0 keeps one event subscriber per process, so only one watcher
// may run at a time; a second Start fails.
//
// The callback runs on libusbmuxd's own thread, never on the caller's. A Qt caller
// must hand it to its own thread (a queued signal or QMetaObject::invokeMethod with
// Qt::QueuedConnection) and must not block in it on the thread that owns the watcher:
// Stop waits for a running callback to return.
#pragma once

#include <functional>
#include <string>

#include "tether/device/device_error.h"

namespace tether {

class DeviceWatcher {
 public:
  enum class Event { Added, Removed, Paired };
  using Callback = std::function<void(Event event, const std::string& udid)>;

  DeviceWatcher() = default;
  ~DeviceWatcher();  // stops
  DeviceWatcher(const DeviceWatcher&) = delete;
  DeviceWatcher& operator=(const DeviceWatcher&) = delete;

  // Starts delivering events (first an Added for each device already attached). When
  // usbmuxd is not running yet, libusbmuxd waits for it, so starting early is fine.
  DeviceError Start(Callback callback);
  // Stops; after it returns the callback is not called again. Never call it from
  // inside the callback (it waits for the thread the callback runs on).
  void Stop();
  bool Running() const { return running_; }

 private:
  static void Deliver(int event, const char* udid, bool usb, void* self);

  Callback callback_;
  bool running_ = false;
};

const char* EventName(DeviceWatcher::Event event);

}  // namespace tether
