// One whole scan of a backup: key bag, file index, index walk, extractors in
// their fixed order, and delivery of every record through the callback.
#pragma once

#include "sieve/reader/backup_record.h"

namespace sieve {

// -1 wrong password; 1 stopped; otherwise 0 (what could not be read is in the record's
// database problems, and in its error when nothing could be read).
int RunScan(CBackupRecord& record);

}  // namespace sieve
