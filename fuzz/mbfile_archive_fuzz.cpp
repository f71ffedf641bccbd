// Feeds arbitrary bytes to the decoder of a Manifest.db row's MBFile archive, and to
// the property-list shape check that guards every list we hand to libplist.
#include <cstddef>
#include <cstdint>

#include "sieve/backup/manifest_db.h"
#include "tether/plist_shape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tether::PlistShapeAcceptable(data, size);
  sieve::ManifestRow row;
  row.fileId = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
  row.domain = "HomeDomain";
  row.relativePath = "Library/AddressBook/AddressBook.sqlitedb";
  row.flags = static_cast<std::int64_t>(size % 5);
  row.archive = data;
  row.archiveSize = size;
  sieve::CManifestRecord record;
  sieve::DecodeManifestRow(row, record);
  return 0;
}
