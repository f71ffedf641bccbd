#include "tether/device/device_watcher.h"

#include <libimobiledevice/libimobiledevice.h>
#include <pthread.h>

#include <atomic>
#include <utility>

namespace tether {

namespace {

// The one watcher subscribed in this process.
std::atomic<DeviceWatcher*> gSubscribed{nullptr};

}  // namespace

const char* EventName(DeviceWatcher::Event event) {
  switch (event) {
    case DeviceWatcher::Event::Added: return "added";
    case DeviceWatcher::Event::Removed: return "removed";
    case DeviceWatcher::Event::Paired: return "paired";
  }
  return "added";
}

DeviceWatcher::~DeviceWatcher() { Stop(); }

void DeviceWatcher::Deliver(int event, const char* udid, bool usb, void* self) {
  auto* watcher = static_cast<DeviceWatcher*>(self);
  if (!usb || !udid || !watcher->callback_) return;
  Event kind;
  switch (event) {
    case IDEVICE_DEVICE_ADD: kind = Event::Added; break;
    case IDEVICE_DEVICE_REMOVE: kind = Event::Removed; break;
    case IDEVICE_DEVICE_PAIRED: kind = Event::Paired; break;
    default: return;
  }
  // Stop cancels libusbmuxd's thread; a cancellation inside the caller's code would
  // unwind through it half done, so the thread can be cancelled only between events.
  int previous = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
  watcher->callback_(kind, udid);
  pthread_setcancelstate(previous, nullptr);
}

DeviceError DeviceWatcher::Start(Callback callback) {
  if (running_) return DeviceError{DeviceErrorKind::Failed, 0, "watching devices: already started"};
  DeviceWatcher* none = nullptr;
  if (!gSubscribed.compare_exchange_strong(none, this)) {
    return DeviceError{DeviceErrorKind::Failed, 0,
                       "watching devices: another watcher runs in this process (libimobiledevice allows one)"};
  }
  callback_ = std::move(callback);
  const auto trampoline = [](const idevice_event_t* event, void* self) {
    Deliver(event->event, event->udid, event->conn_type == CONNECTION_USBMUXD, self);
  };
  const idevice_error_t code = idevice_event_subscribe(trampoline, this);
  if (code != IDEVICE_E_SUCCESS) {
    callback_ = nullptr;
    gSubscribed = nullptr;
    return DeviceError{DeviceErrorKind::Failed, code, "watching devices: the event thread did not start"};
  }
  running_ = true;
  return {};
}

void DeviceWatcher::Stop() {
  if (!running_) return;
  // Returns once libusbmuxd's thread has ended, so no callback outlives this.
  idevice_event_unsubscribe();
  running_ = false;
  callback_ = nullptr;
  gSubscribed = nullptr;
}

}  // namespace tether
