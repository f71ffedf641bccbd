// JSON form of the record structures a scan delivers, in the style of every
// sieve JSON output: snake_case names, true/false for flags, numbers as
// numbers, dates in ISO 8601 with their offset, nested lists as arrays. File
// keys are secrets and appear only as "has_key". Paths of the files records
// point at are written by FileCopies (see there).
#pragma once

#include "sieve/info_type.h"
#include "sieve/records.h"
#include "tools/sieve/file_copies.h"
#include "tools/sieve/json_writer.h"

namespace sieve::cli {

// One delivered record as a whole object: {"category": name, fields...}.
// `record` points at the structure that `type` names; an unknown type gives
// only the category member.
void WriteRecord(JsonWriter& json, const void* record, _InfoType type, FileCopies& files);

}  // namespace sieve::cli
