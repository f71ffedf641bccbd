// `device`: the devices attached to this computer. Subcommands share the word so that
// everything about a live device sits under one name.
#include <string>
#include <string_view>
#include <vector>

#include "tether/device/device_models.h"
#include "tether/device/device_sources.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/json_writer.h"
#include "tools/sieve/options.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

const char* TrustWord(int trust) {
  switch (trust) {
    case 1: return "trusted";
    case 2: return "waiting";
    default: return "none";
  }
}

void WriteDevice(JsonWriter& json, const tether::DeviceSummary& device) {
  json.BeginObject()
      .Field("udid", device.udid)
      .Field("name", device.name)
      .Field("product_type", device.productType)
      .Field("model", tether::ModelName(device.productType))
      .Field("product_version", device.productVersion)
      .Field("device_class", device.deviceClass)
      .Field("mode", tether::ModeName(device.mode))
      .Field("trust", TrustWord(device.trust));
  const std::string waitText = tether::WaitText(device.wait, device.waitError);
  json.Key("wait");
  if (device.wait == tether::TrustWait::None) {
    json.Null();
  } else {
    json.String(tether::WaitName(device.wait));
  }
  json.Key("wait_text");
  if (waitText.empty()) {
    json.Null();
  } else {
    json.String(waitText);
  }
  json.EndObject();
}

int RunDeviceList(const Arguments& args) {
  const Options options(args, {"--json"}, {});
  options.RequirePositional(0, kDeviceListUsage);
  std::vector<tether::DeviceSummary> devices;
  std::vector<std::string> problems;
  const std::vector<tether::DeviceSource> sources = tether::DeviceSources();
  for (const tether::DeviceSource& source : sources) {
    tether::DeviceError error;
    for (tether::DeviceSummary& device : source.list(error)) devices.push_back(std::move(device));
    if (error) problems.push_back(Printable(source.name + ": " + error.text));
  }
  // Nothing seen while a source could not look is a failure, not an empty list: the
  // phone may well be there.
  if (devices.empty() && !problems.empty()) {
    std::string message = problems.front();
    for (std::size_t i = 1; i < problems.size(); ++i) message += "; " + problems[i];
    throw CommandError(kExitFailure, message);
  }
  for (const std::string& problem : problems) Warn(problem);

  if (options.Has("--json")) {
    JsonWriter json;
    json.BeginArray();
    for (const tether::DeviceSummary& device : devices) WriteDevice(json, device);
    json.EndArray();
    WriteOut(json.Text() + "\n");
    return kExitOk;
  }
  if (devices.empty()) {
    WriteOut("no devices attached\n");
    return kExitOk;
  }
  TextTable table({"UDID", "Name", "Product", "iOS", "Mode", "Trust", "Waiting for"});
  for (const tether::DeviceSummary& device : devices) {
    table.AddRow({device.udid, device.name, device.productType, device.productVersion,
                  tether::ModeName(device.mode), TrustWord(device.trust),
                  tether::WaitText(device.wait, device.waitError)});
  }
  std::fflush(stdout);
  table.Print(stdout);
  return kExitOk;
}

struct Subcommand {
  std::string_view name;
  int (*run)(const Arguments&);
};

constexpr Subcommand kSubcommands[] = {
    {"list", RunDeviceList},
    {"backup", RunDeviceBackup},
    {"exit-recovery", RunDeviceExitRecovery},
};

}  // namespace

int RunDevice(const Arguments& args) {
  if (args.empty()) throw UsageError("device needs a subcommand: " + std::string(kDeviceUsage));
  for (const Subcommand& sub : kSubcommands) {
    if (sub.name == args[0]) return sub.run(Arguments(args.begin() + 1, args.end()));
  }
  throw UsageError("unknown device subcommand '" + Printable(args[0]) + "' (see sieve help device)");
}

}  // namespace sieve::cli
