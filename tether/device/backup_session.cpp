#include "tether/device/backup_session.h"

#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/mobilebackup2.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>

#include "tether/device/device_paths.h"
#include "tether/device/device_sync.h"
#include "tether/device/dl_link.h"
#include "tether/device/dl_loop.h"
#include "tether/device/host_info_plist.h"
#include "tether/device/lockdown_session.h"
#include "tether/plist.h"

namespace tether {

namespace {

// How often we ask again while the device waits for the user to trust us.
constexpr auto kTrustPoll = std::chrono::seconds(1);

struct Mb2Free {
  void operator()(mobilebackup2_client_t client) const { mobilebackup2_client_free(client); }
};
using Mb2Client = std::unique_ptr<mobilebackup2_client_private, Mb2Free>;

DeviceError Mb2Error(mobilebackup2_error_t code, const std::string& what) {
  switch (code) {
    case MOBILEBACKUP2_E_SUCCESS: return {};
    case MOBILEBACKUP2_E_BAD_VERSION:
    case MOBILEBACKUP2_E_NO_COMMON_VERSION:
      return {DeviceErrorKind::ProtocolMismatch, code,
              what + ": the device speaks a backup protocol version this program does not"};
    case MOBILEBACKUP2_E_MUX_ERROR:
      return {DeviceErrorKind::Disconnected, code, what + ": the connection to the device broke"};
    case MOBILEBACKUP2_E_RECEIVE_TIMEOUT:
      return {DeviceErrorKind::Timeout, code, what + ": the device did not answer in time"};
    case MOBILEBACKUP2_E_REPLY_NOT_OK:
      return {DeviceErrorKind::Failed, code,
              what + ": the device refused (if it asks for its passcode, enter it and try again)"};
    default: return {DeviceErrorKind::Failed, code, what + ": error " + std::to_string(code)};
  }
}

}  // namespace

DeviceError OnlyAttachedDevice(std::string& udid) {
  char** list = nullptr;
  int count = 0;
  if (idevice_get_device_list(&list, &count) != IDEVICE_E_SUCCESS) count = 0;
  if (count == 1) udid = list[0];
  if (list != nullptr) idevice_device_list_free(list);
  if (count == 1) return {};
  if (count == 0) return {DeviceErrorKind::NoDevice, 0, "No device is attached (or usbmuxd does not answer)."};
  return {DeviceErrorKind::Failed, 0,
          std::to_string(count) + " devices are attached: name the one to back up by its udid."};
}

DeviceError CheckSnapshotFinished(const std::string& backupFolder) {
  CPlist status;
  std::string state;
  if (status.ReadPlist(backupFolder + "/Status.plist") == 0) {
    return {DeviceErrorKind::Failed, 0, "The device ended the backup without a readable Status.plist."};
  }
  if (status.GetStringItem("SnapshotState", state) == 0 || state != "finished") {
    return {DeviceErrorKind::Failed, 0,
            "The device did not finish the backup (its state is \"" + state + "\"); the folder is incomplete."};
  }
  return {};
}

std::unique_ptr<LockdownSession> BackupSession::OpenTrusted(const std::function<void(const std::string&)>& note,
                                                            DeviceError& error) {
  std::string shown;
  for (;;) {
    std::unique_ptr<LockdownSession> session = LockdownSession::Open(udid_, error);
    // Tapping Trust, or unlocking so that the device can ask, is the user's to do: we
    // wait for it as long as nobody stops us.
    if (session || (error.kind != DeviceErrorKind::TrustPending && error.kind != DeviceErrorKind::Locked)) {
      return session;
    }
    if (error.text != shown) note(shown = error.text);
    for (int i = 0; i < 10; ++i) {
      if (stop_) {
        error = {DeviceErrorKind::Cancelled, 0, "The backup was stopped."};
        return nullptr;
      }
      std::this_thread::sleep_for(kTrustPoll / 10);
    }
  }
}

BackupSession::BackupSession(std::string udid, std::string folder, BackupEvents events)
    : udid_(std::move(udid)), folder_(std::move(folder)), events_(std::move(events)) {}

DeviceError BackupSession::Run(std::string& backupFolder) {
  backupFolder.clear();
  const auto note = [this](const std::string& text) {
    if (events_.waiting) events_.waiting(text);
  };
  const BackupRoot root(folder_);
  if (!root.IsOpen()) {
    return {DeviceErrorKind::LocalIo, -errno, "The backup folder " + folder_ + " cannot be opened."};
  }
  if (udid_.empty()) {
    if (DeviceError error = OnlyAttachedDevice(udid_)) return error;
  }
  DeviceError error;
  note("Connecting to the device");
  std::unique_ptr<LockdownSession> session = OpenTrusted(note, error);
  if (!session) return error;
  const std::optional<std::string> activation = session->StringValue(nullptr, "ActivationState", &error);
  if (error) return error;
  if (activation == "Unactivated") {
    return {DeviceErrorKind::NotActivated, 0, "The device is not activated; it cannot be backed up."};
  }
  // The device encrypts when its backup password is set; the password is asked for
  // only when the finished backup is opened.
  if (session->BoolValue("com.apple.mobile.backup", "WillEncrypt").value_or(false)) {
    note("The device encrypts its backups: its backup password is needed to read this one");
  }

  SyncSignals signals;
  signals.passcodePrompt = events_.passcode;
  const DeviceSync sync(*session, signals);
  if (DeviceError written = WriteHostInfoPlist(*session, root)) return written;

  ServiceDescriptor service = session->StartService(MOBILEBACKUP2_SERVICE_NAME, true, error);
  if (!service) return error;
  mobilebackup2_client_t raw = nullptr;
  if (DeviceError failed = Mb2Error(mobilebackup2_client_new(session->Device(), service.get(), &raw),
                                    "connecting to the backup service")) {
    return failed;
  }
  Mb2Client client(raw);
  session->CloseLockdown();

  double versions[] = {2.0, 2.1};
  double remote = 0;
  if (DeviceError failed = Mb2Error(mobilebackup2_version_exchange(client.get(), versions, 2, &remote),
                                    "agreeing on the backup protocol")) {
    return failed;
  }
  // A fresh, full backup: never an incremental one against whatever the folder holds.
  plist_t options = plist_new_dict();
  plist_dict_set_item(options, "ForceFullBackup", plist_new_bool(1));
  const mobilebackup2_error_t requested =
      mobilebackup2_send_request(client.get(), "Backup", udid_.c_str(), udid_.c_str(), options);
  plist_free(options);
  if (DeviceError failed = Mb2Error(requested, "asking for the backup")) return failed;
  note("The device is preparing its backup");

  DlLink link(client.get());
  DlLoopHooks hooks;
  hooks.progress = events_.progress;
  hooks.stopRequested = [this, &signals]() -> DeviceError {
    if (stop_) return {DeviceErrorKind::Cancelled, 0, "The backup was stopped."};
    if (signals.cancelRequested) return {DeviceErrorKind::Cancelled, 0, "The device cancelled the backup."};
    return {};
  };
  error = RunDlLoop(link, folder_, hooks);
  // Freeing the client tells the device we are gone; the sync lock goes with `sync`.
  client.reset();
  if (error) return error;
  const std::string folder = folder_ + "/" + udid_;
  if (DeviceError unfinished = CheckSnapshotFinished(folder)) return unfinished;
  backupFolder = folder;
  return {};
}

}  // namespace tether
