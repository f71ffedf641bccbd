// One whole scan of a backup: key bag, file index, index walk, extractors in
// their fixed order, and delivery of every record through the callback.
#pragma once

#include "sieve/reader/backup_record.h"

namespace sieve {

// -1 wrong password; 0 no index, no key bag; 1 stopped; otherwise the notes result.
int RunScan(CBackupRecord& record);

}  // namespace sieve
