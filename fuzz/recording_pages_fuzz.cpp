// Feeds arbitrary bytes to the voice memo engine as a Recordings.db or CloudRecordings.db:
// the table chosen from the file's own schema, the shape from its columns, the carving, and
// the live-row comparisons that drop copies of live memos.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/extractors/recording_undelete.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sieve::CRecordingUndelete engine;
  engine.LoadBytes(std::vector<std::uint8_t>(data, data + size));
  std::size_t sink = 0;
  if (engine.scan() > 0) {
    for (const auto& memo : engine.Memos()) sink += memo.path.size() + memo.label.size();
  }
  return sink == static_cast<std::size_t>(-1) ? 1 : 0;
}
