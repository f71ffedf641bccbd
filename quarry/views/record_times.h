// The modification time the backup's index gives a record's file. Records that
// do not carry it yet answer 0 (unknown), so the views date such files as
// unknown rather than by a guess; once a record has the field it is used.
#pragma once

#include <cstdint>

namespace quarry::views {

template <class Record>
std::int64_t IndexModifiedTime(const Record& record) {
  if constexpr (requires { record.ModifiedTime; }) {
    return static_cast<std::int64_t>(record.ModifiedTime);
  } else {
    return 0;
  }
}

}  // namespace quarry::views
