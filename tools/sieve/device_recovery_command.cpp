// `device exit-recovery`: brings a phone out of recovery mode by the kick-out
// (auto-boot on, environment saved, reboot). A phone in DFU mode cannot be told
// anything: the command says how to leave it with the buttons instead.
#include <string>

#include "tether/device/recovery_device.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/options.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {

int RunDeviceExitRecovery(const Arguments& args) {
  const Options options(args, {}, {"--ecid"});
  options.RequirePositional(0, kDeviceExitRecoveryUsage);
  std::uint64_t ecid = 0;
  if (const auto given = options.Value("--ecid")) {
    const auto parsed = tether::ParseEcid(*given);
    if (!parsed) throw UsageError("--ecid takes the device's ECID in hex (0x...) or decimal, not " + Printable(*given));
    ecid = *parsed;
  }
  tether::RecoveryDevice device;
  if (const tether::DeviceError error = tether::QueryRecoveryDevice(ecid, device)) {
    throw CommandError(kExitFailure, error.text);
  }
  if (device.mode != tether::RecoveryMode::Recovery) {
    throw CommandError(kExitFailure,
                       tether::RecoveryDeviceLabel(device) + " (ECID " + tether::EcidText(device.ecid) +
                           ") is in DFU mode, which no command can leave. Force a restart: on iPhone 8 and later "
                           "press and release volume up, then volume down, then hold the side button until the "
                           "Apple logo shows; on iPhone 7 hold volume down and the side button; on older models "
                           "hold the home and the top (or side) button.");
  }
  Note("leaving recovery mode: " + tether::RecoveryDeviceLabel(device) + ", ECID " + tether::EcidText(device.ecid));
  if (const tether::DeviceError error = tether::ExitRecovery(device.ecid)) throw CommandError(kExitFailure, error.text);
  WriteOut(tether::RecoveryDeviceLabel(device) + " restarts; it shows its system in a minute unless it needs a "
                                                 "repair (then it comes back in recovery mode)\n");
  return kExitOk;
}

}  // namespace sieve::cli
