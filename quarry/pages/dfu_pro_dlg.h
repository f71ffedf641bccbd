// The repair dialog: checks the installed idevicerestore, then runs it in update
// mode (the phone keeps its data) with the firmware download's and the restore's
// progress. It cannot be closed while the phone is being written; an erase happens
// only after a plain warning the user answered with Yes.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <thread>

#include "quarry/views/repair_flow.h"
#include "tether/device/recovery_device.h"
#include "tether/device/restore_run.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quarry {

class CDfuProDlg : public QDialog {
  Q_OBJECT

 public:
  // `program` is the idevicerestore to run (found on PATH); `cacheFolder` keeps
  // the downloaded firmware between runs.
  CDfuProDlg(const tether::RecoveryDevice& device, QString cacheFolder, QWidget* parent = nullptr,
             std::string program = "idevicerestore");
  // Cancels a run that may still be cancelled and waits for the worker.
  ~CDfuProDlg() override;

  // Replaceable for tests: the erase question (true erases) and messages.
  void SetEraseQuestion(std::function<bool(const QString& text)> ask) { askErase_ = std::move(ask); }
  void SetTeller(std::function<void(const QString& text)> tell) { tell_ = std::move(tell); }

  const views::RepairFlow& Flow() const { return flow_; }
  bool Running() const { return worker_.joinable() && !ended_; }
  QProgressBar* Progress() const { return progress_; }
  QString StatusText() const;
  static QString DefaultCacheFolder();

 signals:
  // The phone was repaired and restarts.
  void repaired();

 public slots:
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CheckTool();
  void StartRun();
  void OnEnded(const tether::RestoreResult& result);
  void Poll();
  // Runs `work` on the worker thread; the previous work has ended.
  void OnWorker(std::function<void()> work);

  tether::RecoveryDevice device_;
  QString cacheFolder_;
  std::string program_;
  views::RepairFlow flow_;
  std::unique_ptr<tether::RestoreRun> run_;
  std::thread worker_;
  bool started_ = false;
  bool ended_ = true;
  bool closeWhenEnded_ = false;
  QTimer poll_;
  QLabel* status_ = nullptr;
  QLabel* failure_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* close_ = nullptr;
  std::function<bool(const QString&)> askErase_;
  std::function<void(const QString&)> tell_;
};

}  // namespace quarry
