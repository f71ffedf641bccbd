// Ending a running iTunes, which would hold the device while Quarry reads it.
#pragma once

#include <QString>

namespace quarry {

// Ends every running process whose program is named baseName and returns how
// many were ended. iTunes does not run on Linux, so there it finds none.
int EndProcessesNamed(const QString& baseName);

}  // namespace quarry
