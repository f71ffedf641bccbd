// A device that does what it is told: the seam's other side for the tests
// and for the screenshot walk, which shows the device pages with content and
// no device attached. Any thread may read it; the script changes it with Set.
#pragma once

#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "quarry/views/device_seam.h"

namespace quarry::views {

struct ScriptedDeviceState {
  bool attached = true;
  bool several = false;
  TrustResult trust{1, TrustWaitReason::None, {}};
  bool holdTrust = false;  // a trust check waits until this is cleared
  std::optional<DeviceDescription> description = DeviceDescription{QStringLiteral("Test iPhone"),
                                                                   QStringLiteral("iPhone 12, iOS 16.5")};
  bool emptyOk = true;
  bool startOk = true;
  double progress = 0.0;
  bool passcode = false;
  int errorCode = 0;
  QString errorText;
  QString doneFolder;  // what the finished backup names as its folder

  // What the flow did.
  int trustChecks = 0;
  std::thread::id trustThread;
  int started = 0;
  int stopped = 0;
  int waited = 0;
  QString emptied;  // the folder last emptied
};

class ScriptedDevice : public std::enable_shared_from_this<ScriptedDevice> {
 public:
  void Set(const std::function<void(ScriptedDeviceState&)>& change);
  ScriptedDeviceState State() const;
  // Probes and backups that read and record this device.
  DeviceSeam Seam();

 private:
  friend class ScriptedProbe;
  friend class ScriptedRun;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  ScriptedDeviceState state_;
};

}  // namespace quarry::views
