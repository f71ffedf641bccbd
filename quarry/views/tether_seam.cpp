#include "quarry/views/tether_seam.h"

#include <QFile>
#include <string>

#include "tether/device/device_backup.h"
#include "tether/device/device_connect.h"

namespace quarry::views {

namespace {

TrustWaitReason ReasonOf(tether::TrustWait wait) {
  switch (wait) {
    case tether::TrustWait::None: return TrustWaitReason::None;
    case tether::TrustWait::DialogPending: return TrustWaitReason::DialogPending;
    case tether::TrustWait::Locked: return TrustWaitReason::Locked;
    case tether::TrustWait::Denied: return TrustWaitReason::Denied;
    case tether::TrustWait::StalePairing: return TrustWaitReason::StalePairing;
    case tether::TrustWait::NotActivated: return TrustWaitReason::NotActivated;
    case tether::TrustWait::Other: return TrustWaitReason::Other;
  }
  return TrustWaitReason::Other;
}

class TetherProbe : public DeviceProbe {
 public:
  bool Attached() override { return connect_.CheckConnection() != 0; }
  bool SeveralAttached() override { return connect_.IsHaveMoreDevice() == 1; }
  TrustResult CheckTrust() override {
    TrustResult result;
    result.state = connect_.IsTrueConnect();
    if (result.state != 0 && result.state != 1) {
      result.state = 2;
      result.reason = ReasonOf(connect_.WaitReason());
      result.detail = QString::fromStdString(connect_.WaitError().text);
    }
    return result;
  }
  std::optional<DeviceDescription> Describe() override {
    std::string name;
    std::string kind;
    if (connect_.GetDeviceInfo(name, kind) == 0) return std::nullopt;
    return DeviceDescription{QString::fromStdString(name), QString::fromStdString(kind)};
  }

 private:
  tether::CDeviceConnect connect_;
};

class TetherBackupRun : public DeviceBackupRun {
 public:
  bool Start(const QString& folder) override { return backup_.StartBackup(QFile::encodeName(folder).toStdString()) == 0; }
  double Progress() override { return backup_.GetBackProgress(); }
  bool PasscodeRequested() override { return backup_.PasscodeRequested(); }
  void WaitFinish() override { backup_.WaitFinish(); }
  QString BackupFolder() override { return QFile::decodeName(backup_.GetDeviceBackDir().c_str()); }
  int ErrorCode() override { return backup_.GetErrorCode(); }
  QString ErrorText() override { return QString::fromStdString(backup_.GetErrorDsp()); }
  void Stop() override { backup_.StopDeviceBackup(); }

 private:
  tether::CDeviceBackup backup_;
};

// The device layer's own emptying: never follows a link, refuses a folder that is one.
bool EmptyBackupFolder(const QString& folder, QString& error) {
  tether::DeviceError failure;
  if (tether::EmptyDeviceBackupFolder(QFile::encodeName(folder).toStdString(), failure) == 0) return true;
  error = QString::fromStdString(failure.text);
  return false;
}

}  // namespace

DeviceSeam TetherDeviceSeam() {
  DeviceSeam seam;
  seam.makeProbe = [] { return std::make_unique<TetherProbe>(); };
  seam.makeBackup = [] { return std::make_unique<TetherBackupRun>(); };
  seam.emptyFolder = &EmptyBackupFolder;
  return seam;
}

}  // namespace quarry::views
