#include "quarry/app/headless_recovery.h"

#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "quarry/views/category_table.h"
#include "quarry/views/recovery_run.h"
#include "quarry/views/scan_session.h"
#include "sieve/run_outcome.h"
#include "sieve/scan_polling.h"
#include "sieve/secret.h"
#include "tools/sieve/terminal_prompt.h"

namespace quarry::app {

namespace {

// Categories the headless recovery writes; the others are found and counted only.
bool HasExport(int type) {
  const views::CategoryRow* row = views::CategoryOfType(type);
  return row != nullptr && row->makeModel != nullptr;
}

QString CategoryList(bool exported) {
  QStringList names;
  for (int t = 0; t < sieve::kInfoTypeCount; ++t) {
    if (HasExport(t) == exported) names.append(QLatin1String(sieve::InfoTypeName(t)));
  }
  return names.join(QStringLiteral(", "));
}

struct Options {
  QString Backup;
  QString Out;
  QString PasswordFile;
  QString KeyFile;
  std::vector<int> Categories;  // _InfoType values, in the order given
  bool DeletedOnly = false;
};

void Err(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
  std::fflush(stderr);
}

int UsageError(const QString& message) {
  Err(QStringLiteral("quarry: %1\nusage: ").arg(message) + QString::fromStdString(HeadlessUsage()));
  return kHeadlessUsage;
}

int Fail(int code, const QString& message) {
  Err(QStringLiteral("quarry: %1\n").arg(message));
  return code;
}

int CategoryByName(const QString& name) {
  for (int t = 0; t < sieve::kInfoTypeCount; ++t) {
    if (name == QLatin1String(sieve::InfoTypeName(t))) return t;
  }
  return -1;
}

// Parses the arguments; on a mistake returns nullopt with `error` set.
std::optional<Options> Parse(const QStringList& args, QString& error) {
  Options options;
  bool categoriesGiven = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& arg = args[i];
    const auto value = [&](QString& into) {
      if (i + 1 >= args.size()) {
        error = QStringLiteral("%1 needs a value").arg(arg);
        return false;
      }
      if (!into.isEmpty()) {
        error = QStringLiteral("%1 given twice").arg(arg);
        return false;
      }
      into = args[++i];
      if (into.isEmpty()) error = QStringLiteral("%1 needs a value").arg(arg);
      return !into.isEmpty();
    };
    if (arg == QLatin1String("--recover")) {
      if (!value(options.Backup)) return std::nullopt;
    } else if (arg == QLatin1String("--out")) {
      if (!value(options.Out)) return std::nullopt;
    } else if (arg == QLatin1String("--password-file")) {
      if (!value(options.PasswordFile)) return std::nullopt;
    } else if (arg == QLatin1String("--key-file")) {
      if (!value(options.KeyFile)) return std::nullopt;
    } else if (arg == QLatin1String("--deleted-only")) {
      options.DeletedOnly = true;
    } else if (arg == QLatin1String("--categories")) {
      QString list;
      if (categoriesGiven) {
        error = QStringLiteral("--categories given twice");
        return std::nullopt;
      }
      if (!value(list)) return std::nullopt;
      categoriesGiven = true;
      for (const QString& piece : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = piece.trimmed();
        if (name == QLatin1String("all")) {
          for (int t = 0; t < sieve::kInfoTypeCount; ++t) options.Categories.push_back(t);
          continue;
        }
        const int type = CategoryByName(name);
        if (type < 0) {
          error = QStringLiteral("unknown category \"%1\"").arg(name);
          return std::nullopt;
        }
        options.Categories.push_back(type);
      }
      if (options.Categories.empty()) {
        error = QStringLiteral("--categories names no category");
        return std::nullopt;
      }
    } else {
      error = QStringLiteral("unknown argument \"%1\"").arg(arg);
      return std::nullopt;
    }
  }
  if (options.Backup.isEmpty()) {
    error = QStringLiteral("--recover BACKUP is missing");
    return std::nullopt;
  }
  if (options.Out.isEmpty()) {
    error = QStringLiteral("--out DIR is missing");
    return std::nullopt;
  }
  if (!options.PasswordFile.isEmpty() && !options.KeyFile.isEmpty()) {
    error = QStringLiteral("give either --password-file or --key-file, not both");
    return std::nullopt;
  }
  if (!categoriesGiven) {
    for (int t = 0; t < sieve::kInfoTypeCount; ++t) options.Categories.push_back(t);
  }
  // Scanning for minutes to write an empty folder helps nobody: say so before starting.
  if (std::none_of(options.Categories.begin(), options.Categories.end(), HasExport)) {
    error = QStringLiteral("nothing to recover: the categories given have no export yet (recovered so far: %1)")
                .arg(CategoryList(true));
    return std::nullopt;
  }
  // A category named twice is exported once.
  std::vector<int> unique;
  for (const int t : options.Categories) {
    if (std::find(unique.begin(), unique.end(), t) == unique.end()) unique.push_back(t);
  }
  options.Categories = unique;
  return options;
}

// The first line of the password file without its line ending.
std::optional<QByteArray> ReadPassword(const QString& path, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
    return std::nullopt;
  }
  QByteArray bytes = file.readAll();
  const qsizetype end = bytes.indexOf('\n');
  if (end >= 0) bytes.truncate(end);
  if (bytes.endsWith('\r')) bytes.chop(1);
  return bytes;
}

// A key file as "sieve key" writes it: 64 hexadecimal digits and an optional line end.
std::optional<sieve::FileKey> ReadKeyFile(const QString& path, QString& error) {
  constexpr qsizetype kDigits = static_cast<qsizetype>(sizeof(sieve::FileKey) * 2);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read the key file %1: %2").arg(path, file.errorString());
    return std::nullopt;
  }
  // A little more than a key and its line end is enough to tell that it is something else.
  QByteArray text = file.read(kDigits + 3);
  if (text.endsWith('\n')) text.chop(1);
  if (text.endsWith('\r')) text.chop(1);
  const bool valid = text.size() == kDigits && std::all_of(text.cbegin(), text.cend(), [](char c) {
                       return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                     });
  std::optional<sieve::FileKey> key;
  if (valid) {
    QByteArray bytes = QByteArray::fromHex(text);
    key.emplace();
    std::copy(bytes.cbegin(), bytes.cend(), key->begin());
    bytes.fill('\0');
  } else {
    error = QStringLiteral("the key file %1 does not hold a key (64 hexadecimal digits, as sieve key writes)").arg(path);
  }
  text.fill('\0');
  return key;
}

// Runs the scan on a worker while this thread reports progress and takes the
// records into the models.
int Scan(sieve::CItunesBackupReader& reader, int index, views::ScanSession& session,
         const views::ScanTargets& targets) {
  sieve::ScanPolling polling;
  polling.scan = [&session] { return session.Run(); };
  int shown = -1;
  // Also called once after the scan has ended: the last records go to the models then.
  polling.progress = [&](float percent) {
    session.Deliver(targets);
    const int whole = static_cast<int>(percent);
    if (whole != shown) {
      Err(QStringLiteral("scanning: %1%\n").arg(whole));
      shown = whole;
    }
  };
  return sieve::ScanWithPolling(reader, index, polling);
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::string HeadlessUsage() {
  // Category names wrapped below their heading, so that the text fits a terminal.
  const auto names = [](bool exported) {
    std::string text;
    std::size_t column = 8;
    for (int t = 0; t < sieve::kInfoTypeCount; ++t) {
      if (HasExport(t) != exported) continue;
      const std::string name = sieve::InfoTypeName(t);
      if (!text.empty() && column + name.size() + 2 > 78) {
        text += ",\n        ";
        column = 8;
      } else if (!text.empty()) {
        text += ", ";
        column += 2;
      }
      text += name;
      column += name.size();
    }
    return text.empty() ? std::string() : "        " + text + "\n";
  };
  const std::string counted = names(false);
  return "quarry --recover BACKUP --out DIR [--categories LIST] [--deleted-only]\n"
         "                [--password-file FILE | --key-file FILE] [--utc]\n"
         "  LIST: comma-separated category names, or \"all\" (the default).\n"
         "    Categories:\n" + names(true) +
         (counted.empty() ? std::string() : "    Found and counted, not yet exported:\n" + counted) +
         "  --deleted-only: only the deleted items that were recovered\n"
         "  --password-file: the first line of FILE is the password of an encrypted\n"
         "        backup; without it or --key-file the password is asked for at the\n"
         "        terminal (no echo, three tries)\n"
         "  --key-file: the key written by \"sieve key\", instead of the password\n"
         "  --utc: dates in UTC instead of the computer's time zone\n";
}

bool IsHeadlessRequest(const QStringList& arguments) { return arguments.contains(QStringLiteral("--recover")); }

int RunHeadlessRecovery(const QStringList& arguments) {
  QString error;
  const std::optional<Options> parsed = Parse(arguments, error);
  if (!parsed) return UsageError(error);
  const Options& options = *parsed;

  std::optional<QByteArray> password;
  if (!options.PasswordFile.isEmpty()) {
    password = ReadPassword(options.PasswordFile, error);
    if (!password) return Fail(kHeadlessFailure, error);
  }
  std::optional<sieve::FileKey> key;
  if (!options.KeyFile.isEmpty()) {
    key = ReadKeyFile(options.KeyFile, error);
    if (!key) return Fail(kHeadlessFailure, error);
  }
  // Neither secret outlives this function.
  const auto wipeSecrets = qScopeGuard([&] {
    if (password) password->fill('\0');
    if (key) sieve::WipeSecret(*key);
  });

  const QFileInfo backupInfo(options.Backup);
  if (!backupInfo.exists()) return Fail(kHeadlessNotABackup, QStringLiteral("no such folder: %1").arg(options.Backup));
  if (!backupInfo.isDir()) return Fail(kHeadlessNotABackup, QStringLiteral("%1 is not a folder").arg(options.Backup));

  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(QFile::encodeName(options.Backup).constData());
  if (index < 0) {
    return Fail(kHeadlessNotABackup, QStringLiteral("%1 is not a backup (no Info.plist)").arg(options.Backup));
  }

  if (reader.GetIsEncrypt(index) != 0) {
    int checked = 0;
    if (key) {
      reader.SetDerivedKey(index, *key);
      checked = reader.CheckPassword(index);
    } else if (password) {
      std::string secret(password->constData(), static_cast<std::size_t>(password->size()));
      reader.SetPassword(index, secret);
      sieve::WipeSecret(secret);
      checked = reader.CheckPassword(index);
    } else if (::isatty(STDIN_FILENO) == 1) {
      checked = sieve::cli::AskForPassword("quarry", reader.BackupName(index), [&](std::string& secret) {
        reader.SetPassword(index, secret);
        return reader.CheckPassword(index);
      });
    } else {
      return UsageError(QStringLiteral("the backup is encrypted: give its password with --password-file, or its key "
                                       "with --key-file"));
    }
    if (checked < 0) {
      return Fail(kHeadlessWrongPassword,
                  key ? QStringLiteral("wrong key: the key file does not open this backup") : QStringLiteral("wrong password"));
    }
    if (checked == 0) {
      const sieve::RunOutcome outcome =
          sieve::FailureOutcome(reader, index, "the backup is encrypted but has no usable key bag");
      return Fail(outcome.status, Q(outcome.message));
    }
  }

  // The same models and exports as the window, so that both write the same files.
  views::ViewContext context;
  context.files = views::MakeReaderFileSource(reader, index);
  std::vector<std::unique_ptr<views::CategoryModel>> models;
  views::ScanTargets targets{};
  for (const int type : options.Categories) {
    const views::CategoryRow* row = views::CategoryOfType(type);
    if (row == nullptr || row->makeModel == nullptr) continue;
    models.push_back(row->makeModel(context));
    targets[static_cast<std::size_t>(type)] = models.back().get();
  }
  views::ScanSession session(reader, index);
  const QDateTime started = QDateTime::currentDateTime();
  const int result = Scan(reader, index, session, targets);
  for (const std::string& warning : reader.Warnings(index)) {
    Err(QStringLiteral("quarry: warning: %1\n").arg(QString::fromStdString(warning)));
  }
  const sieve::RunOutcome outcome = sieve::ScanOutcome(reader, index, result);
  // Databases read only in part were named among the warnings; the rest is recovered.
  if (outcome.Failed()) return Fail(outcome.status, Q(outcome.message));

  std::vector<std::unique_ptr<views::CategoryExport>> exports;
  for (const int type : options.Categories) {
    const QString name = QLatin1String(sieve::InfoTypeName(type));
    views::CategoryModel* model = targets[static_cast<std::size_t>(type)];
    if (model == nullptr) {
      const std::int64_t found = session.FoundCount(static_cast<sieve::_InfoType>(type));
      Err(QStringLiteral("%1: %2 found, not yet exported\n").arg(name).arg(found));
      continue;
    }
    // Only recovered (deleted) items are written; a filter alone would keep hidden items checked.
    if (options.DeletedOnly) model->CheckDeletedOnly();
    Err(QStringLiteral("%1: %2 found, %3 to recover\n").arg(name).arg(model->FoundCount()).arg(model->CheckedCount()));
    exports.push_back(model->SnapshotChecked());
  }

  const QString folder = views::CreateRecoveryFolder(options.Out, QString::fromStdString(reader.BackupName(index)),
                                                     QString::fromStdString(reader.SerialNumber(index)), started, &error);
  if (folder.isEmpty()) return Fail(kHeadlessFailure, error);

  views::RecoveryRun run(folder, std::move(exports));
  const views::RecoverySummary summary = run.Run();
  for (const QString& skipped : summary.Report.Skipped) Err(QStringLiteral("skipped: %1\n").arg(skipped));
  for (const QString& failed : summary.Report.Failed) Err(QStringLiteral("failed: %1\n").arg(failed));
  Err(QStringLiteral("recovered into %1: %2 written, %3 skipped, %4 failed\n")
          .arg(QDir::toNativeSeparators(folder))
          .arg(summary.Report.Written.size())
          .arg(summary.Report.Skipped.size())
          .arg(summary.Report.Failed.size()));
  const QByteArray line = (QDir::toNativeSeparators(folder) + QLatin1Char('\n')).toUtf8();
  std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
  return summary.Report.Failed.isEmpty() ? kHeadlessOk : kHeadlessFailure;
}

}  // namespace quarry::app
