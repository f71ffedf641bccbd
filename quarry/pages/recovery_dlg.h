// The recovery dialog: writes snapshots of the checked items into a recovery
// folder on a worker thread, shows the progress, lets the user cancel, and
// ends with a summary of what was written, skipped and failed.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/recovery_run.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QPlainTextEdit;

namespace quarry {

class CRecoveryDlg : public QDialog {
  Q_OBJECT

 public:
  // `exports` are self-contained copies (CategoryModel::SnapshotChecked), so
  // the views may change while the recovery runs.
  CRecoveryDlg(QString folder, std::vector<std::unique_ptr<views::CategoryExport>> exports,
               QWidget* parent = nullptr);
  // Cancels a run still going and waits for its worker, which gives up
  // between files.
  ~CRecoveryDlg() override;

  // The worker starts when the dialog is first shown (exec() or show()) and
  // runs once per dialog; the progress is polled only while it is visible.
  // What the run wrote; empty until it ended.
  views::RecoverySummary Summary() const { return summary_; }
  bool Finished() const { return finished_; }
  int Percent() const;

  // For tests and the window: the texts shown.
  QString StatusText() const;
  QString FailureText() const;
  QProgressBar* Progress() const { return progress_; }
  QPushButton* CancelButton() const { return cancel_; }
  // Offered once the run wrote something: opens the folder for the user.
  QPushButton* OpenFolderButton() const { return openFolder_; }
  void SetFolderOpener(std::function<void(const QString& folder)> opener) { opener_ = std::move(opener); }

 signals:
  // Emitted on the window thread once the run ended (also when cancelled).
  // Opening the folder afterwards (the user's setting) is the caller's job.
  void recoveryFinished();

 public slots:
  // While the run goes on: asks it to stop (it gives up between files) and
  // keeps the dialog open until the worker returned and the summary says
  // "cancelled". Afterwards: closes the dialog. Never waits on the window
  // thread, so it cannot deadlock.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Start();
  void Poll();
  void OnRunEnded(const views::RecoverySummary& summary);

  std::unique_ptr<views::RecoveryRun> run_;
  std::thread worker_;
  bool started_ = false;
  bool finished_ = false;
  bool cancelRequested_ = false;
  views::RecoverySummary summary_;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPlainTextEdit* failures_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* openFolder_ = nullptr;
  QTimer* poll_ = nullptr;
  std::function<void(const QString& folder)> opener_;
};

}  // namespace quarry
