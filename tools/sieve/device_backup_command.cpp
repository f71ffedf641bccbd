// `device backup`: a fresh full backup of the attached device into DIR, run by the
// backup helper that CDeviceBackup supervises, with progress on a terminal and a
// line for every wait on the device.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

#include "tether/device/device_backup.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/file_output.h"
#include "tools/sieve/interrupts.h"
#include "tools/sieve/options.h"
#include "tools/sieve/progress.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

constexpr auto kPoll = std::chrono::milliseconds(50);

// A device backup builds on nothing: what DIR holds would be mixed with the new one.
void RequireEmptyFolder(const std::string& folder) {
  EnsureOutputFolder(folder);
  std::error_code error;
  if (!std::filesystem::is_empty(folder, error) || error) {
    throw CommandError(kExitFailure, Printable(folder) + " is not empty: give a new or empty folder");
  }
}

// Shows what the backup waits for, once per change; the bar is redrawn after it.
class WaitNotes {
 public:
  explicit WaitNotes(ProgressBar& bar) : bar_(bar) {}
  void Show(const tether::CDeviceBackup& backup) {
    const bool passcode = backup.PasscodeRequested();
    if (passcode != passcode_) {
      passcode_ = passcode;
      Say(passcode ? "enter the passcode on the device to let the backup go on" : "the passcode was entered");
    }
    const std::string note = backup.WaitingNote();
    if (note != note_) {
      note_ = note;
      if (!note.empty()) Say(note);
    }
  }

 private:
  void Say(const std::string& text) {
    bar_.Finish();
    Note(Printable(text));
  }
  ProgressBar& bar_;
  bool passcode_ = false;
  std::string note_;
};

}  // namespace

int RunDeviceBackup(const Arguments& args) {
  const Options options(args, {}, {"-o", "--output", "--udid"});
  options.RequirePositional(0, kDeviceBackupUsage);
  const auto folder = options.Value("-o") ? options.Value("-o") : options.Value("--output");
  if (!folder || folder->empty()) {
    throw UsageError("device backup needs -o DIR; usage: " + std::string(kDeviceBackupUsage));
  }
  RequireEmptyFolder(*folder);

  tether::CDeviceBackup backup;
  if (const auto udid = options.Value("--udid")) backup.SetUdid(*udid);
  const InterruptGuard guard;
  if (backup.StartBackup(*folder) != 0) throw CommandError(kExitFailure, backup.GetErrorDsp());
  const auto started = std::chrono::steady_clock::now();
  bool stopped = false;
  {
    ProgressBar bar(stderr);
    WaitNotes notes(bar);
    for (;;) {
      if (Interrupted() && !stopped) {
        stopped = true;
        backup.StopDeviceBackup();
      }
      notes.Show(backup);
      const double percent = backup.GetBackProgress();
      bar.Update(static_cast<float>(percent),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
      if (percent == 100.0 || backup.GetErrorCode() != 0) break;
      std::this_thread::sleep_for(kPoll);
    }
  }
  backup.WaitFinish();
  if (stopped) throw CommandError(kExitFailure, "the backup was stopped; " + Printable(*folder) + " is incomplete");
  const tether::DeviceError error = backup.GetError();
  if (error.kind == tether::DeviceErrorKind::DiskFull) {
    throw CommandError(kExitFailure, "not enough free disk space for the backup: " + Printable(error.text));
  }
  if (error) {
    throw CommandError(kExitFailure, "the backup failed (" + std::to_string(backup.GetErrorCode()) +
                                         "): " + Printable(error.text));
  }
  WriteOut(backup.GetDeviceBackDir() + "\n");
  return kExitOk;
}

}  // namespace sieve::cli
