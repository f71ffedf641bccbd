#include "sieve/run_outcome.h"

namespace sieve {

ExitStatus ExitStatusFor(ReaderError error) {
  switch (error) {
    case ReaderError::None: return kExitOk;
    case ReaderError::MissingFolder:
    case ReaderError::NotABackup: return kExitNotABackup;
    case ReaderError::WrongPassword: return kExitWrongPassword;
    case ReaderError::MissingIndex:
    case ReaderError::BadIndex:
    case ReaderError::TruncatedIndex:
    case ReaderError::NoKeyBag:
    case ReaderError::FileNotFound:
    case ReaderError::ReadFailed:
    case ReaderError::WriteFailed:
    case ReaderError::Stopped: return kExitFailure;
  }
  return kExitFailure;
}

RunOutcome FailureOutcome(ReaderError error, std::string_view errorText, std::string_view folder,
                          std::string_view fallback) {
  RunOutcome outcome;
  outcome.status = error == ReaderError::None ? kExitFailure : ExitStatusFor(error);
  switch (error) {
    case ReaderError::MissingIndex:
      outcome.message = std::string(folder) + " has no file index (neither Manifest.mbdb nor Manifest.db)";
      break;
    case ReaderError::WrongPassword: outcome.message = "wrong password"; break;
    case ReaderError::Stopped: outcome.message = "stopped before the end"; break;
    default: outcome.message = std::string(errorText.empty() ? fallback : errorText);
  }
  return outcome;
}

RunOutcome FailureOutcome(const CItunesBackupReader& reader, int index, std::string_view fallback) {
  return FailureOutcome(reader.LastError(index), reader.LastErrorText(index), reader.BackupFolder(index), fallback);
}

RunOutcome ScanOutcome(int result, ReaderError error, std::string_view errorText, std::string_view folder) {
  if (result < 0) return {kExitWrongPassword, "wrong password"};
  if (error == ReaderError::Stopped) return {kExitFailure, "the scan was stopped before it ended"};
  if (error != ReaderError::None) return FailureOutcome(error, errorText, folder, "the scan failed");
  // Databases read only in part, or not at all beside others that were read: warnings.
  return {};
}

RunOutcome ScanOutcome(const CItunesBackupReader& reader, int index, int result) {
  return ScanOutcome(result, reader.LastError(index), reader.LastErrorText(index), reader.BackupFolder(index));
}

bool NothingScanned(ReaderError error) {
  return error == ReaderError::WrongPassword || error == ReaderError::NoKeyBag ||
         error == ReaderError::MissingIndex || error == ReaderError::BadIndex ||
         error == ReaderError::ReadFailed || error == ReaderError::WriteFailed;
}

}  // namespace sieve
