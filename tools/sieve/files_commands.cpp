// `files` and `extract`: the file index of a backup and one file out of it.
#include <string>
#include <vector>

#include "sieve/itunes_backup_reader.h"
#include "tools/sieve/backup_access.h"
#include "tools/sieve/commands.h"
#include "tools/sieve/file_output.h"
#include "tools/sieve/json_writer.h"
#include "tools/sieve/options.h"
#include "tools/sieve/text_output.h"

namespace sieve::cli {
namespace {

bool IsLink(const BackupFileEntry& e) { return (e.Mode & 0xF000) == 0xA000; }

void WriteEntry(JsonWriter& json, const BackupFileEntry& e) {
  json.BeginObject()
      .Field("domain", e.Domain)
      .Field("path", e.Path)
      .Field("stored_name", e.StoredName)
      .Field("stored_path", e.StoredPath)
      .Field("link_target", e.LinkTarget)
      .Field("size", e.Size)
      .Field("mode", static_cast<std::uint32_t>(e.Mode))
      .Field("mode_octal", OctalMode(e.Mode))
      .Field("modified_time", e.ModifiedTime)
      .Field("protection_class", static_cast<std::int32_t>(e.ProtectionClass))
      .Field("category", e.Category)
      .Field("is_directory", e.IsDirectory)
      .Field("has_key", e.HasKey)
      .EndObject();
}

std::string StoredNameCell(const BackupFileEntry& e) {
  if (e.IsDirectory || IsLink(e)) return "";
  return e.StoredPath.empty() ? e.StoredName + " (missing)" : e.StoredName;
}

}  // namespace

int RunFiles(const Arguments& args) {
  const Options options(args, {"--json", kPasswordStdinOption}, {kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(1, kFilesUsage);
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  // Only the newer index is encrypted; the old one lists without a password.
  if (reader.IndexNeedsPassword(index)) Unlock(reader, index, password);

  const std::vector<BackupFileEntry> entries = ReadIndexEntries(reader, index);

  if (options.Has("--json")) {
    JsonWriter json;
    json.BeginArray();
    for (const BackupFileEntry& e : entries) WriteEntry(json, e);
    json.EndArray();
    WriteOut(json.Text() + "\n");
  } else {
    TextTable table({"Domain", "Path", "Stored name", "Size", "Mode", "Category", "Class"});
    table.AlignRight(3);
    table.AlignRight(6);
    for (const BackupFileEntry& e : entries) {
      table.AddRow({e.Domain, IsLink(e) ? e.Path + " -> " + e.LinkTarget : e.Path,
                    StoredNameCell(e), std::to_string(e.Size), OctalMode(e.Mode), e.Category,
                    std::to_string(e.ProtectionClass)});
    }
    std::fflush(stdout);
    table.Print(stdout);
  }
  // A damaged index still lists what came before the damage; the failure comes last.
  if (reader.LastError(index) != ReaderError::None) {
    throw ReaderFailure(reader, index, "the file index is damaged");
  }
  return kExitOk;
}

int RunExtract(const Arguments& args) {
  const Options options(args, {kPasswordStdinOption}, {"-o", "--output", kPasswordFileOption, kKeyFileOption});
  options.RequirePositional(3, kExtractUsage);
  const auto target = options.Value("-o") ? options.Value("-o") : options.Value("--output");
  if (!target || target->empty()) {
    throw UsageError("extract needs -o FILE; usage: " + std::string(kExtractUsage));
  }
  const PasswordSource password = PasswordSourceFrom(options);
  CItunesBackupReader reader;
  const int index = LoadBackup(reader, options.Positional()[0]);
  Unlock(reader, index, password);

  const std::string& domain = options.Positional()[1];
  const std::string& path = options.Positional()[2];
  const ExtractOutcome outcome = ExtractInto(reader, index, domain, path, *target);
  PrintWarnings(reader, index);
  if (!outcome.note.empty()) Warn(Printable(outcome.note));
  if (outcome.result < 0) throw CommandError(kExitWrongPassword, "wrong password");
  if (outcome.result == 0) {
    if (!outcome.error.empty()) throw CommandError(kExitFailure, outcome.error);
    throw ReaderFailure(reader, index, "cannot extract " + Printable(domain + "/" + path));
  }
  return kExitOk;
}

}  // namespace sieve::cli
