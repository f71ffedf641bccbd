// The repair of a phone stuck in recovery mode: idevicerestore (found on PATH) runs
// as a child process in update mode, which keeps the user's data, and its
// "progress:" and "downloading:" lines become one percentage and a stage.
//
// The child gets no shell, its standard input is /dev/null (a question it asks
// ends instead of hanging), and nothing secret is on its command line. It is
// stopped when it announces that it would erase the device while the user did not
// choose erase: idevicerestore 1.0.0 falls back to an erase restore when a model has
// no update identity, and -y, which we need to run without prompts, also drops its
// data-loss question.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tether/device/device_error.h"

namespace tether {

// Where the run is; the restore steps are idevicerestore's own (0 DETECT .. 6 FUD).
enum class RestoreStage {
  Starting,
  Downloading,  // the firmware file comes from Apple
  Detect,
  Prepare,  // from here on a stop could leave the phone in DFU mode: no cancel
  UploadFs,
  VerifyFs,
  FlashFw,
  FlashBb,
  Fud,
  Finished,
};

// One line of idevicerestore's output, understood.
struct RestoreLine {
  enum class Kind { Other, Progress, Download, EraseWarning };
  Kind kind = Kind::Other;
  int step = 0;           // Progress: 0..6
  double fraction = 0.0;  // Progress: 0..1
  int percent = 0;        // Download: 0..100
};
RestoreLine ParseRestoreLine(std::string_view line);

// The overall percentage of a stage at `fraction` (0..1) of its own way.
int OverallPercent(RestoreStage stage, double fraction);

// What the installed idevicerestore is and whether it can repair a device.
struct RestoreToolCheck {
  bool found = false;
  std::string versionText;  // its first line for -v, e.g. "idevicerestore 1.0.0"
  DeviceError error;        // missing, unreadable, or too old for this device
};

// True when the version is a release after 1.0.0, or a build from source after it
// (1.0.0 with a suffix such as "-190-g1a2b3c" or "+git20240709").
bool RestoreToolIsNewerThan100(std::string_view versionText);
// Whether idevicerestore 1.0.0 is too old for the device: a product type that
// libirecovery 1.0.0 does not know (empty), or a model whose signed firmware is
// iOS 16 or later, which 1.0.0 predates.
bool TooNewForRestore100(std::string_view productType);
// Runs `program -v` and judges it for the device (productType may be empty).
RestoreToolCheck CheckRestoreTool(std::string_view productType, const std::string& program = "idevicerestore");

struct RestoreOptions {
  std::string program = "idevicerestore";  // looked up on PATH
  std::string cacheFolder;                 // firmware and the signed-version list are kept here
  std::uint64_t ecid = 0;                  // 0: not given
  std::string udid;                        // empty: not given
  bool erase = false;                      // only when the user chose to lose all data
};

struct RestoreProgress {
  RestoreStage stage = RestoreStage::Starting;
  int percent = 0;          // the whole run, 0..100
  int downloadPercent = 0;  // the firmware download, 0..100
  bool cancellable = true;
};

enum class RestoreEnd { Succeeded, Failed, WouldErase, Cancelled, ToolMissing };

struct RestoreResult {
  RestoreEnd end = RestoreEnd::Failed;
  DeviceError error;  // none when it succeeded
};

class RestoreRun {
 public:
  explicit RestoreRun(RestoreOptions options);
  ~RestoreRun();
  RestoreRun(const RestoreRun&) = delete;
  RestoreRun& operator=(const RestoreRun&) = delete;

  // The arguments after the program's name; tests and logs read them.
  std::vector<std::string> Arguments() const;
  // Runs idevicerestore to its end on the calling thread (a worker).
  RestoreResult Run();
  // From any thread.
  RestoreProgress Progress() const;
  // Stops the run; refused (false) once PREPARE began, since killing it while it
  // flashes can leave the phone in DFU mode.
  bool Cancel();

 private:
  void Take(std::string_view line);

  RestoreOptions options_;
  mutable std::mutex lock_;
  RestoreProgress progress_;
  std::string lastLine_;       // the last line that was not progress, for the error message
  bool sawErase_ = false;
  bool cancelled_ = false;
};

}  // namespace tether
