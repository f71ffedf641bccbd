#include "sieve/path_safety.h"

namespace sieve {

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.find('\0') != std::string_view::npos) return false;
  if (path.find('\\') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string SafeFileName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool reserved = u < 0x20 || u == 0x7F || c == '\\' || c == '/' || c == ':' || c == '*' ||
                          c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
    out.push_back(reserved ? '_' : c);
  }
  if (out.empty() || out == "." || out == "..") return "_";
  return out;
}

}  // namespace sieve
