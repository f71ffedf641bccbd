#include "quarry/views/backup_open.h"

#include <QDir>
#include <QStringList>
#include <QThreadPool>
#include <algorithm>
#include <set>
#include <vector>

#include <openssl/crypto.h>

#include "sieve/secret.h"

namespace quarry::views {

namespace {

// The password's whole UTF-8 bytes; the temporary array is wiped.
std::string Utf8Secret(const QString& password) {
  QByteArray bytes = password.toUtf8();
  std::string secret(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  bytes.fill('\0');
  return secret;
}

}  // namespace

PasswordOutcome::~PasswordOutcome() {
  if (Key) sieve::WipeSecret(Key->data(), Key->size());
}

PasswordOutcome DerivePasswordKey(const std::string& folder, std::string& password,
                                  const std::function<void(sieve::CItunesBackupReader*, int)>& deriving) {
  PasswordOutcome outcome;
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(folder.c_str());
  if (index < 0) {
    sieve::WipeSecret(password);
    outcome.Error = sieve::ReaderError::NotABackup;
    outcome.ErrorText = "the folder holds no Info.plist";
    return outcome;
  }
  reader.SetPassword(index, password);
  sieve::WipeSecret(password);
  // Whoever may cancel learns of the reader for the time of the derivation only.
  if (deriving) deriving(&reader, index);
  const int checked = reader.CheckPassword(index);
  if (deriving) deriving(nullptr, -1);
  outcome.Error = reader.LastError(index);
  outcome.ErrorText = reader.LastErrorText(index);
  if (checked < 0) {
    outcome.Check = PasswordCheck::kWrong;
  } else if (checked > 0) {
    sieve::FileKey key{};
    if (reader.GetDerivedKey(index, key) == 1) {
      outcome.Check = PasswordCheck::kAccepted;
      outcome.Key = key;
    }
    sieve::WipeSecret(key.data(), key.size());
  } else if (reader.GetIsEncrypt(index) == 0) {
    // Not encrypted after all: nothing to unlock.
    outcome.Check = PasswordCheck::kAccepted;
  }
  return outcome;
}

PasswordCheck ApplyPasswordOutcome(sieve::CItunesBackupReader& reader, int index, const PasswordOutcome& outcome) {
  if (outcome.Check != PasswordCheck::kAccepted || !outcome.Key) return outcome.Check;
  reader.SetDerivedKey(index, *outcome.Key);
  const int checked = reader.CheckPassword(index);
  if (checked > 0) return PasswordCheck::kAccepted;
  return checked < 0 ? PasswordCheck::kWrong : PasswordCheck::kUnreadable;
}

PasswordCheck CheckBackupPassword(sieve::CItunesBackupReader& reader, int index, const QString& password) {
  if (password.isEmpty()) return PasswordCheck::kEmpty;
  std::string secret = Utf8Secret(password);
  const PasswordOutcome outcome = DerivePasswordKey(reader.BackupFolder(index), secret, {});
  return ApplyPasswordOutcome(reader, index, outcome);
}

std::shared_ptr<PasswordJob> PasswordJob::Start(const std::string& folder, const QString& password) {
  std::shared_ptr<PasswordJob> job(new PasswordJob());
  job->password_ = Utf8Secret(password);
  // The worker holds the job, so an abandoned one lives until its check ends.
  // OpenSSL keeps state per thread that it frees only when the thread ends; a pool thread
  // may outlive the program's last look at it, so the task gives it back itself.
  QThreadPool::globalInstance()->start([job, folder] {
    job->Run(folder);
    OPENSSL_thread_stop();
  });
  return job;
}

void PasswordJob::Run(const std::string& folder) {
  // Only this thread touches the password once the job started.
  PasswordOutcome outcome = DerivePasswordKey(folder, password_, [this](sieve::CItunesBackupReader* reader, int index) {
    const std::lock_guard<std::mutex> lock(mutex_);
    deriving_ = reader;
    derivingIndex_ = index;
    // Cancelled before the derivation began: it stops at its first look at the flag.
    if (reader != nullptr && abandoned_) reader->SetStop(index, 1);
  });
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!abandoned_) outcome_ = outcome;
  done_ = true;
  ended_.notify_all();
}

bool PasswordJob::Done() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void PasswordJob::Wait() const {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [this] { return done_; });
}

PasswordOutcome PasswordJob::Take() {
  const std::lock_guard<std::mutex> lock(mutex_);
  PasswordOutcome taken = outcome_.value_or(PasswordOutcome());
  outcome_.reset();
  return taken;
}

void PasswordJob::Abandon() {
  const std::lock_guard<std::mutex> lock(mutex_);
  abandoned_ = true;
  outcome_.reset();
  // The derivation stops within milliseconds instead of keeping a processor busy for seconds.
  if (deriving_ != nullptr) deriving_->SetStop(derivingIndex_, 1);
}

QString BackupErrorText(const QString& folder, sieve::ReaderError error, const QString& reason,
                        const TextLookup& texts) {
  switch (error) {
    case sieve::ReaderError::None:
    case sieve::ReaderError::Stopped:
      return {};
    case sieve::ReaderError::WrongPassword:
      return ViewText(texts, QStringLiteral("ITUNES_ERROR_PWD"));
    default:
      return ViewText(texts, QStringLiteral("ITUNES_ERROR_UNREADABLE")).arg(QDir::toNativeSeparators(folder), reason);
  }
}

QString BackupErrorText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts) {
  return BackupErrorText(QString::fromStdString(reader.BackupFolder(index)), reader.LastError(index),
                         QString::fromStdString(reader.LastErrorText(index)), texts);
}

bool ScanFailed(int result, sieve::ReaderError error) {
  // A damaged index still gave the entries before the damage: that scan found what it could.
  return result == 0 && error != sieve::ReaderError::None && error != sieve::ReaderError::TruncatedIndex &&
         error != sieve::ReaderError::Stopped;
}

QString BackupWarningsText(const sieve::CItunesBackupReader& reader, int index, const TextLookup& texts) {
  const std::vector<sieve::DatabaseProblem> problems = reader.DatabaseProblems(index);
  // The reader's English lines for the damaged databases are said below in the user's language.
  std::set<std::string> said;
  for (const sieve::DatabaseProblem& problem : problems) said.insert(sieve::DatabaseProblemText(problem));
  QStringList lines;
  for (const std::string& warning : reader.Warnings(index)) {
    if (said.count(warning) != 0) continue;
    lines.append(ViewText(texts, QStringLiteral("IDS_BACKUP_WARNING")).arg(QString::fromStdString(warning)));
  }
  for (const sieve::DatabaseProblem& problem : problems) {
    const QString key = problem.Unreadable ? QStringLiteral("IDS_RECOVER_MAIN_DATABASE_UNREADABLE")
                                           : QStringLiteral("IDS_RECOVER_MAIN_DATABASE_PARTIAL");
    lines.append(ViewText(texts, key).arg(QString::fromStdString(problem.Name)));
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace quarry::views
