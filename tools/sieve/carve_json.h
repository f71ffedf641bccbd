// JSON Lines of `sieve carve`: one object per recovered record, then a summary.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "sieve/sqlite/carve_engine.h"
#include "tools/sieve/json_writer.h"

namespace sieve::cli {

// Records per table ("" for records no table's shape claims) and per source.
using CarveCounts = std::map<std::string, std::map<std::string, std::uint64_t>>;

// {"table": name|null, "source": ..., "page": n, "offset": n, "rowid": n|null,
//  "values": [...]}, plus "also_in" when the record was found elsewhere too and
// "partial": true when some values lost their overflow pages. Integers and reals
// are numbers, text strings, NULL null, blobs {"base64": "..."}.
void WriteCarvedRow(JsonWriter& json, const sqlite::CarvedRow& row);

// {"summary": {"counts": {table: {source: n}}, "records": n, "pages_read": n,
//  "seconds": s, "stopped": bool}}; unclaimed records count under "".
void WriteCarveSummary(JsonWriter& json, const CarveCounts& counts, const sqlite::CarveResult& result,
                       double seconds);

// Standard base64 with padding, and the same appended to `out`.
std::string Base64(std::string_view bytes);
void AppendBase64(std::string& out, std::string_view bytes);

}  // namespace sieve::cli
