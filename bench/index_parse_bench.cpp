// Times reading a 100,000-entry Manifest.mbdb with ReadMbdbFile and compares it with a
// plain Python 3 reader (bench/mbdb_parse.py) of the same file, both best of five.
//
//   index_parse_bench [--entries N] [--python-script PATH] [--keep FILE]
//
// --keep also writes the generated index to FILE, for looking at it with other tools.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sieve/backup/manifest_mbdb.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kRuns = 5;

class IndexWriter {
 public:
  void Field(const std::string& text) {
    Number(text.size(), 2);
    bytes_ += text;
  }
  void Absent() { Number(0xFFFF, 2); }
  void Number(std::uint64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) bytes_ += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_ = std::string("mbdb\x05\x00", 6);
};

std::string Hex(std::mt19937_64& rng, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < digits; ++i) text += kDigits[rng() % 16];
  return text;
}

std::string RandomBytes(std::mt19937_64& rng, std::size_t n) {
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(rng() & 0xFF);
  return out;
}

// Domains and paths in the proportions of a real phone: app caches dominate, then
// the camera roll, media, messages attachments and system files.
void WriteRecord(IndexWriter& out, std::mt19937_64& rng, std::size_t i) {
  std::string domain, path;
  const unsigned kind = static_cast<unsigned>(rng() % 100);
  const std::string app = "com.vendor" + std::to_string(rng() % 40) + ".App" + std::to_string(rng() % 300);
  if (kind < 45) {
    domain = "AppDomain-" + app;
    path = "Library/Caches/" + app + "/fsCachedData/" + Hex(rng, 8) + "-" + Hex(rng, 4) + "-" + Hex(rng, 4) + "-" +
           Hex(rng, 12);
  } else if (kind < 55) {
    domain = "AppDomain-" + app;
    path = "Documents/" + std::string(rng() % 2 ? "Inbox/" : "") + "file " + std::to_string(i) + ".pdf";
  } else if (kind < 70) {
    domain = "CameraRollDomain";
    path = "Media/DCIM/1" + std::to_string(10 + rng() % 20) + "APPLE/IMG_" + std::to_string(1000 + i % 9000) + ".JPG";
  } else if (kind < 78) {
    domain = "MediaDomain";
    path = "Library/SMS/Attachments/" + Hex(rng, 2) + "/" + Hex(rng, 2) + "/IMG_" + std::to_string(i) + ".jpeg";
  } else if (kind < 85) {
    domain = "MediaDomain";
    path = "Media/PhotoData/Thumbnails/V2/DCIM/100APPLE/IMG_" + std::to_string(i) + ".JPG/5005.JPG";
  } else {
    domain = rng() % 2 ? "HomeDomain" : "SysContainerDomain-com.apple.system";
    path = "Library/Preferences/com.apple." + Hex(rng, 6) + ".plist";
  }
  const bool folder = rng() % 20 == 0;
  out.Field(domain);
  out.Field(path);
  out.Absent();                                  // link target
  if (folder) {
    out.Absent();                                // digest
    out.Absent();                                // key
  } else {
    out.Field(RandomBytes(rng, 20));
    out.Field(std::string("\x00\x00\x00\x03", 4) + RandomBytes(rng, 40));  // 44-byte file key
  }
  out.Number(folder ? 040755 : 0100644, 2);
  out.Number(rng(), 8);
  out.Number(501, 4);
  out.Number(501, 4);
  for (int t = 0; t < 3; ++t) out.Number(1400000000 + rng() % 100000000, 4);
  out.Number(folder ? 0 : rng() % 5000000, 8);
  out.Number(folder ? 0 : 1 + rng() % 4, 1);
  const int properties = rng() % 10 == 0 ? 1 : 0;
  out.Number(static_cast<std::uint64_t>(properties), 1);
  if (properties) {
    out.Field("com.apple.assetsd.UUID");
    out.Field(Hex(rng, 36));
  }
}

// Runs the Python baseline without a shell and returns its one line of output.
std::string RunPython(const std::string& script, const std::string& file) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::string python = "/usr/bin/python3", repeat = "--repeat", runs = std::to_string(kRuns);
  std::vector<char*> argv = {python.data(), const_cast<char*>(script.c_str()), const_cast<char*>(file.c_str()),
                             repeat.data(), runs.data(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, python.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return output;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t entries = 100000;
  std::string script = (fs::path(BENCH_SOURCE_DIR) / "mbdb_parse.py").string();
  std::string keep;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--entries") {
      entries = std::strtoull(argv[i + 1], nullptr, 10);
    } else if (option == "--python-script") {
      script = argv[i + 1];
    } else if (option == "--keep") {
      keep = argv[i + 1];
    } else {
      std::fprintf(stderr, "usage: %s [--entries N] [--python-script PATH] [--keep FILE]\n", argv[0]);
      return 2;
    }
  }

  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/index-bench-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string file = folder + "/Manifest.mbdb";
  {
    IndexWriter writer;
    std::mt19937_64 rng(20240601);
    for (std::size_t i = 0; i < entries; ++i) WriteRecord(writer, rng, i);
    std::ofstream(file, std::ios::binary) << writer.Bytes();
    if (!keep.empty()) std::ofstream(keep, std::ios::binary) << writer.Bytes();
  }
  const double megabytes = static_cast<double>(fs::file_size(file)) / 1e6;

  double best = 1e9;
  std::size_t records = 0;
  for (int run = 0; run < kRuns; ++run) {
    std::vector<sieve::CManifestRecord> out;
    const auto start = std::chrono::steady_clock::now();
    const sieve::MbdbResult result = sieve::ReadMbdbFile(file, out);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.status != sieve::MbdbStatus::Ok) {
      std::fprintf(stderr, "ReadMbdbFile: %s\n", sieve::MbdbStatusText(result.status));
      fs::remove_all(folder);
      return 1;
    }
    records = out.size();
    if (seconds < best) best = seconds;
  }
  std::printf("index: %zu entries, %.1f MB\n", records, megabytes);
  std::printf("ReadMbdbFile (best of %d):     %8.4f s  %8.1f MB/s  %6.2f M entries/s\n", kRuns, best,
              megabytes / best, static_cast<double>(records) / best / 1e6);

  const std::string line = RunPython(script, file);
  fs::remove_all(folder);
  unsigned long long pyRecords = 0, pyBytes = 0;
  double pySeconds = 0;
  if (std::sscanf(line.c_str(), "records %llu bytes %llu seconds %lf", &pyRecords, &pyBytes, &pySeconds) != 3 ||
      pySeconds <= 0) {
    std::fprintf(stderr, "python baseline failed (%s)\n", script.c_str());
    return 1;
  }
  std::printf("python3 mbdb_parse.py (best of %d): %8.4f s  %8.1f MB/s  (%llu entries)\n", kRuns, pySeconds,
              megabytes / pySeconds, pyRecords);
  std::printf("speed-up: %.1fx\n", pySeconds / best);
  return pyRecords == records ? 0 : 1;
}
