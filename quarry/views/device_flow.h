// Device mode without windows: which device page comes next and what it
// shows, driven by the page the window shows and by a timer per page.
//
//   no device (polls every second) -> connecting (one trust check on a worker)
//     -> connected, waiting for trust (checks again every second) or no device
//   connected (polls every second: unplugged, several devices) -> Scan
//     -> device backup (polls every half second) -> password when encrypted
//     -> results; back to connected after an error, a stop or a cancel.
//
// Only the device page the window shows does work: a page hidden because the
// user went elsewhere never takes the window back, and a trust check that
// ends after its page was left is dropped.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "quarry/views/backup_shelf.h"
#include "quarry/views/device_seam.h"
#include "quarry/views/view_texts.h"

class QTimer;

namespace quarry::views {

class DeviceFlow : public QObject {
  Q_OBJECT

 public:
  enum class Opening { kOpened, kCancelled, kUnreadable };
  // Opens a finished device backup for its scan (asks its password when it
  // is encrypted, again after a wrong one); kUnreadable after telling why.
  using BackupOpener = std::function<Opening(ShelfBackup& backup)>;

  // `backupFolder` is emptied before each backup and receives it.
  DeviceFlow(DeviceSeam seam, BackupShelf& shelf, QString backupFolder, TextLookup texts = {},
             QObject* parent = nullptr);
  // Waits for a trust check still running (it is dropped).
  ~DeviceFlow() override;

  static bool IsDevicePage(int pageId);
  // Reach devices another way (the screenshot walk's scripted device).
  void SetSeam(DeviceSeam seam) {
    seam_ = std::move(seam);
    probe_.reset();
  }
  void SetBackupOpener(BackupOpener opener) { opener_ = std::move(opener); }
  const QString& BackupFolder() const { return folder_; }

  // The window shows this page: a device page starts its work, any other
  // stops the flow's (a running backup goes on and is taken up again when
  // its page is shown again).
  void PageShown(int pageId);
  // One turn of the shown page's timer (the flow's own timer calls it).
  void Tick();
  // The connected page's Scan button, and the backup page's Stop button.
  void Scan();
  void Stop();

  // The device page doing work, 0 for none; its timer's interval.
  int ActivePage() const { return active_; }
  int TickInterval() const;
  bool TrustCheckRunning() const { return trustRunning_; }
  bool BackupRunning() const { return run_ != nullptr; }

  // What the pages show.
  QString DeviceText() const { return deviceText_; }
  QString TrustText() const { return trustText_; }
  int ConnectingValue() const { return connecting_; }  // 0 to 100
  int BackupValue() const { return bar_; }             // 0 to 10000
  QString PercentText() const { return percent_; }
  bool PasscodeRequested() const { return passcode_; }

 signals:
  void showPage(int pageId);
  void deviceState(int state);
  void scanState(int state);
  void setScanSource(const QString& folder);
  // Tell the user (a message box in the program); `warning` for failures.
  void message(const QString& text, bool warning);
  // Something the pages show has changed.
  void changed();

 private:
  QString Text(const char* key) const;
  void Leave(int pageId);
  void StartTrustCheck();
  void TrustChecked(quint64 visit, const TrustResult& result);
  bool Describe();
  void StartBackup();
  void BackupTick();
  void FinishBackup();
  // Tells the run's error and goes back to the connected page.
  void FailBackup();
  // Back to the connected page after a backup, telling `text` when not empty.
  void EndBackup(const QString& text);
  void ShowProgress(double percent);

  DeviceSeam seam_;
  BackupShelf& shelf_;
  QString folder_;
  TextLookup texts_;
  BackupOpener opener_;
  QTimer* timer_;
  std::unique_ptr<DeviceProbe> probe_;  // the window thread's
  std::unique_ptr<DeviceBackupRun> run_;
  std::thread trustThread_;
  std::atomic<bool> trustRunning_{false};
  int active_ = 0;
  quint64 visit_ = 0;  // counts PageShown calls: a late trust result belongs to an old visit
  bool severalDevices_ = false;
  QString deviceText_;
  QString trustText_;
  int connecting_ = 0;
  int bar_ = 0;
  QString percent_;
  bool passcode_ = false;
};

}  // namespace quarry::views
