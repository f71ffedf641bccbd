// The commands of `sieve`. Each takes the words after its name and returns
// the exit status; failures are thrown as CommandError.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sieve::cli {

using Arguments = std::vector<std::string>;

int RunList(const Arguments& args);
int RunInfo(const Arguments& args);
int RunFiles(const Arguments& args);
int RunExtract(const Arguments& args);
int RunScan(const Arguments& args);
int RunUnpack(const Arguments& args);
int RunKey(const Arguments& args);
int RunCarve(const Arguments& args);
// `device SUBCOMMAND ...`: work with an attached device.
int RunDevice(const Arguments& args);
int RunDeviceBackup(const Arguments& args);
int RunDeviceExitRecovery(const Arguments& args);

// "[password option]" is --password-file FILE, --password-stdin or --key-file FILE.
inline constexpr std::string_view kListUsage = "sieve list [--root DIR] [--json]";
inline constexpr std::string_view kInfoUsage = "sieve info BACKUP [--json] [password option]";
inline constexpr std::string_view kFilesUsage = "sieve files BACKUP [--json] [password option]";
inline constexpr std::string_view kExtractUsage =
    "sieve extract BACKUP DOMAIN PATH -o FILE|- [--force] [password option]";
inline constexpr std::string_view kScanUsage = 
    "sieve scan BACKUP [--json [--files-to DIR]] [password option]";
inline constexpr std::string_view kUnpackUsage =
    "sieve unpack BACKUP -o DIR [--domain D] [--force] [password option]";
inline constexpr std::string_view kCarveUsage =
    "sieve carve DB [--wal FILE] [--journal FILE] [--main-only] [--table NAME] [--json] [--include-live] [--memory-mb N] | "
    "sieve carve BACKUP DOMAIN PATH [--main-only] [--table NAME] [--json] [--include-live] [--memory-mb N] [password option]";
inline constexpr std::string_view kKeyUsage =
    "sieve key BACKUP -o FILE [--force] [--password-file FILE | --password-stdin]";
inline constexpr std::string_view kDeviceUsage =
    "sieve device list [--json] | backup [--udid UDID] -o DIR | exit-recovery [--ecid ECID]";
inline constexpr std::string_view kDeviceListUsage = "sieve device list [--json]";
inline constexpr std::string_view kDeviceBackupUsage = "sieve device backup [--udid UDID] -o DIR";

inline constexpr std::string_view kDeviceExitRecoveryUsage = "sieve device exit-recovery [--ecid ECID]";

// Default folder of `list`: $XDG_DATA_HOME/MobileSync/Backup, else
// ~/.local/share/MobileSync/Backup.
std::string DefaultBackupRoot();

// Writes the whole text to standard output.
void WriteOut(std::string_view text);

}  // namespace sieve::cli
