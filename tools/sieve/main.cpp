// `sieve`: the command line of the backup reader.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/time_zone.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/exit_codes.h"
#include "tools/sieve/interrupts.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

struct Command {
  std::string_view name;
  std::string_view usage;
  int (*run)(const Arguments&);
};

constexpr Command kCommands[] = {
    {"list", kListUsage, RunList},          {"info", kInfoUsage, RunInfo},
    {"files", kFilesUsage, RunFiles},       {"extract", kExtractUsage, RunExtract},
    {"scan", kScanUsage, RunScan},          {"unpack", kUnpackUsage, RunUnpack},
    {"key", kKeyUsage, RunKey},
};

constexpr std::string_view kHelp = R"(usage: sieve COMMAND [ARGUMENTS]

Reads iTunes-style iPhone backups: Info.plist, Manifest.plist and the file
index, Manifest.mbdb (up to iOS 9) or Manifest.db (iOS 10 and later), plain
or encrypted.

Commands:
  list [--root DIR] [--json]          the backups in DIR (default
                                      $XDG_DATA_HOME/MobileSync/Backup, else
                                      ~/.local/share/MobileSync/Backup)
  info BACKUP [--json]                the properties of one backup folder, its
                                      index layout and warnings
  files BACKUP [--json]               the backup's file index
  extract BACKUP DOMAIN PATH -o FILE  one file, decrypted, into FILE
  scan BACKUP [--json]                finds the records of every category;
                                      --json writes one JSON object per line
  unpack BACKUP -o DIR [--domain D]   every file, decrypted, into DIR/domain/path
  key BACKUP -o FILE [--force]        derives the key of the password once and
                                      writes it to FILE (mode 0600; --force
                                      replaces an existing FILE)
  help [COMMAND]                      this text, or the usage of one command

Dates are in the computer's time zone (TZ is honoured); --utc, given with
any command, shows them in UTC.

Password of an encrypted backup (files, extract, scan, unpack, key; info
takes the options too and ignores them):
  --password-file FILE   the first line of FILE
  --password-stdin       the first line of standard input
  --key-file FILE        the key written by sieve key instead of a password
                         (not for key itself)
  without any, a prompt without echo when standard input is a terminal.
  A password is never taken as an argument. files needs it only for a
  Manifest.db index, which is encrypted as a whole. The key opens the backup
  as the password does: keep its file as private as the password.

Warnings about the backup (not finished, not a full backup, index rows that
could not be read) go to standard error as "sieve: warning: ..." lines.

Exit status: 0 success, 1 failure, 2 usage error, 3 wrong password or key,
4 not a backup or no such folder.
)";

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

bool AsksForHelp(const Arguments& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

int Help(const Arguments& args) {
  if (args.empty()) {
    WriteOut(kHelp);
    return kExitOk;
  }
  const Command* command = FindCommand(args[0]);
  if (command == nullptr || args.size() > 1) throw UsageError("help takes one command name");
  WriteOut("usage: " + std::string(command->usage) + "\n");
  return kExitOk;
}

int Dispatch(const Arguments& words) {
  if (words.empty()) throw UsageError("no command given (see sieve help)");
  const std::string& name = words[0];
  const Arguments args(words.begin() + 1, words.end());
  if (name == "help" || name == "--help" || name == "-h") return Help(args);
  const Command* command = FindCommand(name);
  if (command == nullptr) throw UsageError("unknown command '" + Printable(name) + "' (see sieve help)");
  if (AsksForHelp(args)) return Help({std::string(command->name)});
  return command->run(args);
}

// Standard output may be a full disk or a closed pipe; that is a failure too.
int CheckOutput(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("sieve: cannot write standard output\n", stderr);
    return status == kExitOk ? kExitFailure : status;
  }
  return status;
}

}  // namespace

void WriteOut(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace sieve::cli

int main(int argc, char** argv) {
  using namespace sieve::cli;
  RemovePrivateDataOnSignals();
  Arguments words(argv + (argc > 0 ? 1 : 0), argv + argc);
  // --utc applies to every command, so it is taken here, before the command's own options.
  const auto end = std::find(words.begin(), words.end(), "--");
  if (const auto utc = std::remove(words.begin(), end, "--utc"); utc != end) {
    words.erase(utc, end);
    sieve::SetUtcTimes(true);
  }
  int status = kExitFailure;
  try {
    status = Dispatch(words);
  } catch (const CommandError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "sieve: %s\n", error.what());
    status = error.Code();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "sieve: %s\n", error.what());
    status = kExitFailure;
  }
  return CheckOutput(status);
}
