// The `sieve` command line on generated backups: a plain and an encrypted
// backup of the same seed must list, scan and unpack to the same content, and
// every byte that comes out must match the generator's truth.
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
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static TempDir* dir_;
  static std::string passwordFile_;
  static GeneratedBackup plain_;
  static GeneratedBackup encrypted_;
};

TempDir* SieveRoundTrip::dir_ = nullptr;
std::string SieveRoundTrip::passwordFile_;
GeneratedBackup SieveRoundTrip::plain_;
GeneratedBackup SieveRoundTrip::encrypted_;

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
  for (const std::string flag : {"\"FileKey\":true", "\"Key\":true"}) {
    for (std::size_t at; (at = line.find(flag)) != std::string::npos;) {
      line.replace(at, flag.size(), flag.substr(0, flag.find(':') + 1) + "false");
    }
  }
  // Pictures and recordings written or decrypted into the scan's own private folder have
  // names of that folder; only whether a path is there can be compared.
  // A recording is read in place from a plain backup and from its decrypted copy otherwise.
  static const std::regex kPrivateFolder("\"/[^\"]*/sieve-[A-Za-z0-9]{6}/");
  static const std::regex kRecordingPath("\"OrgPath\":\"[^\"]+\"");
  line = std::regex_replace(line, kPrivateFolder, "\"<private>/");
  return std::regex_replace(line, kRecordingPath, "\"OrgPath\":\"set\"");
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
    const JsonValue* files = r.Find("Files");
    for (const JsonValue& f : files != nullptr ? files->Items : std::vector<JsonValue>{r}) {
      names.push_back(f.Text("FileName") + ":" + std::to_string(f.Int("Deleted")));
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
  // The encrypted scan carries the keys (as flags only), the plain one none.
  EXPECT_NE(encryptedScan.Out.find("\"FileKey\":true"), std::string::npos);
  EXPECT_EQ(plainScan.Out.find("\"FileKey\":true"), std::string::npos);

  // What was found is what the generator put there, and the summary adds it up.
  const JsonValue truth = ParseJson(ReadFile(plain_.TruthPath));
  const std::vector<JsonValue> records = ParseJsonLines(plainScan.Out);
  ASSERT_FALSE(records.empty());
  const JsonValue& summary = records.back();
  ASSERT_TRUE(summary.Find("summary") != nullptr) << plainScan.Out;
  std::map<std::string, std::int64_t> counted;
  for (std::size_t i = 0; i + 1 < records.size(); ++i) {
    EXPECT_EQ(records[i].Text("category").empty(), false);
    ++counted[std::to_string(records[i].Int("type", -1))];
  }
  const JsonValue& counts = summary["counts"];
  for (std::size_t t = 0; t < counts.Keys.size(); ++t) {
    EXPECT_EQ(counts.Items[t].Number, static_cast<double>(counted[counts.Keys[t]])) << "type " << counts.Keys[t];
  }
  const std::map<std::string, std::string> typeOf = {
      {"camera-roll", "11"}, {"app-documents", "12"}, {"app-pictures", "13"},
      {"app-videos", "14"}, {"photo-stream", "15"}, {"music", "16"}};
  for (const auto& [category, type] : typeOf) {
    SCOPED_TRACE(category);
    EXPECT_EQ(counts[type].Number, static_cast<double>(truth["expected_counts"].Int(category)));
    EXPECT_EQ(summary["deleted"][type].Number, static_cast<double>(truth["deleted_counts"].Int(category)));
    EXPECT_EQ(ListedFiles(records, category), TruthListedFiles(truth, category));
  }
  EXPECT_EQ(summary.Int("result", -1), 0);
  EXPECT_GE(summary["elapsed_seconds"].Number, 0.0);

  // Without --json: one line per category, with the same numbers.
  const CommandResult text = RunSieve({"scan", plain_.Folder});
  ASSERT_EQ(text.ExitCode, 0) << text.Err;
  EXPECT_NE(text.Out.find("camera-roll"), std::string::npos);
  EXPECT_NE(text.Out.find("scanned in"), std::string::npos);
  EXPECT_EQ(text.Out.find('{'), std::string::npos);
  EXPECT_EQ(text.Err, "");  // no progress bar when standard error is not a terminal
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

  for (const GeneratedBackup* backup : {&plain_, &encrypted_}) {
    SCOPED_TRACE(backup->Folder);
    const std::string root = out.Join(backup == &plain_ ? "plain" : "encrypted");
    const CommandResult run = RunSieve({"unpack", backup->Folder, "-o", root, "--password-file", passwordFile_});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    std::set<std::string> expected;
    std::size_t links = 0;
    for (const TruthFile& f : truth) {
      const std::string path = root + "/" + f.Domain + (f.Path.empty() ? "" : "/" + f.Path);
      struct stat st {};
      if (f.Kind == "symlink") {
        ++links;
        EXPECT_NE(::lstat(path.c_str(), &st), 0) << "a link was created: " << path;
        continue;
      }
      ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
      EXPECT_EQ(static_cast<std::uint32_t>(st.st_mtime), f.ModifiedTime) << path;
      if (f.Kind == "file") {
        expected.insert(f.Domain + "/" + f.Path);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
        EXPECT_EQ(Sha256Hex(ReadFile(path)), f.Sha256) << path;
      } else {
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << path;
      }
    }
    // Nothing else was written: no temporary names, no links.
    const std::vector<std::string> written = ListFilesBelow(root);
    EXPECT_EQ(std::set<std::string>(written.begin(), written.end()), expected);
    EXPECT_NE(run.Out.find("written " + std::to_string(expected.size()) + ","), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find(std::to_string(links) + " links"), std::string::npos) << run.Out;
  }

  // --domain keeps to one domain.
  const std::string oneDomain = out.Join("camera");
  const CommandResult camera = RunSieve({"unpack", plain_.Folder, "-o", oneDomain, "--domain", "CameraRollDomain"});
  ASSERT_EQ(camera.ExitCode, 0) << camera.Err;
  for (const std::string& f : ListFilesBelow(oneDomain)) EXPECT_EQ(f.rfind("CameraRollDomain/", 0), 0u) << f;
  EXPECT_FALSE(ListFilesBelow(oneDomain).empty());
}


// Every "...Date" text of a record and its members, in document order.
void CollectDates(const JsonValue& value, const std::string& key, std::vector<std::string>& out) {
  if (value.Type == JsonValue::Kind::String && key.find("Date") != std::string::npos) out.push_back(value.String);
  for (std::size_t i = 0; i < value.Items.size(); ++i) {
    CollectDates(value.Items[i], i < value.Keys.size() ? value.Keys[i] : key, out);
  }
}

// The computer's zone (TZ), or UTC with --utc given anywhere: each zone's text is the C
// library's own conversion of the UTC one. Contacts carry each value's kind and label.
TEST_F(SieveRoundTrip, DatesAreInTheComputersZoneOrInUtc) {
  const CommandResult utc = RunSieve({"--utc", "scan", plain_.Folder, "--json"}, {}, {"TZ=Asia/Tokyo"});
  const CommandResult tokyo = RunSieve({"scan", plain_.Folder, "--json"}, {}, {"TZ=Asia/Tokyo"});
  ASSERT_EQ(utc.ExitCode, 0) << utc.Err;
  ASSERT_EQ(tokyo.ExitCode, 0) << tokyo.Err;
  std::vector<std::string> utcDates, tokyoDates;
  bool labelled = false;
  for (const JsonValue& record : ParseJsonLines(utc.Out)) {
    CollectDates(record, "", utcDates);
    if (const JsonValue* values = record.Find("Values")) {
      for (const JsonValue& v : values->Items) labelled = labelled || (v.Int("Property") == 3 && !v.Text("Label").empty());
    }
  }
  for (const JsonValue& record : ParseJsonLines(tokyo.Out)) CollectDates(record, "", tokyoDates);
  EXPECT_TRUE(labelled);
  ASSERT_EQ(utcDates.size(), tokyoDates.size());
  ScopedTimeZone zone("Asia/Tokyo");
  int dated = 0;
  for (std::size_t i = 0; i < utcDates.size(); ++i) {
    std::tm fields{};
    if (strptime(utcDates[i].c_str(), "%Y-%m-%d %H:%M:%S", &fields) == nullptr) {
      EXPECT_EQ(tokyoDates[i], utcDates[i]);  // no date (or no time) in either
      continue;
    }
    const std::time_t moment = timegm(&fields);
    std::tm there{};
    localtime_r(&moment, &there);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &there);
    EXPECT_EQ(tokyoDates[i], text) << "UTC " << utcDates[i];
    ++dated;
  }
  EXPECT_GT(dated, 50);
}

}  // namespace
}  // namespace sieve::test
