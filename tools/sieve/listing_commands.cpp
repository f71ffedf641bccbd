// `list` and `info`: the backups under a folder and the properties of one.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/json_writer.h"
#include "tools/sieve/options.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

// The reader gives the backup's date on the computer's clock even with --utc.
JsonWriter& LastBackupDate(JsonWriter& json, const std::string& text) {
  json.Key("last_backup_date");
  return text.empty() ? json.Null() : json.String(IsoDateFromLocal(text));
}

void WriteBackupFields(JsonWriter& json, const CItunesBackupReader& reader, int index) {
  json.Field("name", reader.BackupName(index))
      .Field("device_name", reader.DeviceName(index))
      .Field("product_type", reader.ProductType(index))
      .Field("product_version", reader.ProductVersion(index));
  LastBackupDate(json, reader.BackupTime(index))
      .Field("serial_number", reader.SerialNumber(index))
      .Field("encrypted", reader.GetIsEncrypt(index) != 0)
      .Field("folder", reader.BackupFolder(index));
  const std::string layout = LayoutName(reader.Layout(index));
  json.Key("layout");
  if (layout.empty()) {
    json.Null();
  } else {
    json.String(layout);
  }
}

const char* YesNo(bool value) { return value ? "yes" : "no"; }

}  // namespace

std::string DefaultBackupRoot() {
  const char* data = std::getenv("XDG_DATA_HOME");
  // The base directory rules ignore a relative value.
  if (data != nullptr && data[0] == '/') return std::string(data) + "/MobileSync/Backup";
  const char* home = std::getenv("HOME");
  std::string homeFolder = home != nullptr && home[0] != '\0' ? home : "";
  if (homeFolder.empty()) {
    const passwd* user = ::getpwuid(::getuid());
    if (user != nullptr && user->pw_dir != nullptr) homeFolder = user->pw_dir;
  }
  return homeFolder + "/.local/share/MobileSync/Backup";
}

int RunList(const Arguments& args) {
  const Options options(args, {"--json"}, {"--root"});
  options.RequirePositional(0, kListUsage);
  const std::string root = options.Value("--root").value_or(DefaultBackupRoot());
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw CommandError(kExitNotABackup, "no backup folder at " + Printable(root));
  }
  CItunesBackupReader reader;
  reader.GetItunesBackList(root.c_str());
  const int count = reader.GetBackuplistCount();
  // A damaged backup never hides the others; the ones that cannot be listed are named.
  for (const std::string& problem : reader.ListingProblems()) Warn("not listed: " + Printable(problem));

  if (options.Has("--json")) {
    JsonWriter json;
    json.BeginArray();
    for (int i = 0; i < count; ++i) {
      json.BeginObject().Field("index", static_cast<std::int32_t>(i));
      WriteBackupFields(json, reader, i);
      json.EndObject();
    }
    json.EndArray();
    WriteOut(json.Text() + "\n");
    return kExitOk;
  }
  if (count == 0) {
    WriteOut("no backups in " + Printable(root) + "\n");
    return kExitOk;
  }
  TextTable table({"#", "Name", "Device", "Product", "iOS", "Date", "Serial", "Encrypted", "Folder"});
  table.AlignRight(0);
  for (int i = 0; i < count; ++i) {
    table.AddRow({std::to_string(i), reader.BackupName(i), reader.DeviceName(i),
                  reader.ProductType(i), reader.ProductVersion(i), reader.BackupTime(i),
                  reader.SerialNumber(i), YesNo(reader.GetIsEncrypt(i) != 0),
                  std::filesystem::path(reader.BackupFolder(i)).filename().string()});
  }
  std::fflush(stdout);
  table.Print(stdout);
  return kExitOk;
}

int RunInfo(const Arguments& args) {
  // The password options are taken so that scripts can give every command the same
  // ones; info reads no index and needs none.
  const Options options(args, {"--json", kPasswordStdinOption}, {kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(1, kInfoUsage);
  static_cast<void>(PasswordSourceFrom(options));  // the same usage rules as the other commands
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  const std::vector<std::string> warnings = reader.Warnings(index);

  if (options.Has("--json")) {
    JsonWriter json;
    json.BeginObject();
    WriteBackupFields(json, reader, index);
    json.Key("warnings").BeginArray();
    for (const std::string& warning : warnings) json.String(warning);
    json.EndArray().EndObject();
    WriteOut(json.Text() + "\n");
    return kExitOk;
  }
  TextTable table(2);
  table.AddRow({"Name:", reader.BackupName(index)});
  table.AddRow({"Device name:", reader.DeviceName(index)});
  table.AddRow({"Product type:", reader.ProductType(index)});
  table.AddRow({"iOS version:", reader.ProductVersion(index)});
  table.AddRow({"Last backup:", reader.BackupTime(index)});
  table.AddRow({"Serial number:", reader.SerialNumber(index)});
  table.AddRow({"Encrypted:", YesNo(reader.GetIsEncrypt(index) != 0)});
  table.AddRow({"Folder:", reader.BackupFolder(index)});
  const std::string layout = LayoutName(reader.Layout(index));
  table.AddRow({"Layout:", layout.empty() ? "none (neither Manifest.mbdb nor Manifest.db)" : layout});
  for (std::size_t i = 0; i < warnings.size(); ++i) table.AddRow({i == 0 ? "Warnings:" : "", warnings[i]});
  std::fflush(stdout);
  table.Print(stdout);
  return kExitOk;
}

}  // namespace sieve::cli
