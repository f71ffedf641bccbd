// Creates the extractor of one slot of a backup.
#pragma once

#include <memory>

#include "sieve/backup/category_rules.h"
#include "sieve/extractors/database_info.h"

namespace sieve {

// The extractor for a slot, or null for a category this version does not read yet.
std::unique_ptr<CDatabaseInfo> CreateExtractor(ExtractorSlot slot);

}  // namespace sieve
