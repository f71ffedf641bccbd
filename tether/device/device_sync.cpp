#include "tether/device/device_sync.h"

#include <libimobiledevice/notification_proxy.h>

#include <chrono>
#include <thread>

namespace tether {

namespace {

constexpr char kCancel[] = "com.apple.itunes-client.syncCancelRequest";
constexpr char kPasscodeShown[] = "com.apple.LocalAuthentication.ui.presented";
constexpr char kPasscodeGone[] = "com.apple.LocalAuthentication.ui.dismissed";
constexpr char kLockFile[] = "/com.apple.itunes.lock_sync";
// Another host may hold the lock for a moment; we wait ten seconds at most.
constexpr int kLockTries = 50;
constexpr auto kLockPause = std::chrono::milliseconds(200);

}  // namespace

DeviceSync::DeviceSync(LockdownSession& session, SyncSignals& signals) : signals_(signals) {
  DeviceError refused;
  if (ServiceDescriptor service = session.StartService(NP_SERVICE_NAME, false, refused)) {
    property_list_service_client_t client = nullptr;
    if (property_list_service_client_new(session.Device(), service.get(), &client) ==
        PROPERTY_LIST_SERVICE_E_SUCCESS) {
      channel_ = std::make_unique<NotificationChannel>(
          client, [this](const std::string& name) { OnNotification(name); });
    }
  }
  if (channel_) {
    for (const char* name : {kCancel, NP_SYNC_SUSPEND_REQUEST, NP_SYNC_RESUME_REQUEST,
                             "com.apple.mobile.backup.domain_changed", kPasscodeShown, kPasscodeGone}) {
      channel_->Observe(name);
    }
  }
  TakeLock(session);
}

DeviceSync::~DeviceSync() {
  if (afc_ != nullptr) {
    if (locked_) afc_file_lock(afc_, lockFile_, AFC_LOCK_UN);
    if (lockFile_ != 0) afc_file_close(afc_, lockFile_);
    afc_client_free(afc_);
  }
  Post(NP_SYNC_DID_FINISH);
  channel_.reset();
}

void DeviceSync::OnNotification(const std::string& name) {
  if (name == kCancel) {
    signals_.cancelRequested = true;
  } else if (signals_.passcodePrompt && (name == kPasscodeShown || name == kPasscodeGone)) {
    signals_.passcodePrompt(name == kPasscodeShown);
  }
}

void DeviceSync::Post(const char* name) {
  if (channel_) channel_->Post(name);
}

void DeviceSync::TakeLock(LockdownSession& session) {
  DeviceError refused;
  if (ServiceDescriptor service = session.StartService(AFC_SERVICE_NAME, false, refused)) {
    if (afc_client_new(session.Device(), service.get(), &afc_) != AFC_E_SUCCESS) afc_ = nullptr;
  }
  if (afc_ == nullptr) return;
  Post(NP_SYNC_WILL_START);
  if (afc_file_open(afc_, kLockFile, AFC_FOPEN_RW, &lockFile_) != AFC_E_SUCCESS) {
    lockFile_ = 0;
    return;
  }
  Post(NP_SYNC_LOCK_REQUEST);
  for (int attempt = 0; attempt < kLockTries && !locked_; ++attempt) {
    const afc_error_t result = afc_file_lock(afc_, lockFile_, AFC_LOCK_EX);
    if (result == AFC_E_SUCCESS) {
      locked_ = true;
    } else if (result == AFC_E_OP_WOULD_BLOCK) {
      std::this_thread::sleep_for(kLockPause);
    } else {
      break;
    }
  }
  if (locked_) Post(NP_SYNC_DID_START);
}

}  // namespace tether
