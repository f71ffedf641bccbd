// The device's side of a sync while a backup runs: the notification proxy (the
// device's cancel and its passcode prompt reach us there) and the AFC sync lock that
// keeps other hosts from syncing meanwhile. Both are optional: a device that refuses
// either is backed up without it.
#pragma once

#include <libimobiledevice/afc.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "tether/device/lockdown_session.h"
#include "tether/device/notification_channel.h"

namespace tether {

struct SyncSignals {
  std::atomic<bool> cancelRequested{false};     // the device asked us to stop
  std::function<void(bool)> passcodePrompt;     // shown (true) / dismissed (false); on the proxy's thread
};

class DeviceSync {
 public:
  // Starts the notification proxy and takes the sync lock through the session's
  // lockdownd (which must be open until this returns).
  DeviceSync(LockdownSession& session, SyncSignals& signals);
  // Releases the lock and tells the device the sync is over.
  ~DeviceSync();
  DeviceSync(const DeviceSync&) = delete;
  DeviceSync& operator=(const DeviceSync&) = delete;

  bool Notifications() const { return channel_ != nullptr; }
  bool Locked() const { return locked_; }

 private:
  void OnNotification(const std::string& name);
  void Post(const char* name);
  void TakeLock(LockdownSession& session);

  SyncSignals& signals_;
  std::unique_ptr<NotificationChannel> channel_;
  afc_client_t afc_ = nullptr;
  std::uint64_t lockFile_ = 0;
  bool locked_ = false;
};

}  // namespace tether
