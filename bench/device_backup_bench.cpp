// Times a full device backup of a ~1 GiB generated backup through the scripted fake device
// (`sieve device backup`, which runs the backup helper over Debian's libimobiledevice)
// beside `cp -r` of the same folder, taken in turn in the same run; reports the throughput of
// each over the backup's bytes and the peak memory of sieve and its helper against the
// largest file, to show that memory does not grow with the files.
//
//   device_backup_bench [--size-mb N] [--runs N]     (defaults 1024 MiB, 3 runs)
//
// About a minute to generate the backup, then seconds per run; needs twice the backup's
// size of scratch space under $TMPDIR. Every backed-up file is compared with its source.
// When Debian's idevicebackup2 is installed it is timed too, over the same fake device, as
// the reference client of the same library: what the link itself allows.
// Exits 1 on a failed run, a difference, or a missed target (the backup at least 0.8 of
// cp's speed: the protocol should not be the bottleneck).
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
constexpr double kTarget = 0.8;
const std::string kPython = "/usr/bin/python3";
// Debian's libimobiledevice-utils, when installed.
const std::string kReference = "/usr/bin/idevicebackup2";
const std::string kUdid = "00008030-000B1C2D3E4F5A6B";

// The fake device as a child process; gone with the object.
class FakeDevice {
 public:
  FakeDevice(const std::string& socket, const std::string& scenario) {
    int out[2];
    int in[2];
    if (pipe(out) != 0 || pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(in[0], STDIN_FILENO);
      for (int fd : {out[0], out[1], in[0], in[1]}) close(fd);
      const std::string script = std::string(BENCH_SOURCE_DIR) + "/../tools/fakedevice/fakedevice.py";
      execl(kPython.c_str(), kPython.c_str(), script.c_str(), "--socket", socket.c_str(), "--scenario",
            scenario.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    stdin_ = in[1];  // it runs while this stays open
    // It says "ready" once it accepts connections.
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    ready_ = line == "ready";
  }
  ~FakeDevice() {
    if (stdin_ >= 0) close(stdin_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;
  bool Ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  bool ready_ = false;
};

struct Tree {
  std::uintmax_t bytes = 0;
  std::uintmax_t largest = 0;
  std::vector<std::string> files;  // relative paths
};

Tree ListTree(const std::string& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    tree.files.push_back(fs::relative(entry.path(), root).string());
    tree.bytes += entry.file_size();
    tree.largest = std::max(tree.largest, entry.file_size());
  }
  return tree;
}

// Writes what earlier runs left in memory out to disk, so that no run pays for another's
// write-back (untimed).
void Settle(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    syncfs(fd);
    ::close(fd);
  }
}

bool Reset(const std::string& folder) {
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return fs::create_directory(folder, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  long sizeMb = 1024;
  long runs = 3;
  if (!bench::ReadNumberOptions(argc, argv, {{"--size-mb", &sizeMb}, {"--runs", &runs}})) return 2;

  bench::ScratchFolder scratch("device-backup-bench");
  const std::string source = scratch / "generated";
  std::printf("generating a %ld MiB backup...\n", sizeMb);
  std::fflush(stdout);
  const bench::ChildRun generated =
      bench::RunChild({kPython, std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/mkbackup.py", "--profile",
                       "large", "--size-mb", std::to_string(sizeMb), "--manifest-db", source},
                      scratch / "mkbackup.log");
  if (!generated.Succeeded()) {
    std::fprintf(stderr, "mkbackup failed (%s)\n", (scratch / "mkbackup.log").c_str());
    return 1;
  }
  const Tree tree = ListTree(source);

  const std::string scenario = scratch / "scenario.json";
  std::ofstream(scenario) << R"({"devices": [{"udid": ")" << kUdid
                          << R"(", "pair": ["ok"], "backup": {"replay": ")" << source << R"("}}]})";
  const std::string socket = scratch / "usbmuxd.sock";
  FakeDevice device(socket, scenario);
  if (!device.Ready()) {
    std::fprintf(stderr, "the fake device did not start\n");
    return 1;
  }
  setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket).c_str(), 1);

  const std::string copied = scratch / "copied";
  const std::string backedUp = scratch / "backed-up";
  bench::ChildRun cp;
  bench::ChildRun backup;
  double cpBest = 1e300;
  double backupBest = 1e300;
  long peakKb = 0;
  const std::string referenced = scratch / "reference";
  double referenceBest = 1e300;
  for (long i = 0; i < runs; ++i) {
    std::error_code ignored;
    fs::remove_all(copied, ignored);
    Settle(source);
    cp = bench::RunChild({"/bin/cp", "-r", source, copied}, scratch / "cp.log");
    if (!Reset(backedUp)) return 1;
    Settle(source);
    backup = bench::RunChild({SIEVE_PROGRAM, "device", "backup", "--udid", kUdid, "-o", backedUp},
                             scratch / "backup.log");
    if (!cp.Succeeded() || !backup.Succeeded()) {
      std::fprintf(stderr, "a run failed: cp %d, sieve device backup %d (%s)\n", cp.status, backup.status,
                   (scratch / "backup.log").c_str());
      return 1;
    }
    // The reference client of the same library over the same link: where the time goes
    // when we are not faster than it is the link, not our message loop.
    if (fs::exists(kReference)) {
      if (!Reset(referenced)) return 1;
      Settle(source);
      const bench::ChildRun reference =
          bench::RunChild({kReference, "-u", kUdid, "backup", "--full", referenced}, scratch / "reference.log");
      if (reference.Succeeded()) referenceBest = std::min(referenceBest, reference.seconds);
    }
    cpBest = std::min(cpBest, cp.seconds);
    backupBest = std::min(backupBest, backup.seconds);
    peakKb = std::max(peakKb, backup.peakKb);
  }

  // The host writes Info.plist itself; every file the device sent must be the source's.
  const std::string landed = backedUp + "/" + kUdid;
  int differences = 0;
  for (const auto& file : tree.files) {
    if (file == "Info.plist") continue;
    if (!bench::SameContent(source + "/" + file, landed + "/" + file)) ++differences;
  }

  const double mb = static_cast<double>(tree.bytes) / (1 << 20);
  const double ratio = cpBest / backupBest;
  std::printf("backup of %zu files, %.1f MiB (largest file %.1f MiB), best of %ld runs\n", tree.files.size(), mb,
              static_cast<double>(tree.largest) / (1 << 20), runs);
  std::printf("  sieve device backup (fake device): %7.3f s  %8.1f MiB/s  peak %.1f MiB\n", backupBest,
              mb / backupBest, static_cast<double>(peakKb) / 1024);
  std::printf("  cp -r (baseline):                  %7.3f s  %8.1f MiB/s\n", cpBest, mb / cpBest);
  if (referenceBest < 1e300) {
    std::printf("  idevicebackup2 (same fake device): %7.3f s  %8.1f MiB/s  (reference client of the same library)\n",
                referenceBest, mb / referenceBest);
  }
  std::printf("  speed ratio %.2f (target >= %.1f); files differing: %d\n", ratio, kTarget, differences);
  return differences == 0 && ratio >= kTarget ? 0 : 1;
}
