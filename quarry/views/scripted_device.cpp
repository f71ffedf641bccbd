#include "quarry/views/scripted_device.h"

namespace quarry::views {

class ScriptedProbe : public DeviceProbe {
 public:
  explicit ScriptedProbe(std::shared_ptr<ScriptedDevice> device) : device_(std::move(device)) {}
  bool Attached() override { return device_->State().attached; }
  bool SeveralAttached() override { return device_->State().several; }
  TrustResult CheckTrust() override {
    std::unique_lock<std::mutex> lock(device_->mutex_);
    ++device_->state_.trustChecks;
    device_->state_.trustThread = std::this_thread::get_id();
    device_->released_.wait(lock, [this] { return !device_->state_.holdTrust; });
    return device_->state_.trust;
  }
  std::optional<DeviceDescription> Describe() override { return device_->State().description; }

 private:
  std::shared_ptr<ScriptedDevice> device_;
};

class ScriptedRun : public DeviceBackupRun {
 public:
  explicit ScriptedRun(std::shared_ptr<ScriptedDevice> device) : device_(std::move(device)) {}
  bool Start(const QString&) override {
    device_->Set([](ScriptedDeviceState& state) { ++state.started; });
    return device_->State().startOk;
  }
  double Progress() override { return device_->State().progress; }
  bool PasscodeRequested() override { return device_->State().passcode; }
  void WaitFinish() override {
    device_->Set([](ScriptedDeviceState& state) { ++state.waited; });
  }
  QString BackupFolder() override { return device_->State().doneFolder; }
  int ErrorCode() override { return device_->State().errorCode; }
  QString ErrorText() override { return device_->State().errorText; }
  void Stop() override {
    device_->Set([](ScriptedDeviceState& state) { ++state.stopped; });
  }

 private:
  std::shared_ptr<ScriptedDevice> device_;
};

void ScriptedDevice::Set(const std::function<void(ScriptedDeviceState&)>& change) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    change(state_);
  }
  released_.notify_all();
}

ScriptedDeviceState ScriptedDevice::State() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

DeviceSeam ScriptedDevice::Seam() {
  DeviceSeam seam;
  std::shared_ptr<ScriptedDevice> self = shared_from_this();
  seam.makeProbe = [self] { return std::make_unique<ScriptedProbe>(self); };
  seam.makeBackup = [self] { return std::make_unique<ScriptedRun>(self); };
  seam.emptyFolder = [self](const QString& folder, QString& error) {
    self->Set([&folder](ScriptedDeviceState& state) { state.emptied = folder; });
    if (self->State().emptyOk) return true;
    error = QStringLiteral("refused by the script");
    return false;
  };
  return seam;
}

}  // namespace quarry::views
