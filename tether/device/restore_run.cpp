#include "tether/device/restore_run.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "tether/device/child_process.h"

namespace tether {

namespace {

constexpr std::string_view kEraseWarning = "This restore will erase your device data.";

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Where each stage begins in the whole run: the download is the longest wait, the
// file system upload the longest step of the restore.
struct Span {
  RestoreStage stage;
  int from;
  int to;
};
constexpr Span kSpans[] = {
    {RestoreStage::Starting, 0, 0},   {RestoreStage::Downloading, 0, 35}, {RestoreStage::Detect, 35, 37},
    {RestoreStage::Prepare, 37, 45},  {RestoreStage::UploadFs, 45, 75},   {RestoreStage::VerifyFs, 75, 82},
    {RestoreStage::FlashFw, 82, 90},  {RestoreStage::FlashBb, 90, 96},    {RestoreStage::Fud, 96, 99},
    {RestoreStage::Finished, 100, 100},
};

RestoreStage StageOfStep(int step) { return static_cast<RestoreStage>(static_cast<int>(RestoreStage::Detect) + step); }

std::string AdviceForNewerTool() {
  return "install a newer idevicerestore (Debian 13 has one, or build it from source at "
         "github.com/libimobiledevice/idevicerestore), or repair the phone with Apple's tools (Finder on a Mac, "
         "Apple Devices or iTunes on Windows)";
}

}  // namespace

RestoreLine ParseRestoreLine(std::string_view text) {
  RestoreLine line;
  const std::string_view t = Trimmed(text);
  if (t.find(kEraseWarning) != std::string_view::npos) {
    line.kind = RestoreLine::Kind::EraseWarning;
    return line;
  }
  if (StartsWith(t, "progress:")) {
    std::string_view rest = Trimmed(t.substr(9));
    int step = -1;
    const auto [afterStep, stepError] = std::from_chars(rest.data(), rest.data() + rest.size(), step);
    if (stepError != std::errc() || step < 0 || step > 6) return line;
    rest = Trimmed(rest.substr(static_cast<std::size_t>(afterStep - rest.data())));
    // strtod needs a terminated string; the line is short.
    const std::string number(rest);
    char* end = nullptr;
    const double fraction = std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !(fraction >= 0.0)) return line;
    line.kind = RestoreLine::Kind::Progress;
    line.step = step;
    line.fraction = std::min(fraction, 1.0);
    return line;
  }
  if (StartsWith(t, "downloading:")) {
    std::string_view rest = Trimmed(t.substr(12));
    if (!rest.empty() && rest.back() == '%') rest.remove_suffix(1);
    int percent = -1;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), percent);
    if (error != std::errc() || end != rest.data() + rest.size() || percent < 0) return line;
    line.kind = RestoreLine::Kind::Download;
    line.percent = std::min(percent, 100);
  }
  return line;
}

int OverallPercent(RestoreStage stage, double fraction) {
  for (const Span& span : kSpans) {
    if (span.stage != stage) continue;
    const double f = std::clamp(fraction, 0.0, 1.0);
    return span.from + static_cast<int>((span.to - span.from) * f);
  }
  return 0;
}

bool RestoreToolIsNewerThan100(std::string_view versionText) {
  std::string_view v = Trimmed(versionText);
  if (const std::size_t blank = v.rfind(' '); blank != std::string_view::npos) v = v.substr(blank + 1);
  int parts[3] = {0, 0, 0};
  const char* at = v.data();
  const char* end = v.data() + v.size();
  for (int i = 0; i < 3; ++i) {
    const auto [next, error] = std::from_chars(at, end, parts[i]);
    if (error != std::errc()) return false;
    at = next;
    if (i < 2) {
      if (at == end || *at != '.') return false;
      ++at;
    }
  }
  const int version = parts[0] * 10000 + parts[1] * 100 + parts[2];
  if (version != 10000) return version > 10000;
  // 1.0.0 itself, or a later source build that still carries that number.
  return at != end && (*at == '-' || *at == '+');
}

bool TooNewForRestore100(std::string_view productType) {
  if (productType.empty()) return true;
  // The model's generation: the number before the comma ("iPhone10,3" -> 10).
  const std::size_t digits = productType.find_first_of("0123456789");
  if (digits == std::string_view::npos) return true;
  const std::string_view family = productType.substr(0, digits);
  int generation = 0;
  std::from_chars(productType.data() + digits, productType.data() + productType.size(), generation);
  // The first models whose current firmware is iOS 16 or later: iPhone 8 (iPhone10,x)
  // and the iPad 5th generation (iPad6,11); every iPod stops at iOS 15.
  if (family == "iPhone") return generation >= 10;
  if (family == "iPad") return generation >= 6;
  if (family == "iPod") return false;
  return true;
}

RestoreToolCheck CheckRestoreTool(std::string_view productType, const std::string& program) {
  RestoreToolCheck check;
  int spawnError = 0;
  const std::optional<std::string> first = FirstOutputLine(program, {"-v"}, &spawnError);
  if (!first && spawnError == ENOENT) {
    check.error = {DeviceErrorKind::Failed, 0,
                   "idevicerestore is not installed: install it (sudo apt install idevicerestore) or " +
                       AdviceForNewerTool()};
    return check;
  }
  check.found = true;
  if (!first) {
    check.error = {DeviceErrorKind::Failed, spawnError, "cannot tell which idevicerestore " + program + " is: " +
                                                           (spawnError != 0 ? std::strerror(spawnError) : "it printed no version")};
    return check;
  }
  check.versionText = *first;
  if (!RestoreToolIsNewerThan100(check.versionText) && TooNewForRestore100(productType)) {
    check.error = {DeviceErrorKind::ProtocolMismatch, 0,
                   check.versionText + " is too old for this device (it predates iOS 16 and the newer models): " +
                       AdviceForNewerTool()};
  }
  return check;
}

RestoreRun::RestoreRun(RestoreOptions options) : options_(std::move(options)) {}

RestoreRun::~RestoreRun() = default;

std::vector<std::string> RestoreRun::Arguments() const {
  // -l: the newest signed firmware, downloaded on demand; -y: no questions, which is
  // why the erase line is watched; -P: progress lines we can read.
  std::vector<std::string> arguments = {"-C", options_.cacheFolder, "-l", "-y", "-P"};
  if (options_.ecid != 0) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(options_.ecid));
    arguments.insert(arguments.end(), {"-i", text});
  }
  if (!options_.udid.empty()) arguments.insert(arguments.end(), {"-u", options_.udid});
  if (options_.erase) arguments.push_back("-e");
  return arguments;
}

RestoreProgress RestoreRun::Progress() const {
  std::lock_guard<std::mutex> hold(lock_);
  return progress_;
}

bool RestoreRun::Cancel() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!progress_.cancellable) return false;
  cancelled_ = true;
  return true;
}

void RestoreRun::Take(std::string_view text) {
  const RestoreLine line = ParseRestoreLine(text);
  std::lock_guard<std::mutex> hold(lock_);
  switch (line.kind) {
    case RestoreLine::Kind::EraseWarning:
      sawErase_ = true;
      lastLine_ = std::string(Trimmed(text));
      break;
    case RestoreLine::Kind::Download:
      progress_.downloadPercent = line.percent;
      if (progress_.stage <= RestoreStage::Downloading) {
        progress_.stage = RestoreStage::Downloading;
        progress_.percent = OverallPercent(RestoreStage::Downloading, line.percent / 100.0);
      }
      break;
    case RestoreLine::Kind::Progress: {
      const RestoreStage stage = StageOfStep(line.step);
      // Steps only go forward: a late DETECT line must not undo PREPARE.
      if (stage < progress_.stage) break;
      progress_.stage = stage;
      progress_.percent = std::max(progress_.percent, OverallPercent(stage, line.fraction));
      if (stage >= RestoreStage::Prepare) progress_.cancellable = false;
      break;
    }
    case RestoreLine::Kind::Other:
      if (!Trimmed(text).empty()) lastLine_ = std::string(Trimmed(text));
      break;
  }
}

RestoreResult RestoreRun::Run() {
  RestoreResult result;
  ChildProcess child(options_.program, Arguments());
  if (!child.Started()) {
    result.end = child.SpawnError() == ENOENT ? RestoreEnd::ToolMissing : RestoreEnd::Failed;
    result.error = {DeviceErrorKind::Failed, child.SpawnError(),
                    "cannot start " + options_.program + ": " + std::strerror(child.SpawnError())};
    return result;
  }
  bool killedForErase = false;
  bool killedForCancel = false;
  child.ReadLines([this](std::string_view line) { Take(line); }, [&] {
    std::lock_guard<std::mutex> hold(lock_);
    killedForErase = sawErase_ && !options_.erase;
    killedForCancel = !killedForErase && cancelled_ && progress_.cancellable;
    return killedForErase || killedForCancel;
  });
  const int status = child.Wait();
  const RestoreProgress last = Progress();
  if (killedForErase) {
    result.end = RestoreEnd::WouldErase;
    result.error = {DeviceErrorKind::Cancelled, 0,
                    "idevicerestore would erase the phone's data (it has no update restore for this model); it was "
                    "stopped before it wrote anything. Erase only if losing everything on the phone is acceptable."};
    return result;
  }
  if (killedForCancel) {
    result.end = RestoreEnd::Cancelled;
    result.error = {DeviceErrorKind::Cancelled, 0, "the repair was cancelled before it changed the phone"};
    return result;
  }
  std::string lastLine;
  {
    std::lock_guard<std::mutex> hold(lock_);
    lastLine = lastLine_;
  }
  if (status == 0) {
    std::lock_guard<std::mutex> hold(lock_);
    progress_.stage = RestoreStage::Finished;
    progress_.percent = 100;
    progress_.cancellable = false;
    result.end = RestoreEnd::Succeeded;
    return result;
  }
  result.end = RestoreEnd::Failed;
  std::string text = last.stage == RestoreStage::Downloading
                         ? "downloading the firmware failed (the repair needs the internet)"
                     : last.stage <= RestoreStage::Detect ? "idevicerestore could not start the repair"
                                                          : "the restore failed after it began; the phone may stay in "
                                                            "recovery or DFU mode until a repair succeeds";
  text += " (exit status " + std::to_string(status) + ")";
  if (!lastLine.empty()) text += ": " + lastLine;
  result.error = {DeviceErrorKind::Failed, status, text};
  return result;
}

}  // namespace tether
