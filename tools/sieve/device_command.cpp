// `device`: the commands that talk to an attached phone, one word after "device".
#include <string>
#include <string_view>

#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

int RunDevice(const Arguments& args) {
  if (args.empty()) throw UsageError("device needs a command; usage: " + std::string(kDeviceUsage));
  const Arguments rest(args.begin() + 1, args.end());
  if (args[0] == "exit-recovery") return RunDeviceExitRecovery(rest);
  throw UsageError("unknown device command '" + Printable(args[0]) + "'; usage: " + std::string(kDeviceUsage));
}

}  // namespace sieve::cli
