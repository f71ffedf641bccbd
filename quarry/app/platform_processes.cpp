#include "quarry/app/platform_processes.h"

namespace quarry {

int EndProcessesNamed(const QString& /*baseName*/) {
  // No Windows process table here; the Windows build brings its own file.
  return 0;
}

}  // namespace quarry
