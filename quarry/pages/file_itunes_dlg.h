// The backup list page: the backups of the user's iTunes backup folder (and
// any folder the user picks), encrypted ones marked. Choosing one asks for
// the password of an encrypted backup, again after a wrong one, and hands the
// backup to the results page by its folder. The backups are the window's
// shelf's (PageBus::Shelf): the list shows every backup on it.
#pragma once

#include <QString>
#include <functional>

#include "quarry/pages/function_dlg.h"
#include "quarry/pages/backup_password.h"
#include "quarry/views/backup_shelf.h"

class QLabel;
class QStackedWidget;
class QTreeWidget;
class QPushButton;

namespace quarry {

class CFileItunesDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  // Replaceable so scripted runs need no modal dialog.
  using PasswordPrompt = quarry::PasswordPrompt;
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

  views::BackupShelf& Shelf() const;
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
  bool ScanBackup(const std::shared_ptr<views::ShelfBackup>& backup);

  std::vector<std::string> listingProblems_;
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
