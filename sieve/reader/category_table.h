// The categories a scan knows, in one table: one row per extractor slot, in the
// order the scan runs them.
//
// Two names on purpose: a row's `slotName` is the file-index category ("call-history",
// as `sieve files` and `sieve list` print it), while each kind's `name` is the record
// kind a callback receives ("calls", as the JSON output prints it). Both are part of
// what the command line and the tests read: never rename them.
#pragma once

#include <array>
#include <memory>

#include "sieve/backup/category_rules.h"
#include "sieve/extractors/database_info.h"
#include "sieve/info_type.h"

namespace sieve {

struct DeliveredKind {
  int type = -1;             // an _InfoType, -1 for none
  const char* name = nullptr;
  int progressShare = 0;     // points the delivery of this list spreads over; 0 for none
  constexpr bool IsSet() const { return type >= 0; }
};

struct CategoryRow {
  ExtractorSlot slot;
  const char* slotName;
  // In delivery order: messages deliver their attachments before the conversations,
  // so that a message's attachment key is known when the message arrives.
  std::array<DeliveredKind, 2> kinds;
  std::unique_ptr<CDatabaseInfo> (*create)();
  float progressAtEnd;  // the percentage once this row's step has ended
};

// Every slot once, in scan order.
const std::array<CategoryRow, kExtractorSlotCount>& CategoryTable();

const CategoryRow& CategoryRowOf(ExtractorSlot slot);

// A stable lower-case name of the file-index category ("call-history").
const char* SlotName(ExtractorSlot slot);

// A new extractor for the slot.
std::unique_ptr<CDatabaseInfo> CreateExtractor(ExtractorSlot slot);

}  // namespace sieve
