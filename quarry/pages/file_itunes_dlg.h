// The backup list page: the backups of the user's iTunes backup folder (and
// any folder the user picks), encrypted ones marked. Choosing one asks for
// the password of an encrypted backup, again after a wrong one, and hands the
// backup to the results page. The page owns the reader for its whole life.
#pragma once

#include <QString>
#include <functional>

#include "quarry/pages/function_dlg.h"
#include "quarry/views/backup_open.h"
#include "sieve/itunes_backup_reader.h"

class QLabel;
class QStackedWidget;
class QTreeWidget;
class QPushButton;

namespace quarry {

class CFileItunesDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  // Asks the password of a backup and checks it with `check` away from the
  // window thread; the check's outcome, or nullopt on cancel (also while it
  // ran). `message` tells why it is asked again. Replaceable so scripted runs
  // need no modal dialog.
  using PasswordPrompt = std::function<std::optional<views::PasswordOutcome>(
      const QString& backupName, const QString& message, const views::PasswordChecker& check)>;
  using FolderChooser = std::function<QString()>;

  explicit CFileItunesDlg(QWidget* parent = nullptr);
  ~CFileItunesDlg() override;

  void InitPage() override;
  void OnShowPage() override;

  // Where the backups are listed from; the user's iTunes folder by default.
  void SetBackupRoot(const QString& folder) { backupRoot_ = folder; }
  QString BackupRoot() const { return backupRoot_; }
  static QString DefaultBackupRoot();
  void SetPasswordPrompt(PasswordPrompt prompt) { passwordPrompt_ = std::move(prompt); }
  void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }

  sieve::CItunesBackupReader& Reader() { return reader_; }
  QTreeWidget* List() const { return list_; }

  // Lists the reader's backups again.
  void FillList();
  // Offers the way back to the results page while it keeps results.
  void SetResultsAvailable(bool available);
  QPushButton* BackToResultsButton() const { return backToResults_; }
  // What an empty list says instead ("" while backups are listed).
  QString EmptyText() const;
  // The backup shown in this row: checks its password and hands it on.
  // False when nothing was handed on (no row, cancelled, unreadable).
  bool ScanRow(int row);
  // The Select button: a folder chosen by the user.
  bool ScanChosenFolder();

 private:
  bool ScanBackup(int index);
  // Index of the backup kept in a folder; positions move when backups are added.
  int IndexOfFolder(const QString& folder) const;

  sieve::CItunesBackupReader reader_;
  QString backupRoot_;
  PasswordPrompt passwordPrompt_;
  FolderChooser folderChooser_;
  QTreeWidget* list_ = nullptr;
  QPushButton* scan_ = nullptr;
  QPushButton* select_ = nullptr;
  QPushButton* backToResults_ = nullptr;
  QStackedWidget* listOrEmpty_ = nullptr;
  QLabel* problems_ = nullptr;  // backups that could not be listed, by folder
  QLabel* empty_ = nullptr;
};

}  // namespace quarry
