#include "sieve/run_outcome.h"

#include <gtest/gtest.h>

#include <string_view>

#include "sieve/secret.h"

namespace sieve {
namespace {

TEST(RunOutcome, ScanResultsBecomeTheDocumentedStatusesAndOneLine) {
  struct Case {
    int result;
    ReaderError error;
    const char* text;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {0, ReaderError::None, "", kExitOk, ""},
      {-1, ReaderError::WrongPassword, "", kExitWrongPassword, "wrong password"},
      {1, ReaderError::Stopped, "stopped", kExitFailure, "the scan was stopped before it ended"},
      // Damaged databases beside readable ones are warnings; none readable at all fails.
      {0, ReaderError::ReadFailed, "none of the backup's databases could be read", kExitFailure,
       "none of the backup's databases could be read"},
      {0, ReaderError::MissingIndex, "", kExitFailure, "/b has no file index (neither Manifest.mbdb nor Manifest.db)"},
      {0, ReaderError::BadIndex, "Manifest.db is not a database", kExitFailure, "Manifest.db is not a database"},
      {0, ReaderError::ReadFailed, "", kExitFailure, "the scan failed"},
      {0, ReaderError::NotABackup, "", kExitNotABackup, "the scan failed"},
  };
  for (const Case& c : cases) {
    const RunOutcome outcome = ScanOutcome(c.result, c.error, c.text, "/b");
    EXPECT_EQ(outcome.status, c.status) << c.message;
    EXPECT_EQ(outcome.message, c.message);
  }
  // A failure the reader gave no reason for is still a failure.
  EXPECT_EQ(FailureOutcome(ReaderError::None, "", "/b", "cannot read the file index").status, kExitFailure);
}

TEST(Secret, WipedSecretsLeaveNothing) {
  std::string password(100, 'p');
  password.resize(3);  // the bytes past the end were the password too
  WipeSecret(password);
  EXPECT_TRUE(password.empty());
  // clear() keeps the buffer, so all of it is still ours to look at.
  EXPECT_EQ(std::string_view(password.data(), 100).find('p'), std::string_view::npos);
  FileKey key;
  key.fill(0xA5);
  WipeSecret(key);
  EXPECT_EQ(key, FileKey{});
}

}  // namespace
}  // namespace sieve
