// The JSON of `sieve scan`: one style for every member (snake_case names,
// true/false flags, ISO 8601 dates with their zone's offset at that moment),
// a summary keyed by category name, and paths of files that are usable after
// sieve has ended: copies made by --files-to, or a plain backup's stored file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sieve_cli.h"

namespace sieve::test {
namespace {

// Calls `visit` with every member name and value, at any depth.
void ForEachMember(const JsonValue& value, const std::function<void(const std::string&, const JsonValue&)>& visit) {
  for (std::size_t i = 0; i < value.Items.size(); ++i) {
    if (value.Type == JsonValue::Kind::Object) visit(value.Keys[i], value.Items[i]);
    ForEachMember(value.Items[i], visit);
  }
}

bool IsDateMember(const std::string& name) {
  const auto endsWith = [&name](std::string_view end) {
    return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
  };
  return name == "date" || endsWith("_date") || endsWith("_time");
}

// Seconds since 1970 of "YYYY-MM-DDThh:mm:ss" followed by "Z" or "+hh:mm"/"-hh:mm".
std::int64_t Moment(const std::string& iso) {
  std::tm parts{};
  int zoneHours = 0, zoneMinutes = 0;
  char sign = 'Z';
  const int read = std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &parts.tm_year, &parts.tm_mon,
                               &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &sign, &zoneHours,
                               &zoneMinutes);
  EXPECT_TRUE(read == 7 || read == 9) << iso;
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  const std::int64_t offset = (sign == '-' ? -1 : 1) * (zoneHours * 3600 + zoneMinutes * 60);
  return static_cast<std::int64_t>(::timegm(&parts)) - (sign == 'Z' ? 0 : offset);
}

std::vector<JsonValue> Scan(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
  const CommandResult run = Succeeds(Join(Join({"scan"}, args), {"--json"}), {}, environment);
  return ParseJsonLines(run.Out);
}

TEST(SieveJson, OneStyleForEveryMemberAndDatesWithTheirOffset) {
  const GeneratedBackup& backup = Shared().plain;
  const std::vector<JsonValue> local = Scan({backup.Folder});
  const std::vector<JsonValue> utc = Scan({backup.Folder, "--utc"});
  // A zone with summer time: each date has the offset of its own moment.
  const std::vector<JsonValue> berlin = Scan({backup.Folder}, {"TZ=Europe/Berlin"});
  ASSERT_GT(local.size(), 100u);
  ASSERT_EQ(utc.size(), local.size());
  ASSERT_EQ(berlin.size(), local.size());

  const std::regex snake("[a-z][a-z0-9_]*");
  const std::regex category("[a-z][a-z-]*");
  const struct {
    const std::vector<JsonValue>* lines;
    std::regex zone;
  } runs[] = {{&local, std::regex(".*\\+08:00")}, {&utc, std::regex(".*Z")}, {&berlin, std::regex(".*\\+0[12]:00")}};
  const std::regex day("\\d{4}-\\d{2}-\\d{2}");
  std::vector<std::vector<std::int64_t>> moments(3);
  std::vector<std::vector<std::string>> days(3);
  std::set<std::string> berlinOffsets;
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t i = 0; i + 1 < runs[r].lines->size(); ++i) {
      const JsonValue* allDay = (*runs[r].lines)[i].Find("all_day");
      ForEachMember((*runs[r].lines)[i], [&](const std::string& name, const JsonValue& value) {
        EXPECT_TRUE(std::regex_match(name, snake)) << name;
        if (name == "deleted" || name.rfind("is_", 0) == 0 || name.rfind("has_", 0) == 0 || name == "completed") {
          EXPECT_EQ(value.Type, JsonValue::Kind::Bool) << name;
        }
        if (name.find("duration") != std::string::npos || name.find("row_id") != std::string::npos) {
          EXPECT_TRUE(value.Type == JsonValue::Kind::Number || value.IsNull()) << name;
        }
        if (!IsDateMember(name) || value.IsNull()) return;
        // An all-day event's days are the same days in every zone: a date without a time.
        if (allDay != nullptr && allDay->Bool && (name == "start_date" || name == "end_date")) {
          EXPECT_TRUE(std::regex_match(value.String, day)) << name << ": " << value.String;
          days[r].push_back(value.String);
          return;
        }
        EXPECT_TRUE(std::regex_match(value.String, runs[r].zone)) << name << ": " << value.String;
        moments[r].push_back(Moment(value.String));
        if (r == 2) berlinOffsets.insert(value.String.substr(19));
      });
    }
  }
  // The same moments whichever zone wrote them.
  EXPECT_GT(moments[0].size(), 100u);
  EXPECT_EQ(moments[1], moments[0]);
  EXPECT_EQ(moments[2], moments[0]);
  EXPECT_FALSE(days[0].empty());
  EXPECT_EQ(days[1], days[0]);
  EXPECT_EQ(days[2], days[0]);
  EXPECT_EQ(berlinOffsets, (std::set<std::string>{"+01:00", "+02:00"}));

  // The summary is keyed by category name and adds up the lines before it.
  const JsonValue& summary = local.back();
  ASSERT_NE(summary.Find("summary"), nullptr);
  std::map<std::string, std::int64_t> counted;
  for (std::size_t i = 0; i + 1 < local.size(); ++i) ++counted[local[i].Text("category")];
  const JsonValue& counts = summary["counts"];
  ASSERT_EQ(counts.Keys.size(), 17u);
  for (std::size_t k = 0; k < counts.Keys.size(); ++k) {
    EXPECT_TRUE(std::regex_match(counts.Keys[k], category)) << counts.Keys[k];
    EXPECT_EQ(static_cast<std::int64_t>(counts.Items[k].Number), counted[counts.Keys[k]]) << counts.Keys[k];
  }
  EXPECT_EQ(summary["deleted"].Keys, counts.Keys);
}

// info and files write their dates as scan does: the backup's date and every entry's time.
TEST(SieveJson, InfoAndFilesDatesAreIsoToo) {
  TempDir dir;
  const GeneratedBackup backup = MakeBackup(dir, "dated", {"--profile", "small", "--backup-date", "2016-06-14T10:12:45Z"});
  const std::vector<TruthFile> truth = ReadTruthFiles(backup.TruthPath);
  for (const bool utc : {false, true}) {
    SCOPED_TRACE(utc);
    const std::vector<std::string> zone = utc ? std::vector<std::string>{"--utc"} : std::vector<std::string>{};
    const CommandResult shown = Succeeds(Join({"info", backup.Folder, "--json"}, zone));
    EXPECT_EQ(ParseJson(shown.Out).Text("last_backup_date"), utc ? "2016-06-14T10:12:45Z" : "2016-06-14T18:12:45+08:00");
    const CommandResult listed = Succeeds(Join({"files", backup.Folder, "--json"}, zone));
    const JsonValue entries = ParseJson(listed.Out);
    ASSERT_EQ(entries.Items.size(), truth.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
      EXPECT_EQ(Moment(entries.Items[i].Text("modified_date")), truth[i].ModifiedTime) << truth[i].Path;
    }
  }
}

// Members naming a file to open: all "..._path" but the device's relative path and a
// plain backup's stored file.
bool IsFileMember(const std::string& name) {
  return name != "relative_path" && name != "stored_path" && name.size() > 5 &&
         name.compare(name.size() - 5, 5, "_path") == 0;
}

TEST(SieveJson, FilePathsAreCopiesThatOutliveTheScan) {
  TempDir dir;
  const GeneratedBackup& plain = Shared().plain;
  const GeneratedBackup& encrypted = Shared().encrypted;
  std::map<std::string, std::string> contentByName;  // the original bytes' hash by file name, when unique
  for (const TruthFile& f : ReadTruthFiles(encrypted.TruthPath)) {
    const std::string name = std::filesystem::path(f.Path).filename().string();
    contentByName[name] = contentByName.count(name) == 0 ? f.Sha256 : "";
  }

  for (const GeneratedBackup* backup : {&plain, &encrypted}) {
    SCOPED_TRACE(backup->Folder);
    const bool isEncrypted = backup == &encrypted;
    std::vector<std::string> args = Join({backup->Folder}, Shared().secret);

    // Without --files-to: no path into the private folder or at ciphertext; a plain
    // backup's stored file is named as such.
    std::size_t stored = 0;
    for (const JsonValue& line : Scan(args)) {
      ForEachMember(line, [&](const std::string& name, const JsonValue& value) {
        EXPECT_FALSE(IsFileMember(name)) << name << ": " << value.String;
        if (name != "stored_path") return;
        ++stored;
        EXPECT_FALSE(isEncrypted);
        EXPECT_EQ(value.String.rfind(std::filesystem::absolute(backup->Folder).string() + "/", 0), 0u) << value.String;
      });
    }
    EXPECT_EQ(stored > 0, !isEncrypted);

    // With it: every file member is a copy in the folder, decrypted, with a unique safe name.
    const std::string copies = dir.Join(isEncrypted ? "copies-encrypted" : "copies-plain");
    args.insert(args.end(), {"--files-to", copies});
    std::set<std::string> paths;
    std::size_t compared = 0;
    for (const JsonValue& line : Scan(args)) {
      ForEachMember(line, [&](const std::string& name, const JsonValue& value) {
        if (name == "file_name" || !IsFileMember(name)) return;
        const std::filesystem::path copy(value.String);
        EXPECT_EQ(copy.parent_path().string(), copies) << value.String;
        EXPECT_NE(copy.filename().string()[0], '.') << value.String;
        EXPECT_TRUE(std::filesystem::is_regular_file(copy)) << value.String;
        paths.insert(value.String);
      });
      const std::string fileName = line.Text("file_name");
      const std::string copy = line.Text("file_path");
      // A deleted camera-roll picture is known from its thumbnail only.
      const bool whole = line.Find("deleted") == nullptr || !line["deleted"].Bool;
      if (whole && !copy.empty() && contentByName.count(fileName) != 0 && !contentByName[fileName].empty()) {
        EXPECT_EQ(Sha256Hex(ReadFile(copy)), contentByName[fileName]) << fileName;
        ++compared;
      }
    }
    EXPECT_GT(paths.size(), 20u);
    EXPECT_GT(compared, 5u);
    EXPECT_EQ(ListFilesBelow(copies).size(), paths.size());  // one copy per file, none left over
    struct stat st {};
    ASSERT_EQ(::stat(copies.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
  }
}

}  // namespace
}  // namespace sieve::test
