#include "sieve/private_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <filesystem>
#include <vector>

#include "sieve/path_safety.h"

namespace sieve {
namespace fs = std::filesystem;

PrivateFolder::~PrivateFolder() { Remove(); }

bool PrivateFolder::Ensure() {
  if (!path_.empty()) return true;
  static std::once_flag swept;
  std::call_once(swept, [] { RemoveStalePrivateFolders(); });
  const char* base = std::getenv("TMPDIR");
  std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
  pattern += "/sieve-" + std::to_string(::getpid()) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // mkdtemp creates the folder with mode 0700.
  if (mkdtemp(buffer.data()) == nullptr) return false;
  path_ = buffer.data();
  ::chmod(path_.c_str(), S_IRWXU);
  onSignal_.Register(path_);
  return true;
}

std::string PrivateFolder::NewFilePath(std::string_view name) {
  if (!Ensure()) return {};
  const std::string safe = SafeFileName(name);
  const std::size_t dot = safe.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0;
  const std::string stem = hasExtension ? safe.substr(0, dot) : safe;
  const std::string extension = hasExtension ? safe.substr(dot) : std::string();
  std::string candidate = safe;
  // A name that cannot be looked at counts as free: creating the file will tell.
  const auto taken = [this](const std::string& name) {
    std::error_code ec;
    return used_.count(name) != 0 || fs::exists(fs::path(path_) / name, ec);
  };
  for (int n = 2; taken(candidate); ++n) {
    candidate = stem + "-" + std::to_string(n) + extension;
  }
  used_.insert(candidate);
  return (fs::path(path_) / candidate).string();
}

void PrivateFolder::Clear() {
  used_.clear();
  if (path_.empty()) return;
  std::error_code ec;
  // increment(ec), not a range-for: its ++ throws when the listing fails part-way.
  for (fs::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code removeError;
    fs::remove_all(it->path(), removeError);
  }
}

void PrivateFolder::Remove() {
  used_.clear();
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
  onSignal_.Release();
  path_.clear();
}

}  // namespace sieve
