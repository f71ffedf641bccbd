// The `sieve` command line on generated backups: plain and encrypted backups of
// the same seed, in the old (Manifest.mbdb) and the newer (Manifest.db) layout,
// must list, scan and unpack to the same content, and every byte that comes out
// must match the generator's truth.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sieve::test {
namespace {
namespace fs = std::filesystem;

constexpr char kPassword[] = "Quarry-s3cret-7781";

class SieveRoundTrip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    passwordFile_ = WritePasswordFile(*dir_, kPassword);
    plain_ = MakeBackup(*dir_, "plain", {"--profile", "sample", "--seed", "5"});
    encrypted_ = MakeBackup(*dir_, "encrypted",
                            {"--profile", "sample", "--seed", "5", "--encrypted",
                             "--password-file", passwordFile_});
    // The newer layout with the rows real devices write besides the ordinary ones.
    newerPlain_ = MakeBackup(*dir_, "newer-plain", {"--profile", "sample", "--seed", "5", "--manifest-db",
                                                    "--odd-rows", "--product-version", "9.3.2"});
    newerEncrypted_ = MakeBackup(*dir_, "newer-encrypted",
                                 {"--profile", "sample", "--seed", "5", "--manifest-db", "--odd-rows",
                                  "--product-version", "9.3.2", "--encrypted", "--password-file", passwordFile_,
                                  "--dp-iterations", "1000"});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static TempDir* dir_;
  static std::string passwordFile_;
  static GeneratedBackup plain_;
  static GeneratedBackup encrypted_;
  static GeneratedBackup newerPlain_;
  static GeneratedBackup newerEncrypted_;
};

TempDir* SieveRoundTrip::dir_ = nullptr;
std::string SieveRoundTrip::passwordFile_;
GeneratedBackup SieveRoundTrip::plain_;
GeneratedBackup SieveRoundTrip::encrypted_;
GeneratedBackup SieveRoundTrip::newerPlain_;
GeneratedBackup SieveRoundTrip::newerEncrypted_;

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
  for (const std::string flag : {"\"has_key\":true"}) {
    for (std::size_t at; (at = line.find(flag)) != std::string::npos;) {
      line.replace(at, flag.size(), flag.substr(0, flag.find(':') + 1) + "false");
    }
  }
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

TEST_F(SieveRoundTrip, PlainAndEncryptedGiveTheSameIndexAndRecords) {
  const CommandResult plainFiles = RunSieve({"files", plain_.Folder, "--json"});
  const CommandResult encryptedFiles = RunSieve({"files", encrypted_.Folder, "--json"});
  ASSERT_EQ(plainFiles.ExitCode, 0) << plainFiles.Err;
  ASSERT_EQ(encryptedFiles.ExitCode, 0) << encryptedFiles.Err;
  EXPECT_EQ(IndexRows(plainFiles), IndexRows(encryptedFiles));
  EXPECT_EQ(IndexRows(plainFiles).size(), ReadTruthFiles(plain_.TruthPath).size());

  const CommandResult plainScan = RunSieve({"scan", plain_.Folder, "--json"});
  const CommandResult encryptedScan =
      RunSieve({"scan", encrypted_.Folder, "--json", "--password-file", passwordFile_});
  ASSERT_EQ(plainScan.ExitCode, 0) << plainScan.Err;
  ASSERT_EQ(encryptedScan.ExitCode, 0) << encryptedScan.Err;
  const std::vector<std::string> plainLines = RecordLines(plainScan.Out);
  const std::vector<std::string> encryptedLines = RecordLines(encryptedScan.Out);
  ASSERT_EQ(plainLines.size(), encryptedLines.size());
  for (std::size_t i = 0; i < plainLines.size(); ++i) {
    EXPECT_EQ(Normalized(plainLines[i], plain_.Folder), Normalized(encryptedLines[i], encrypted_.Folder));
  }
  // The encrypted scan carries the keys (as flags only), the plain one none; only the
  // plain one names stored files, since an encrypted one's would be ciphertext.
  EXPECT_NE(encryptedScan.Out.find("\"has_key\":true"), std::string::npos);
  EXPECT_EQ(plainScan.Out.find("\"has_key\":true"), std::string::npos);
  EXPECT_NE(plainScan.Out.find("\"stored_path\":"), std::string::npos);
  EXPECT_EQ(encryptedScan.Out.find("\"stored_path\":"), std::string::npos);

  // What was found is what the generator put there, and the summary adds it up.
  const JsonValue truth = ParseJson(ReadFile(plain_.TruthPath));
  const std::vector<JsonValue> records = ParseJsonLines(plainScan.Out);
  ASSERT_FALSE(records.empty());
  const JsonValue& summary = records.back();
  ASSERT_TRUE(summary.Find("summary") != nullptr) << plainScan.Out;
  std::map<std::string, std::int64_t> counted;
  for (std::size_t i = 0; i + 1 < records.size(); ++i) {
    EXPECT_EQ(records[i].Text("category").empty(), false);
    ++counted[records[i].Text("category")];
  }
  const JsonValue& counts = summary["counts"];
  for (std::size_t t = 0; t < counts.Keys.size(); ++t) {
    EXPECT_EQ(counts.Items[t].Number, static_cast<double>(counted[counts.Keys[t]])) << counts.Keys[t];
  }
  for (const std::string category :
       {"camera-roll", "app-documents", "app-pictures", "app-videos", "photo-stream", "music"}) {
    SCOPED_TRACE(category);
    EXPECT_EQ(counts[category].Number, static_cast<double>(truth["expected_counts"].Int(category)));
    EXPECT_EQ(summary["deleted"][category].Number, static_cast<double>(truth["deleted_counts"].Int(category)));
    EXPECT_EQ(ListedFiles(records, category), TruthListedFiles(truth, category));
  }
  EXPECT_EQ(summary.Int("result", -1), 0);
  EXPECT_GE(summary["elapsed_seconds"].Number, 0.0);

  // Without --json: one line per category, with the same numbers; the timing is a note.
  const CommandResult text = RunSieve({"scan", plain_.Folder});
  ASSERT_EQ(text.ExitCode, 0) << text.Err;
  EXPECT_NE(text.Out.find("camera-roll"), std::string::npos);
  EXPECT_EQ(text.Out.find('{'), std::string::npos);
  EXPECT_EQ(text.Out.find("scanned in"), std::string::npos);
  EXPECT_NE(text.Err.find("scanned in"), std::string::npos);  // no progress bar: not a terminal
}

TEST_F(SieveRoundTrip, BothLayoutsGiveTheSameIndexAndRecords) {
  const std::vector<std::string> passwordOption = {"--password-file", passwordFile_};
  const auto run = [&](const std::string& command, const GeneratedBackup& backup) {
    std::vector<std::string> args = {command, backup.Folder, "--json"};
    if (&backup == &newerEncrypted_ || &backup == &encrypted_) {
      args.insert(args.end(), passwordOption.begin(), passwordOption.end());
    }
    return RunSieve(args);
  };
  const CommandResult older = run("files", plain_);
  ASSERT_EQ(older.ExitCode, 0) << older.Err;
  const std::vector<std::string> olderRows = IndexRows(older);
  const std::set<std::string> olderSet(olderRows.begin(), olderRows.end());
  std::set<std::string> olderKeys;
  for (const std::string& row : olderRows) olderKeys.insert(row.substr(0, row.find('|', row.find('|') + 1)));
  const CommandResult olderScan = run("scan", plain_);
  ASSERT_EQ(olderScan.ExitCode, 0) << olderScan.Err;
  const std::vector<std::string> olderRecords = RecordLines(olderScan.Out);

  const std::map<std::string, std::string> odd = OddRows(newerPlain_);
  ASSERT_GE(odd.size(), 6u) << "the generator writes every odd row";
  for (const GeneratedBackup* newer : {&newerPlain_, &newerEncrypted_}) {
    SCOPED_TRACE(newer->Folder);
    const CommandResult files = run("files", *newer);
    ASSERT_EQ(files.ExitCode, 0) << files.Err;
    // The rows no reader can use are skipped and said so.
    EXPECT_NE(files.Err.find("2 rows of Manifest.db could not be read"), std::string::npos) << files.Err;
    // The same entries in the same order, besides the odd rows that only the newer one has.
    std::vector<std::string> common;
    std::set<std::string> extra;
    for (const std::string& row : IndexRows(files)) {
      const std::string key = row.substr(0, row.find('|', row.find('|') + 1));
      if (olderSet.count(row) != 0) {
        common.push_back(row);
      } else {
        EXPECT_TRUE(odd.count(key) != 0 && odd.at(key) != "skip") << "unexpected row " << row;
        extra.insert(key);
      }
    }
    EXPECT_EQ(common, olderRows);
    // Exactly the odd rows the old layout has no entry for (the -wal longer than its
    // recorded size, the row whose stored file is missing) are the extra ones.
    std::set<std::string> expectedExtra;
    for (const auto& [key, action] : odd) {
      if (action != "skip" && olderKeys.count(key) == 0) expectedExtra.insert(key);
    }
    EXPECT_EQ(extra, expectedExtra);
    EXPECT_GE(expectedExtra.size(), 2u);

    const CommandResult scan = run("scan", *newer);
    ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
    const std::vector<std::string> records = RecordLines(scan.Out);
    ASSERT_EQ(records.size(), olderRecords.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(Normalized(records[i], newer->Folder), Normalized(olderRecords[i], plain_.Folder)) << i;
    }
  }
}

TEST_F(SieveRoundTrip, ExtractAndUnpackGiveTheOriginalBytesAndTimes) {
  const std::vector<TruthFile> truth = ReadTruthFiles(encrypted_.TruthPath);
  std::vector<TruthFile> files;
  for (const TruthFile& f : truth) {
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
    const CommandResult run = RunSieve({"extract", encrypted_.Folder, picks[i].Domain, picks[i].Path,
                                        "-o", target, "--password-file", passwordFile_});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(Sha256Hex(ReadFile(target)), picks[i].Sha256);
  }
  // A path the index does not hold is a failure that leaves nothing behind.
  const CommandResult missing = RunSieve({"extract", plain_.Folder, "HomeDomain", "no/such/file",
                                          "-o", out.Join("missing")});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(missing.Err.rfind("sieve: ", 0), 0u) << missing.Err;
  EXPECT_FALSE(std::filesystem::exists(out.Join("missing")));

  for (const GeneratedBackup* backup : {&plain_, &encrypted_, &newerPlain_, &newerEncrypted_}) {
    SCOPED_TRACE(backup->Folder);
    const std::string root = out.Join(std::to_string(backup - &plain_) + fs::path(backup->Folder).filename().string());
    const CommandResult run = RunSieve({"unpack", backup->Folder, "-o", root, "--password-file", passwordFile_});
    // A row whose stored file is missing is reported, not fatal.
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::set<std::string> expected;
    std::size_t links = 0;
    std::size_t missing = 0;
    for (const TruthFile& f : ReadTruthFiles(backup->TruthPath)) {
      const std::string path = root + "/" + f.Domain + (f.Path.empty() ? "" : "/" + f.Path);
      struct stat st {};
      if (f.Kind == "symlink") {
        ++links;
        EXPECT_NE(::lstat(path.c_str(), &st), 0) << "a link was created: " << path;
        continue;
      }
      if (f.Kind == "file" && f.StoredName.empty()) {
        ++missing;
        EXPECT_NE(::lstat(path.c_str(), &st), 0) << path;
        EXPECT_NE(run.Err.find(f.Path), std::string::npos) << "the missing file is named: " << run.Err;
        continue;
      }
      ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(static_cast<std::uint32_t>(st.st_mtime), f.ModifiedTime) << path;
      if (f.Kind == "file") {
        expected.insert(f.Domain + "/" + f.Path);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
        // Whole content, also where the index records a smaller size (a growing -wal).
        EXPECT_EQ(Sha256Hex(ReadFile(path)), f.Sha256) << path;
      } else {
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << path;
      }
    }
    EXPECT_EQ(missing, backup == &newerPlain_ || backup == &newerEncrypted_ ? 1u : 0u);
    // Nothing else was written: no temporary names, no links.
    const std::vector<std::string> written = ListFilesBelow(root);
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), expected);
    EXPECT_NE(run.Err.find("written " + std::to_string(expected.size()) + ","), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(std::to_string(links) + " links"), std::string::npos) << run.Err;
  }

  // --domain keeps to one domain.
  const std::string oneDomain = out.Join("camera");
  const CommandResult camera = RunSieve({"unpack", plain_.Folder, "-o", oneDomain, "--domain", "CameraRollDomain"});
  ASSERT_EQ(camera.ExitCode, 0) << camera.Err;
  for (const std::string& f : ListFilesBelow(oneDomain)) EXPECT_EQ(f.rfind("CameraRollDomain/", 0), 0u) << f;
  EXPECT_FALSE(ListFilesBelow(oneDomain).empty());
}


// Contacts carry each value's kind and label as the address book keeps them (the
// moments of dates in every zone are checked in sieve_json_test.cpp).
TEST_F(SieveRoundTrip, ContactValuesKeepTheirKindAndLabel) {
  const CommandResult scan = RunSieve({"scan", plain_.Folder, "--json"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  bool labelledPhone = false;
  for (const JsonValue& record : ParseJsonLines(scan.Out)) {
    if (const JsonValue* values = record.Find("values")) {
      for (const JsonValue& v : values->Items) {
        labelledPhone = labelledPhone || (v.Int("property") == 3 && !v.Text("label").empty());
      }
    }
  }
  EXPECT_TRUE(labelledPhone);
}

}  // namespace
}  // namespace sieve::test
