// The `sieve` command line on generated backups: plain and encrypted backups of
// the same seed, in the old (Manifest.mbdb) and the newer (Manifest.db) layout,
// must list, scan and unpack to the same content, and every byte that comes out
// must match the generator's truth.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

CommandResult RunJson(const std::string& command, const GeneratedBackup& backup) {
  return Succeeds(Join({command, backup.Folder, "--json"}, Shared().secret));
}

// "domain|path" of the odd rows the generator added to a newer-layout backup, with
// what a reader should do with each ("skip", "list" or "missing").
std::map<std::string, std::string> OddRows(const GeneratedBackup& backup) {
  std::map<std::string, std::string> rows;
  const JsonValue truth = ParseJson(ReadFile(backup.TruthPath));
  if (const JsonValue* odd = truth.Find("odd_rows")) {
    for (const JsonValue& r : odd->Items) rows[r.Text("domain") + "|" + r.Text("path")] = r.Text("action");
  }
  return rows;
}

// The index as domain, path, size, mode and category, without anything that
// names the folder.
std::vector<std::string> IndexRows(const CommandResult& run) {
  std::vector<std::string> rows;
  for (const JsonValue& e : ParseJson(run.Out).Items) {
    rows.push_back(e.Text("domain") + "|" + e.Text("path") + "|" + std::to_string(e.Int("size")) +
                   "|" + e.Text("mode_octal") + "|" + e.Text("category") + "|" + e.Text("stored_name"));
  }
  return rows;
}

// A scan line with the backup's folder and the key flags taken out, so that
// plain and encrypted scans compare equal when they found the same records.
std::string Normalized(std::string line, const std::string& folder) {
  for (std::size_t at; (at = line.find(folder)) != std::string::npos;) line.erase(at, folder.size());
  for (std::size_t at; (at = line.find("\"has_key\":true")) != std::string::npos;) line.replace(at + 10, 4, "false");
  // A plain backup's records name the stored file; an encrypted one's never point at
  // ciphertext. Only the rest of the record is compared.
  static const std::regex kStoredPath(",?\"stored_path\":\"[^\"]*\"");
  return std::regex_replace(line, kStoredPath, "");
}

std::vector<std::string> RecordLines(const std::string& out) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(out.substr(start, end - start));
  }
  if (!lines.empty()) lines.pop_back();  // the summary
  return lines;
}

// "name:deleted" of every file the scan listed for a media category, in order.
std::vector<std::string> ListedFiles(const std::vector<JsonValue>& records, const std::string& category) {
  std::vector<std::string> names;
  for (const JsonValue& r : records) {
    if (r.Text("category") != category) continue;
    const JsonValue* files = r.Find("files");
    for (const JsonValue& f : files != nullptr ? files->Items : std::vector<JsonValue>{r}) {
      names.push_back(f.Text("file_name") + ":" + (f["deleted"].Bool ? "1" : "0"));
    }
  }
  return names;
}

std::vector<std::string> TruthListedFiles(const JsonValue& truth, const std::string& category) {
  std::vector<std::string> names;
  const JsonValue* groups = truth["expected"].Find(category);
  if (groups == nullptr) return names;
  for (const JsonValue& g : groups->Items) {
    for (const JsonValue& f : g["files"].Items) {
      names.push_back(f.Text("name") + ":" + (f["deleted"].Bool ? "1" : "0"));
    }
  }
  return names;
}

// "domain|path" of an index row.
std::string Key(const std::string& row) { return row.substr(0, row.find('|', row.find('|') + 1)); }

TEST(SieveRoundTrip, EveryLayoutPlainOrEncryptedGivesTheSameIndexAndRecords) {
  const SharedBackups& s = Shared();
  const CommandResult files = RunJson("files", s.plain);
  const CommandResult scan = RunJson("scan", s.plain);
  const std::vector<std::string> rows = IndexRows(files);
  EXPECT_EQ(rows.size(), ReadTruthFiles(s.plain.TruthPath).size());
  const std::set<std::string> rowSet(rows.begin(), rows.end());
  std::set<std::string> keys;
  for (const std::string& row : rows) keys.insert(Key(row));
  const std::vector<std::string> records = RecordLines(scan.Out);

  // Exactly the odd rows the old layout has no entry for (the -wal longer than its recorded
  // size, the row whose stored file is missing) are extra in the newer one.
  const std::map<std::string, std::string> odd = OddRows(s.newerPlain);
  ASSERT_GE(odd.size(), 6u) << "the generator writes every odd row";
  std::set<std::string> oddExtra;
  for (const auto& [key, action] : odd) {
    if (action != "skip" && keys.count(key) == 0) oddExtra.insert(key);
  }
  EXPECT_GE(oddExtra.size(), 2u);
  for (const GeneratedBackup* other : {&s.encrypted, &s.newerPlain, &s.newerEncrypted}) {
    SCOPED_TRACE(other->Folder);
    const bool newer = other != &s.encrypted;
    const bool encrypted = other != &s.newerPlain;
    const CommandResult otherFiles = RunJson("files", *other);
    // The same entries in the same order, besides those odd rows; the rows no reader can use
    // are skipped and said so.
    std::vector<std::string> common;
    std::set<std::string> extra;
    for (const std::string& row : IndexRows(otherFiles)) {
      if (rowSet.count(row) != 0) {
        common.push_back(row);
      } else {
        extra.insert(Key(row));
      }
    }
    EXPECT_EQ(common, rows);
    EXPECT_EQ(extra, newer ? oddExtra : std::set<std::string>{});
    EXPECT_EQ(otherFiles.Err.find("2 rows of Manifest.db could not be read") != std::string::npos, newer)
        << otherFiles.Err;

    const CommandResult otherScan = RunJson("scan", *other);
    const std::vector<std::string> otherRecords = RecordLines(otherScan.Out);
    ASSERT_EQ(otherRecords.size(), records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(Normalized(otherRecords[i], other->Folder), Normalized(records[i], s.plain.Folder)) << i;
    }
    // An encrypted scan carries the keys (as flags only) and never names a stored file,
    // which would be ciphertext; a plain one does the opposite.
    EXPECT_EQ(otherScan.Out.find("\"has_key\":true") != std::string::npos, encrypted);
    EXPECT_EQ(otherScan.Out.find("\"stored_path\":") == std::string::npos, encrypted);
  }
  EXPECT_EQ(scan.Out.find("\"has_key\":true"), std::string::npos);
  EXPECT_NE(scan.Out.find("\"stored_path\":"), std::string::npos);

  // What was found is what the generator put there (the summary adding up is checked in
  // sieve_json_test.cpp).
  const JsonValue truth = ParseJson(ReadFile(s.plain.TruthPath));
  const std::vector<JsonValue> parsed = ParseJsonLines(scan.Out);
  ASSERT_FALSE(parsed.empty());
  const JsonValue& summary = parsed.back();
  for (const std::string category :
       {"camera-roll", "app-documents", "app-pictures", "app-videos", "photo-stream", "music"}) {
    SCOPED_TRACE(category);
    EXPECT_EQ(summary["counts"][category].Number, static_cast<double>(truth["expected_counts"].Int(category)));
    EXPECT_EQ(summary["deleted"][category].Number, static_cast<double>(truth["deleted_counts"].Int(category)));
    EXPECT_EQ(ListedFiles(parsed, category), TruthListedFiles(truth, category));
  }
  EXPECT_EQ(summary.Int("result", -1), 0);
  EXPECT_GE(summary["elapsed_seconds"].Number, 0.0);
  // Contacts carry each value's kind and label as the address book keeps them.
  bool labelledPhone = false;
  for (const JsonValue& record : parsed) {
    if (const JsonValue* values = record.Find("values")) {
      for (const JsonValue& v : values->Items) {
        labelledPhone = labelledPhone || (v.Int("property") == 3 && !v.Text("label").empty());
      }
    }
  }
  EXPECT_TRUE(labelledPhone);

  // Without --json: one line per category, with the same numbers; the timing is a note.
  const CommandResult text = Succeeds({"scan", s.plain.Folder});
  EXPECT_NE(text.Out.find("camera-roll"), std::string::npos);
  EXPECT_EQ(text.Out.find('{'), std::string::npos);
  EXPECT_EQ(text.Out.find("scanned in"), std::string::npos);
  EXPECT_NE(text.Err.find("scanned in"), std::string::npos);  // no progress bar: not a terminal
}

TEST(SieveRoundTrip, ExtractAndUnpackGiveTheOriginalBytesAndTimes) {
  const SharedBackups& s = Shared();
  std::vector<TruthFile> files;
  for (const TruthFile& f : ReadTruthFiles(s.encrypted.TruthPath)) {
    if (f.Kind == "file") files.push_back(f);
  }
  ASSERT_GE(files.size(), 3u);

  TempDir out;
  // A picture, the empty file and the largest file, out of the encrypted backup.
  std::vector<TruthFile> picks = {files.front()};
  for (const TruthFile& f : files) {
    if (f.Size == 0) picks.push_back(f);
  }
  picks.push_back(*std::max_element(files.begin(), files.end(),
                                    [](const TruthFile& a, const TruthFile& b) { return a.Size < b.Size; }));
  for (std::size_t i = 0; i < picks.size(); ++i) {
    SCOPED_TRACE(picks[i].Path);
    const std::string target = out.Join("extracted-" + std::to_string(i));
    const CommandResult run =
        RunSieve(Join({"extract", s.encrypted.Folder, picks[i].Domain, picks[i].Path, "-o", target}, s.secret));
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(Sha256Hex(ReadFile(target)), picks[i].Sha256);
  }
  // A path the index does not hold is a failure that leaves nothing behind.
  const CommandResult missing =
      RunSieve({"extract", s.plain.Folder, "HomeDomain", "no/such/file", "-o", out.Join("missing")});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_TRUE(OneErrorLine(missing));
  EXPECT_FALSE(std::filesystem::exists(out.Join("missing")));

  for (const GeneratedBackup* backup : {&s.plain, &s.encrypted, &s.newerPlain, &s.newerEncrypted}) {
    SCOPED_TRACE(backup->Folder);
    const std::string root = out.Join(std::filesystem::path(backup->Folder).filename().string());
    const CommandResult run = RunSieve(Join({"unpack", backup->Folder, "-o", root}, s.secret));
    // A row whose stored file is missing is reported, not fatal.
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::set<std::string> expected;
    std::size_t links = 0;
    std::size_t missingFiles = 0;
    for (const TruthFile& f : ReadTruthFiles(backup->TruthPath)) {
      const std::string path = root + "/" + f.Domain + (f.Path.empty() ? "" : "/" + f.Path);
      struct stat st {};
      if (f.Kind == "symlink" || (f.Kind == "file" && f.StoredName.empty())) {
        links += f.Kind == "symlink";
        missingFiles += f.Kind == "file";
        EXPECT_NE(::lstat(path.c_str(), &st), 0) << "written: " << path;
        if (f.Kind == "file") {
          EXPECT_NE(run.Err.find(f.Path), std::string::npos) << "the missing file is named: " << run.Err;
        }
        continue;
      }
      ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(static_cast<std::uint32_t>(st.st_mtime), f.ModifiedTime) << path;
      EXPECT_EQ(f.Kind == "file" ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode), true) << path;
      if (f.Kind == "file") {
        expected.insert(f.Domain + "/" + f.Path);
        // Whole content, also where the index records a smaller size (a growing -wal).
        EXPECT_EQ(Sha256Hex(ReadFile(path)), f.Sha256) << path;
      }
    }
    EXPECT_EQ(missingFiles, backup == &s.newerPlain || backup == &s.newerEncrypted ? 1u : 0u);
    // Nothing else was written: no temporary names, no links.
    const std::vector<std::string> written = ListFilesBelow(root);
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), expected);
    EXPECT_NE(run.Err.find("written " + std::to_string(expected.size()) + ","), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(std::to_string(links) + " links"), std::string::npos) << run.Err;
  }

  // --domain keeps to one domain.
  const std::string oneDomain = out.Join("camera");
  const CommandResult camera = Succeeds({"unpack", s.plain.Folder, "-o", oneDomain, "--domain", "CameraRollDomain"});
  for (const std::string& f : ListFilesBelow(oneDomain)) EXPECT_EQ(f.rfind("CameraRollDomain/", 0), 0u) << f;
  EXPECT_FALSE(ListFilesBelow(oneDomain).empty());
}

}  // namespace
}  // namespace sieve::test
