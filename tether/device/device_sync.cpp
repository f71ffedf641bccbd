#include "tether/device/device_sync.h"

#include <chrono>
#include <cstring>
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
    if (np_client_new(session.Device(), service.get(), &np_) != NP_E_SUCCESS) np_ = nullptr;
  }
  if (np_ != nullptr) {
    const char* observed[] = {kCancel,
                              "com.apple.itunes-client.syncSuspendRequest",
                              "com.apple.itunes-client.syncResumeRequest",
                              "com.apple.mobile.backup.domain_changed",
                              kPasscodeShown,
                              kPasscodeGone,
                              nullptr};
    np_set_notify_callback(np_, &DeviceSync::OnNotification, this);
    np_observe_notifications(np_, observed);
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
  if (np_ != nullptr) {
    np_set_notify_callback(np_, nullptr, nullptr);
    np_client_free(np_);
  }
}

void DeviceSync::OnNotification(const char* name, void* self) {
  if (name == nullptr || self == nullptr) return;
  auto& signals = static_cast<DeviceSync*>(self)->signals_;
  if (std::strcmp(name, kCancel) == 0) {
    signals.cancelRequested = true;
  } else if (signals.passcodePrompt && std::strcmp(name, kPasscodeShown) == 0) {
    signals.passcodePrompt(true);
  } else if (signals.passcodePrompt && std::strcmp(name, kPasscodeGone) == 0) {
    signals.passcodePrompt(false);
  }
}

void DeviceSync::Post(const char* name) {
  if (np_ != nullptr) np_post_notification(np_, name);
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
