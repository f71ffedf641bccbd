// Damage met while reading a database: SQLite refusing the file or failing part-way
// through a query, or a b-tree walk that could not follow every page. Whatever reads a
// database reports here, and whoever wants to know (the scan, around each extractor)
// holds a watch on the same thread: the extractors pass nothing along themselves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::sqlite {

enum class ReadDamage : std::uint8_t {
  kPartial,     // read, but some of it was lost to damage
  kUnreadable,  // nothing of it could be read
};

struct DamagedFile {
  std::string path;  // absolute and normal, so the same file compares equal however named
  ReadDamage damage = ReadDamage::kPartial;
  int code = 0;  // the SQLite result that told, when SQLite told
};

// While alive, collects what reads on its thread report; watches nest, the innermost
// one collecting. One entry per file, the worse damage kept.
class ReadDamageWatch {
 public:
  ReadDamageWatch();
  ~ReadDamageWatch();
  ReadDamageWatch(const ReadDamageWatch&) = delete;
  ReadDamageWatch& operator=(const ReadDamageWatch&) = delete;

  const std::vector<DamagedFile>& Files() const { return files_; }
  void Note(std::string_view path, ReadDamage damage, int code);

 private:
  ReadDamageWatch* outer_;
  std::vector<DamagedFile> files_;
};

// Tells the thread's watch, if there is one.
void NoteReadDamage(std::string_view path, ReadDamage damage, int code);

// The result codes that mean the file itself is at fault (damaged, cut short, not a
// database), not the query asked of it.
bool IsDamageResult(int code);

// How a file is named in a watch.
std::string DamageKey(std::string_view path);

}  // namespace sieve::sqlite
