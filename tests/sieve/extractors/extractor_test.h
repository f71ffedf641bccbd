// What the extractor tests share: the one measure every category's recovery is held to, and
// small SQLite and truth helpers for the databases they build or read beside the library.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sieve::test {

// Recall and precision of recovered records against the generator's deleted rows: recall over
// the rows whose bytes survive ("intact" in the truth), precision over everything recovered.
struct Recovery {
  std::size_t intact = 0, found = 0, reported = 0, correct = 0;

  // Counts `recovered` against the truth rows `deleted`: a row is found, and a record correct,
  // when `same(record, row)` pairs them.
  template <class Records, class Same>
  void Score(const Records& recovered, const JsonValue& deleted, Same same) {
    for (const JsonValue& want : deleted.Items) {
      if (!want["intact"].Bool) continue;
      ++intact;
      found += std::any_of(recovered.begin(), recovered.end(), [&](const auto& got) { return same(got, want); });
    }
    for (const auto& got : recovered) {
      ++reported;
      correct += std::any_of(deleted.Items.begin(), deleted.Items.end(),
                             [&](const JsonValue& want) { return same(got, want); });
    }
  }
  // Prints the figures and holds them to their floors; a measure without an intact row fails.
  void Expect(const std::string& label, double minRecall, double minPrecision) const {
    const double recall = intact == 0 ? 0.0 : static_cast<double>(found) / static_cast<double>(intact);
    const double precision = reported == 0 ? 1.0 : static_cast<double>(correct) / static_cast<double>(reported);
    std::printf("[ figures  ] %s: intact %zu, found %zu; reported %zu, correct %zu; recall %.3f, precision %.3f\n",
                label.c_str(), intact, found, reported, correct, recall, precision);
    EXPECT_GT(intact, 0u) << label;
    EXPECT_GE(recall, minRecall) << label;
    EXPECT_GE(precision, minPrecision) << label;
  }
};

// Seconds since 2001 as the records show them; null is no date.
inline std::string MacDateText(const JsonValue& seconds) {
  return seconds.IsNull() ? "" : TestZoneDateText(static_cast<std::int64_t>(std::floor(seconds.Number)) + 978307200);
}

// The texts of a JSON list.
inline std::vector<std::string> Strings(const JsonValue& list) {
  std::vector<std::string> out;
  for (const JsonValue& item : list.Items) out.push_back(item.String);
  return out;
}

// Runs SQL statements on a database, made when it does not exist yet.
inline void ExecSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "") << "\n" << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

// One query on a database opened read-only; every column as text (NULL as "").
inline std::vector<std::vector<std::string>> Query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::vector<std::string>> rows;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << path << ": " << sqlite3_errmsg(db) << "\n" << sql;
  }
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      rows.back().emplace_back(text != nullptr ? text : "");
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

}  // namespace sieve::test
