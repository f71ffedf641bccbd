#include "sieve/sqlite/main_file_history.h"

#include <utility>

namespace sieve::sqlite {

FileHistory MainFileHistory(std::vector<std::uint8_t> mainFile) {
  FileHistory history;
  history.currentBytes = std::move(mainFile);
  history.current.bytes = history.currentBytes;
  history.current.header = ReadDatabaseHeader(history.currentBytes);
  return history;
}

}  // namespace sieve::sqlite
