// Feeds arbitrary bytes to the deleted-record engine as a database file: page map, schema,
// free regions, carving with two shapes, and the live-row walks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sieve/sqlite/record_decoder.h"
#include "sieve/sqlite/sqlite_delete.h"

namespace {

class FuzzCarver : public sieve::CSqliteDelete {
 protected:
  std::vector<sieve::RecordShape> Shapes() const override {
    using namespace sieve::sqlite;
    RecordShape aliasTextIntReal;
    aliasTextIntReal.columns = {kNull, kNull | kText, kNull | kInteger, kNull | kReal | kInteger};
    aliasTextIntReal.rowidAliasColumn = 0;
    RecordShape loose;
    loose.columns = {kAny, kAny, kAny, kAny, kAny};
    loose.minColumns = 2;
    loose.maxBytes = {0, 100};
    std::vector<RecordShape> shapes{aliasTextIntReal, loose};
    // Whatever the file's own schema describes, as the category engines will do.
    for (const auto& entry : Schema()) {
      if (auto shape = ShapeForTable(entry.name)) shapes.push_back(*shape);
      if (shapes.size() >= 4) break;
    }
    return shapes;
  }
  void OnRecord(std::size_t, const sieve::CarvedRecord& record, const sieve::RecordOrigin&) override {
    for (const auto& value : record.values) sink_ += Text(value).size();
  }

 private:
  std::size_t sink_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<sieve::sqlite::Value> values;
  sieve::sqlite::DecodeRecord(data, data + size, values, size % 2 == 0);

  FuzzCarver carver;
  carver.LoadBytes(std::vector<std::uint8_t>(data, data + size));
  carver.scan();
  for (const auto& entry : carver.Schema()) {
    carver.LiveRowids(entry.name);
    carver.ForEachLiveRow(entry.name, [](std::int64_t, const std::vector<sieve::sqlite::Value>&) {});
  }
  return 0;
}
