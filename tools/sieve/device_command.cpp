// `device`: the subcommands that talk to an attached device.
#include <string>
#include <string_view>

#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

int RunDevice(const Arguments& args) {
  constexpr struct {
    std::string_view name;
    int (*run)(const Arguments&);
  } kSubcommands[] = {{"backup", RunDeviceBackup}};
  if (args.empty()) throw UsageError("device needs a subcommand; usage: " + std::string(kDeviceUsage));
  for (const auto& sub : kSubcommands) {
    if (args[0] == sub.name) return sub.run(Arguments(args.begin() + 1, args.end()));
  }
  throw UsageError("unknown device subcommand '" + Printable(args[0]) + "'; usage: " + std::string(kDeviceUsage));
}

}  // namespace sieve::cli
