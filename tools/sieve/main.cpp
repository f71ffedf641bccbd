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
  std::string_view details;  // what it does and every option it takes
  int (*run)(const Arguments&);
};

constexpr std::string_view kPasswordOptions = R"(
Password of an encrypted backup:
  --password-file FILE   the password is the first line of FILE
  --password-stdin       the password is the first line of standard input
  --key-file FILE        the key written by sieve key instead of a password
  Without any of them the password is asked for at the terminal, without
  echo; a wrong one is asked again, up to three times.
)";

constexpr std::string_view kCommonOptions = R"(
Options of every command:
  -q, --quiet            no progress, notes or warnings; errors only
  -v, --verbose          also the steps, with the seconds since the start
  --utc                  dates in UTC instead of the computer's time zone
)";

constexpr Command kCommands[] = {
    {"list", kListUsage, R"(
The backups found directly under a folder, by name, then date.
  --root DIR             the folder to look in (default
                         $XDG_DATA_HOME/MobileSync/Backup, else
                         ~/.local/share/MobileSync/Backup)
  --json                 one JSON array instead of a table
)", RunList},
    {"info", kInfoUsage, R"(
The properties of one backup folder, its index layout and its warnings.
  --json                 one JSON object instead of a table
  The password options are taken, and ignored, so that scripts can give every
  command the same ones.
)", RunInfo},
    {"files", kFilesUsage, R"(
The backup's file index, one row (or JSON object) per entry, written as the
index is read. Only a Manifest.db index of an encrypted backup needs the
password.
  --json                 one JSON array, an object per entry
)", RunFiles},
    {"extract", kExtractUsage, R"(
One file of the backup, decrypted, by its domain and path (as files lists them).
  -o, --output FILE      where to write it; "-" writes it to standard output
                         (refused when that is a terminal)
  --force                replace FILE when it exists
)", RunExtract},
    {"scan", kScanUsage, R"(
Finds the records of every category, live and deleted. Prints a table of
counts per category, or with --json one JSON object per record and line,
then a summary object. Ctrl-C stops the scan and still sums up what it found.
  --json                 JSON Lines on standard output
  --files-to DIR         with --json: copies the files records point at
                         (pictures, attachments, recordings, media), decrypted,
                         into DIR (created, mode 0700) and names those copies
                         in the records; without it those fields are left out
)", RunScan},
    {"unpack", kUnpackUsage, R"(
Every file of the backup, decrypted, into DIR/domain/path with its
modification time; links and unsafe names are skipped. A new DIR is made
with mode 0700. Shows its progress on a terminal.
  -o, --output DIR       the folder to write into
  --domain D             only the files of domain D
  --force                replace files that exist in DIR
)", RunUnpack},
    {"key", kKeyUsage, R"(
Derives the key of an encrypted backup's password once and writes it to FILE
(mode 0600), so that later commands open the backup with --key-file without
the slow derivation. The key opens the backup as the password does. It is
never written to standard output.
  -o, --output FILE      where to write the key
  --force                replace FILE when it exists
  --password-file FILE   the password is the first line of FILE
  --password-stdin       the password is the first line of standard input
  Without either the password is asked for at the terminal, without echo; a
  wrong one is asked again, up to three times.
)", RunKey},
    {"carve", kCarveUsage, R"(
Deleted records of any table of an SQLite database: from free pages,
freeblocks, the unallocated space of pages, freed overflow chains, and every
older page version in the write-ahead log (superseded frames, frames past the
last commit, frames left from before a checkpoint) and the rollback journal.
A record identical to a live row is never reported; one found in several
places is reported once. Prints a table per table, or with --json one JSON
object per record and line, then a summary object. Ctrl-C stops the carve
and still sums up what it found.
  DB                     a database file; its log DB-wal and journal
                         DB-journal are read when they are beside it, as
                         SQLite itself would read them
  BACKUP DOMAIN PATH     a database inside a backup, decrypted into a private
                         folder together with its -wal and -journal when the
                         backup holds them; the folder is removed at the end
  --wal FILE             the write-ahead log to read instead
  --journal FILE         the rollback journal to read instead
  --main-only            reads no log or journal beside the database
  --table NAME           only the records of table NAME
  --include-live         also records identical to a live row
  --memory-mb N          carves a database and log of up to N MB (default 64)
                         in memory; a larger one sets its records aside in a
                         private temporary file, so memory stays flat
  --json                 JSON Lines on standard output: {"table": name or
                         null, "source": "freelist", "freeblock",
                         "unallocated", "overflow", "wal" or "journal",
                         "page": n, "offset": n, "rowid": n or null,
                         "values": [...]} with integers and reals as numbers,
                         text as strings, NULL as null and blobs as
                         {"base64": "..."}; "also_in" lists further sources,
                         "partial": true marks values cut short. Last comes
                         {"summary": {"counts": {table: {source: n}},
                         "records": n, "pages_read": n, "seconds": s,
                         "stopped": bool}}, unclaimed records under "".
)", RunCarve},
    {"device", kDeviceUsage, R"(
The devices attached over USB: usbmuxd's for list and backup, a phone in
recovery mode for exit-recovery.
  list                   one row per device: UDID, name, product type, iOS
                         version, mode, whether it trusts this computer and,
                         if not yet, what it waits for. A device that was
                         never paired is asked to trust this computer (it
                         shows "Trust This Computer?"); a pairing the device
                         forgot is made again.
  --json                 with list: one JSON array instead of a table
  backup                 a fresh full backup of the device into DIR/<udid>,
                         as the device makes it (encrypted when its backup
                         password is set: that password is asked for only when
                         the backup is opened). DIR must be new or empty. It
                         waits while the device asks to trust this computer,
                         and from iOS 16.1 on while it asks for its passcode.
                         Prints the backup's folder; progress and every wait
                         go to standard error. Ctrl-C stops the backup and
                         leaves DIR incomplete.
  -o, --output DIR       with backup: the folder to write into (made when
                         missing)
  --udid UDID            with backup: the device to back up when several are
                         attached
  exit-recovery          brings a phone out of recovery mode (it restarts into
                         its system); a phone in DFU mode is left with its
                         buttons, and the command says how
  --ecid ECID            the phone, by its ECID in hex (0x...) or decimal, when
                         more than one is attached (default: the first found)
)", RunDevice},
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
  extract BACKUP DOMAIN PATH -o FILE  one file, decrypted, into FILE (- for
                                      standard output; --force replaces FILE)
  scan BACKUP [--json]                finds the records of every category;
                                      --json writes one JSON object per line,
                                      --files-to DIR copies their files there
  unpack BACKUP -o DIR [--domain D]   every file, decrypted, into DIR/domain/path
                                      (--force replaces existing files)
  key BACKUP -o FILE [--force]        derives the key of the password once and
                                      writes it to FILE (mode 0600; --force
                                      replaces an existing FILE)
  carve DB [--json]                   deleted records of any SQLite database,
                                      from its free space, its -wal and
                                      -journal; or BACKUP DOMAIN PATH
  device list [--json]                the devices attached over USB, with
                                      their trust state
  device backup -o DIR [--udid UDID]  a fresh full backup of the attached
                                      device into DIR/<udid>
  device exit-recovery [--ecid ECID]  brings a phone out of recovery mode
  help [COMMAND]                      this text, or one command's options

Dates are in the computer's time zone (TZ is honoured); --utc, given with
any command, shows them in UTC.

Data goes to standard output; progress, timings, notes and warnings to
standard error. Given with any command, -q (--quiet) leaves out all but the
errors and -v (--verbose) adds the steps with their times. --version prints
the version.

Password of an encrypted backup (files, extract, scan, unpack, key, carve; info
takes the options too and ignores them):
  --password-file FILE   the first line of FILE
  --password-stdin       the first line of standard input
  --key-file FILE        the key written by sieve key instead of a password
                         (not for key itself)
  without any, a prompt without echo when standard input is a terminal; a
  wrong password typed there is asked again, up to three times.
  A password is never taken as an argument. files needs it only for a
  Manifest.db index, which is encrypted as a whole. The key opens the backup
  as the password does: keep its file as private as the password.

Warnings about the backup (not finished, not a full backup, index rows that
could not be read) go to standard error as "sieve: warning: ..." lines.

Exit status: 0 success, 1 failure (for device: usbmuxd does not answer),
2 usage error, 3 wrong password or key, 4 not a backup or no such folder.
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
  std::string text = "usage: " + std::string(command->usage) + "\n" + std::string(command->details);
  if (command->usage.find("[password option]") != std::string_view::npos) text += kPasswordOptions;
  text += kCommonOptions;
  WriteOut(text);
  return kExitOk;
}

int Dispatch(const Arguments& words) {
  if (words.empty()) throw UsageError("no command given (see sieve help)");
  const std::string& name = words[0];
  const Arguments args(words.begin() + 1, words.end());
  if (name == "help" || name == "--help" || name == "-h") return Help(args);
  if (name == "--version") {
    if (!args.empty()) throw UsageError("--version takes nothing more");
    WriteOut("sieve " SIEVE_VERSION_TEXT "\n");
    return kExitOk;
  }
  const Command* command = FindCommand(name);
  if (command == nullptr) throw UsageError("unknown command '" + Printable(name) + "' (see sieve help)");
  if (AsksForHelp(args)) return Help({std::string(command->name)});
  return command->run(args);
}

// Takes the options every command has (--utc, -q, -v) out of the words before "--".
void TakeCommonOptions(Arguments& words) {
  auto end = std::find(words.begin(), words.end(), "--");
  const auto take = [&](std::initializer_list<std::string_view> names) {
    const auto kept = std::remove_if(words.begin(), end, [&](const std::string& w) {
      return std::find(names.begin(), names.end(), w) != names.end();
    });
    const bool found = kept != end;
    words.erase(kept, end);
    end = std::find(words.begin(), words.end(), "--");
    return found;
  };
  if (take({"--utc"})) sieve::SetUtcTimes(true);
  const bool quiet = take({"-q", "--quiet"});
  const bool verbose = take({"-v", "--verbose"});
  if (quiet && verbose) throw UsageError("give either -q or -v, not both");
  if (quiet) SetVerbosity(Verbosity::Quiet);
  if (verbose) SetVerbosity(Verbosity::Verbose);
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
  using sieve::kExitFailure;
  RemovePrivateDataOnSignals();
  Arguments words(argv + (argc > 0 ? 1 : 0), argv + argc);
  int status = kExitFailure;
  try {
    TakeCommonOptions(words);
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
