#include "sieve/sqlite/read_damage.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

namespace sieve::sqlite {
namespace {

thread_local ReadDamageWatch* current = nullptr;

}  // namespace

ReadDamageWatch::ReadDamageWatch() : outer_(current) { current = this; }

ReadDamageWatch::~ReadDamageWatch() { current = outer_; }

void ReadDamageWatch::Note(std::string_view path, ReadDamage damage, int code) {
  std::string key = DamageKey(path);
  for (DamagedFile& file : files_) {
    if (file.path != key) continue;
    if (damage > file.damage) {
      file.damage = damage;
      file.code = code;
    }
    return;
  }
  files_.push_back({std::move(key), damage, code});
}

void NoteReadDamage(std::string_view path, ReadDamage damage, int code) {
  if (current != nullptr && !path.empty()) current->Note(path, damage, code);
}

bool IsDamageResult(int code) {
  switch (code & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_IOERR:
    case SQLITE_FORMAT:
      return true;
    default:
      return false;
  }
}

std::string DamageKey(std::string_view path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), ec);
  return (ec ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

}  // namespace sieve::sqlite
