// The camera roll's photo library (Media/PhotoData/Photos.sqlite): for each asset the file
// it names, when it was taken, whether it sits in "Recently Deleted", its size in pixels
// and the albums it was put in. The asset table and the album join table changed names
// over the system versions; both are found by what their columns say, not by a version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sieve {

namespace sqlite {
class Database;
}

struct PhotoAsset {
  std::string devicePath;  // "Media/" + directory + "/" + file name, as the backup index names it
  std::string dateTaken;   // date text, "" when unknown
  bool trashed = false;
  std::string trashedDate;
  std::int32_t kind = 0;   // 0 picture, 1 video
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::string> albums;  // titles, in title order
};

// Every asset with a directory and a file name, in primary-key order; empty when the
// database holds no asset table it knows.
std::vector<PhotoAsset> ReadPhotoLibrary(sqlite::Database& db);

}  // namespace sieve
