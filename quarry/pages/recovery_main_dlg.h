// The scan and results page: scans the backup handed over by another page on
// a worker thread, shows progress, remaining time, Pause/Resume and
// Stop/Start, lists the categories with their counts, shows the chosen
// category's view with its filters, and recovers the checked items into a
// new time-stamped folder.
//
// Threads: the scan runs in a ScanSession on a std::thread; the page touches
// its widgets and models only on the window thread, from its timers and from
// the queued end-of-scan call. A new scan starts only after the previous
// thread has returned.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "quarry/pages/function_dlg.h"
#include "quarry/views/backup_shelf.h"
#include "quarry/views/recovery_run.h"
#include "quarry/views/file_source.h"
#include "quarry/views/scan_progress.h"
#include "quarry/views/scan_session.h"
#include "sieve/itunes_backup_reader.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quarry {

class CMenuContainer;
class CContactInfoDlg;

namespace views {
struct CategoryRow;
class CategoryModel;
class ContactsModel;
class ScanSession;
}  // namespace views

class CRecoveryMainDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  // Shows a message to the user (a message box in the program).
  using MessageSink = std::function<void(const QString& text)>;
  // Opens a folder for the user (the desktop's file manager in the program).
  using FolderOpener = std::function<void(const QString& folder)>;
  // Asks where to write a recovery, starting at `start`; "" when cancelled.
  using FolderChooser = std::function<QString(const QString& start)>;

  explicit CRecoveryMainDlg(QWidget* parent = nullptr);
  ~CRecoveryMainDlg() override;

  void InitPage() override;
  // Starts a scan of a source handed over since the last scan; otherwise
  // shows the results kept (or the scan still running).
  void OnShowPage() override;
  // A scan runs, or the last one left results to look at (it neither failed
  // nor met a wrong password): they stay until the next scan.
  bool HasResults() const;

  // The backup to scan the next time the page is shown: the one in this
  // folder on the window's shelf (nothing happens for a folder not on it).
  void SetScanSource(const QString& folder);

  void SetMessageSink(MessageSink sink) { message_ = std::move(sink); }
  void SetFolderOpener(FolderOpener opener) { opener_ = std::move(opener); }
  void SetRecoveryFolderChooser(FolderChooser chooser) { chooser_ = std::move(chooser); }

  // The user's actions, as the buttons do them.
  void PauseOrResume();
  void StopOrStart();
  // Asks where to write (remembered in the settings) and recovers the checked
  // items there through the recovery dialog. False when nothing is checked,
  // the folder could not be made, a file failed or the user cancelled.
  bool Recover();
  // A click on a category entry: show its view and apply its check.
  void ShowCategory(int pageId, bool checked);

  bool Scanning() const { return worker_.joinable() || draining_; }
  bool Paused() const { return paused_; }
  // The last scan could not read the backup's index or key bag: nothing to recover.
  bool ScanFailed() const { return failed_; }
  // The reader's warnings on the backup, as the page shows them ("" for none).
  QString NoticeText() const;
  // The category shown on the right (0 when none).
  int CurrentCategory() const;
  const views::SelectionTally& Tally() const { return tally_; }
  const views::RecoverySummary& LastSummary() const { return lastSummary_; }
  views::ContactsModel& Contacts() const;
  // The model of the category with this page id (null for none or one without items).
  views::CategoryModel* Model(int pageId) const;
  CMenuContainer* Categories() const { return menu_; }
  QString RemainingText() const;
  int ProgressValue() const;

 signals:
  // The scan thread has returned and the page shows its end state.
  void scanFinished(int result);

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void StartScan();
  void OnScanFinished(int result);
  // Hands the records still waiting to the views, a slice per turn of the event loop,
  // then completes the scan.
  void DeliverRest();
  void CompleteScan(int result);
  void Poll();
  void CountDown();
  void UpdateCounts();
  void UpdateTotals();
  // The category entry's box follows its items' checks: all, some or none.
  void SyncCategoryCheck();
  // Seconds the scan has run, paused time left out.
  double RunningSeconds() const;
  // After a stop: the categories the scan had not reached are marked.
  void MarkUnscanned(float percent);
  void SetBusyControls(bool busy);
  // The notice line: `failure` (why the scan failed) first, then the backup's warnings.
  void ShowNotice(const QString& failure);
  void SearchChanged(const QString& text);
  CFunctionDlg* CurrentView() const;
  void ShowMessage(const QString& text);

  // Held while its results are shown: the shelf may put a new backup of the
  // same folder in its place meanwhile.
  std::shared_ptr<views::ShelfBackup> backup_;
  std::shared_ptr<views::ShelfBackup> pendingBackup_;  // handed over, not yet scanned
  sieve::CItunesBackupReader* reader_ = nullptr;
  int index_ = -1;
  std::unique_ptr<views::ScanSession> session_;
  std::thread worker_;
  bool paused_ = false;
  bool stopped_ = false;
  bool failed_ = false;
  bool suppressSearch_ = false;
  bool pendingScan_ = false;  // a source was handed over and not scanned yet
  int lastResult_ = 0;
  QElapsedTimer runClock_;
  QElapsedTimer pauseClock_;
  qint64 pausedMs_ = 0;

  struct CategoryView {
    const views::CategoryRow* row;
    std::unique_ptr<views::CategoryModel> model;  // null for a category without items
  };
  std::vector<CategoryView> categories_;  // in list order
  views::ScanTargets targets_{};          // the model of each record kind
  // The scanned backup's stored files, for the views' pictures and exports.
  std::shared_ptr<views::FileSourceSlot> files_ = std::make_shared<views::FileSourceSlot>();
  bool totalsDirty_ = false;
  bool draining_ = false;                 // the scan has ended, its last finds are being shown              // found totals changed since last shown
  views::RemainingTime remaining_;
  views::SelectionTally tally_;
  views::RecoverySummary lastSummary_;
  MessageSink message_;
  FolderOpener opener_;
  FolderChooser chooser_;

  QTimer* pollTimer_ = nullptr;   // progress and found items, every 100 ms
  QTimer* clockTimer_ = nullptr;  // remaining-time countdown, every second
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* remainingLabel_ = nullptr;
  QLabel* notice_ = nullptr;  // why the scan failed, the reader's warnings on the backup
  QPushButton* pause_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* recover_ = nullptr;
  QPushButton* otherBackup_ = nullptr;
  QPushButton* selectAll_ = nullptr;
  QPushButton* invert_ = nullptr;
  QCheckBox* deletedOnly_ = nullptr;
  QLineEdit* search_ = nullptr;
  QLabel* checkedCount_ = nullptr;
  QLabel* checkedSize_ = nullptr;
  QLabel* foundCount_ = nullptr;
  QLabel* foundSize_ = nullptr;
  CMenuContainer* menu_ = nullptr;
  CFunctionDlgContainer* views_ = nullptr;
};

}  // namespace quarry
