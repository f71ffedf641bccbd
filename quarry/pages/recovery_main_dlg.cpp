#include "quarry/controls/message_box.h"
#include "quarry/pages/recovery_main_dlg.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/controls/menu_container.h"
#include "quarry/pages/category_pages.h"
#include "quarry/views/category_table.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/recovery_dlg.h"
#include "quarry/views/backup_open.h"
#include "quarry/views/contacts_model.h"
#include "quarry/views/scan_session.h"

namespace quarry {

namespace {

QString Tr(const char* key) { return Translate(QString::fromLatin1(key)); }

// The views' texts from the dictionary; a key the dictionary lacks gives the
// views' own English text rather than the key (it names folders and files).
QString ViewTextOf(const QString& key) {
  const QString text = Translate(key);
  return text == key ? QString() : text;
}

QPushButton* MakeButton(const char* key, const char* name, QWidget* parent) {
  auto* button = new QPushButton(Tr(key), parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

}  // namespace

CRecoveryMainDlg::CRecoveryMainDlg(QWidget* parent) : CFunctionDlg(parent) {
  setObjectName(QStringLiteral("resultsPage"));
  const views::ViewContext context{&ViewTextOf, files_};
  views::ForEachCategory([&](const views::CategoryRow& row) {
    CategoryView view{&row, row.makeModel != nullptr ? row.makeModel(context) : nullptr};
    if (view.model != nullptr && row.type >= 0) targets_[static_cast<std::size_t>(row.type)] = view.model.get();
    categories_.push_back(std::move(view));
  });
  message_ = [this](const QString& text) {
    InformUser(this, Tr("IDS_APP_NAME"), text);
  };
  opener_ = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
  chooser_ = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, Tr("IDS_RECOVER_MAIN_CHOOSE_FOLDER"), start);
  };
}

CRecoveryMainDlg::~CRecoveryMainDlg() {
  // The scan thread reads the reader and calls into the session: end it first.
  if (worker_.joinable()) {
    session_->Stop();
    session_->SetPaused(false);
    worker_.join();
  }
}

void CRecoveryMainDlg::InitPage() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(12, 8, 12, 8);
  root->setSpacing(6);

  // Scan line: status, progress, percentage, remaining time, Pause, Stop.
  auto* scanRow = new QHBoxLayout;
  status_ = new QLabel(Tr("IDS_RECOVER_MAIN_STATIC_SCANNING"), this);
  status_->setObjectName(QStringLiteral("resultsStatus"));
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("resultsProgress"));
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  percent_ = new QLabel(QStringLiteral("0%"), this);
  percent_->setObjectName(QStringLiteral("resultsPercent"));
  remainingLabel_ = new QLabel(this);
  remainingLabel_->setObjectName(QStringLiteral("resultsRemaining"));
  pause_ = MakeButton("IDS_RECOVER_MAIN_BTN_PAUSE", "resultsPause", this);
  stop_ = MakeButton("IDS_RECOVER_MAIN_BTN_STOP", "resultsStop", this);
  scanRow->addWidget(status_);
  scanRow->addWidget(progress_, 1);
  scanRow->addWidget(percent_);
  scanRow->addWidget(remainingLabel_);
  scanRow->addWidget(pause_);
  scanRow->addWidget(stop_);
  // Back to the backup list; these results stay until another scan starts.
  otherBackup_ = MakeButton("IDS_RECOVER_MAIN_BTN_OTHER_BACKUP", "resultsOtherBackup", this);
  scanRow->addWidget(otherBackup_);
  root->addLayout(scanRow);

  // What the user should know before trusting the results: an unfinished or
  // incremental backup, index rows skipped; or why the scan failed. A line of its
  // own, never a dialog.
  notice_ = new QLabel(this);
  notice_->setObjectName(QStringLiteral("resultsNotice"));
  notice_->setWordWrap(true);
  notice_->setTextFormat(Qt::PlainText);
  notice_->hide();
  root->addWidget(notice_);

  // Filter line for the shown view.
  auto* filterRow = new QHBoxLayout;
  deletedOnly_ = new QCheckBox(Tr("IDS_RECOVER_MAIN_CHECKBOX_TEXT"), this);
  deletedOnly_->setObjectName(QStringLiteral("resultsDeletedOnly"));
  selectAll_ = MakeButton("IDS_RECOVER_MAIN_BTN_RADIO_SELECTALL", "resultsSelectAll", this);
  invert_ = MakeButton("IDS_RECOVER_MAIN_BTN_RADIO_INVERT", "resultsInvert", this);
  search_ = new QLineEdit(this);
  search_->setObjectName(QStringLiteral("resultsSearch"));
  search_->setPlaceholderText(Tr("IDS_RECOVER_MAIN_SEARCH_HINT"));
  search_->setClearButtonEnabled(true);
  filterRow->addWidget(deletedOnly_);
  filterRow->addWidget(selectAll_);
  filterRow->addWidget(invert_);
  filterRow->addStretch(1);
  filterRow->addWidget(search_);
  root->addLayout(filterRow);

  // Categories on the left, the chosen category's view on the right.
  auto* body = new QHBoxLayout;
  menu_ = new CMenuContainer(this);
  menu_->setObjectName(QStringLiteral("resultsCategories"));
  for (const views::CategoryRow& row : views::CategoryRows()) {
    if (row.pageId == 0) {
      menu_->AddGroup(Tr(row.captionKey));
      continue;
    }
    CMenuItemEx* entry = menu_->AddEntry(QString(), Tr(row.captionKey), row.pageId);
    if (row.makeModel == nullptr && row.type >= 0) entry->setToolTip(Tr("IDS_RECOVER_MAIN_VIEW_NOT_YET"));
  }
  auto* scroll = new QScrollArea(this);
  scroll->setObjectName(QStringLiteral("resultsCategoryScroll"));
  scroll->setWidget(menu_);
  scroll->setWidgetResizable(true);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroll->setFixedWidth(250);
  views_ = new CFunctionDlgContainer(this);
  views_->setObjectName(QStringLiteral("resultsViews"));
  for (const CategoryView& view : categories_) {
    CFunctionDlg* page = MakeCategoryPage(*view.row, view.model.get());
    views_->AddPage(page, view.row->pageId);
  }
  body->addWidget(scroll);
  body->addWidget(views_, 1);
  root->addLayout(body, 1);

  // Totals and Recover.
  auto* totalsRow = new QHBoxLayout;
  checkedCount_ = new QLabel(this);
  checkedCount_->setObjectName(QStringLiteral("resultsCheckedCount"));
  checkedSize_ = new QLabel(this);
  checkedSize_->setObjectName(QStringLiteral("resultsCheckedSize"));
  foundCount_ = new QLabel(this);
  foundCount_->setObjectName(QStringLiteral("resultsFoundCount"));
  foundSize_ = new QLabel(this);
  foundSize_->setObjectName(QStringLiteral("resultsFoundSize"));
  recover_ = MakeButton("IDS_RECOVER_MAIN_BTN_RECOVER", "resultsRecover", this);
  for (QLabel* label : {checkedCount_, checkedSize_, foundCount_, foundSize_}) totalsRow->addWidget(label);
  totalsRow->addStretch(1);
  totalsRow->addWidget(recover_);
  root->addLayout(totalsRow);

  pollTimer_ = new QTimer(this);
  pollTimer_->setInterval(100);
  clockTimer_ = new QTimer(this);
  clockTimer_->setInterval(1000);
  connect(pollTimer_, &QTimer::timeout, this, &CRecoveryMainDlg::Poll);
  connect(clockTimer_, &QTimer::timeout, this, &CRecoveryMainDlg::CountDown);
  connect(pause_, &QPushButton::clicked, this, &CRecoveryMainDlg::PauseOrResume);
  connect(stop_, &QPushButton::clicked, this, &CRecoveryMainDlg::StopOrStart);
  connect(recover_, &QPushButton::clicked, this, [this] { Recover(); });
  connect(otherBackup_, &QPushButton::clicked, this, [this] { emit PageBus::Of(this)->showPage(page::kBackupList); });
  connect(menu_, &CMenuContainer::entryClicked, this, &CRecoveryMainDlg::ShowCategory);
  connect(selectAll_, &QPushButton::clicked, this, [this] {
    if (CFunctionDlg* view = CurrentView()) view->CheckAll(true);
  });
  connect(invert_, &QPushButton::clicked, this, [this] {
    if (CFunctionDlg* view = CurrentView()) view->InvertCheck();
  });
  connect(deletedOnly_, &QCheckBox::toggled, this, [this](bool on) {
    if (CFunctionDlg* view = CurrentView()) view->ApplyDeletedOnly(on);
  });
  connect(search_, &QLineEdit::textChanged, this, &CRecoveryMainDlg::SearchChanged);

  // Found items arrive checked; user checks change only the checked totals.
  for (const CategoryView& view : categories_) {
    if (view.model == nullptr) continue;
    connect(view.model.get(), &views::CategoryModel::ItemsFound, this, [this](qint64 count, qint64 size) {
      tally_.Found(count, size);
      totalsDirty_ = true;
    });
    connect(view.model.get(), &views::CategoryModel::SelectionChanged, this, [this](qint64 count, qint64 size) {
      tally_.Checked(count, size);
      UpdateTotals();
      SyncCategoryCheck();
    });
  }

  // The backup list hands its choice over on the window thread.
  connect(PageBus::Of(this), &PageBus::setScanSource, this, &CRecoveryMainDlg::SetScanSource);

  remainingLabel_->setText(RemainingText());
  UpdateTotals();
  SetBusyControls(false);
  pause_->setEnabled(false);
  stop_->setEnabled(false);
}

void CRecoveryMainDlg::SetScanSource(const QString& folder) {
  std::shared_ptr<views::ShelfBackup> backup = PageBus::Of(this)->Shelf().Find(folder);
  if (backup == nullptr) return;
  pendingScan_ = true;
  pendingBackup_ = std::move(backup);
}

bool CRecoveryMainDlg::HasResults() const {
  return worker_.joinable() || (session_ != nullptr && lastResult_ != -1 && !failed_);
}

void CRecoveryMainDlg::OnShowPage() {
  CFunctionDlg::OnShowPage();
  if (worker_.joinable() && !pendingScan_) {
    // Back on a running scan: the timers were stopped while hidden.
    pollTimer_->start();
    clockTimer_->start();
    return;
  }
  // Coming back to the page by a tab shows the results kept; only a backup
  // handed over anew starts a scan.
  if (pendingScan_) StartScan();
}

void CRecoveryMainDlg::hideEvent(QHideEvent* event) {
  // A hidden page does no work and pulls nobody back to it.
  pollTimer_->stop();
  clockTimer_->stop();
  CFunctionDlg::hideEvent(event);
}

void CRecoveryMainDlg::StartScan() {
  // A backup handed over, else the one scanned last (Start after a stop).
  if (pendingBackup_ == nullptr && backup_ == nullptr) return;
  if (worker_.joinable()) {
    // Two scans of one backup never run at once.
    session_->Stop();
    session_->SetPaused(false);
    worker_.join();
  }
  pendingScan_ = false;
  // Taken only now: a scan still running above kept reading the backup before,
  // and the old session and file source go only once the new ones are in place.
  const std::shared_ptr<views::ShelfBackup> previous = backup_;
  if (pendingBackup_ != nullptr) backup_ = std::move(pendingBackup_);
  reader_ = &backup_->reader;
  index_ = views::ShelfBackup::kIndex;
  draining_ = false;
  lastResult_ = 0;
  session_ = std::make_unique<views::ScanSession>(*reader_, index_);
  files_->Set(views::MakeReaderFileSource(*reader_, index_, backup_));
  menu_->ResetAll();
  menu_->DisableAll();
  for (const CategoryView& view : categories_) {
    if (view.model != nullptr) view.model->Clear();
  }
  tally_.Reset();
  lastSummary_ = views::RecoverySummary();
  paused_ = false;
  stopped_ = false;
  failed_ = false;
  remaining_.Start();
  runClock_.start();
  pausedMs_ = 0;
  ShowNotice({});

  SetBusyControls(true);
  pause_->setEnabled(true);
  pause_->setText(Tr("IDS_RECOVER_MAIN_BTN_PAUSE"));
  stop_->setEnabled(true);
  stop_->setText(Tr("IDS_RECOVER_MAIN_BTN_STOP"));
  status_->setText(Tr("IDS_RECOVER_MAIN_STATIC_SCANNING"));
  percent_->setText(QStringLiteral("0%"));
  progress_->setValue(0);
  remainingLabel_->setText(RemainingText());
  UpdateTotals();
  emit PageBus::Of(this)->scanState(page::kScanStarted);

  menu_->Select(page::kFirstCategoryView);
  ShowCategory(page::kFirstCategoryView, false);

  views::ScanSession* session = session_.get();
  worker_ = std::thread([this, session] {
    const int result = session->Run();
    QMetaObject::invokeMethod(this, [this, result] { OnScanFinished(result); }, Qt::QueuedConnection);
  });
  pollTimer_->start();
  clockTimer_->start();
}

void CRecoveryMainDlg::OnScanFinished(int result) {
  if (worker_.joinable()) worker_.join();  // it has returned already
  pollTimer_->stop();
  clockTimer_->stop();
  paused_ = false;
  lastResult_ = result;
  draining_ = true;
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  DeliverRest();
}

void CRecoveryMainDlg::DeliverRest() {
  if (!draining_ || !session_) return;  // a new scan took over
  // What the scan found in its last moments goes to the views in slices too: one
  // delivery of thousands of records would hold the window for a noticeable time.
  constexpr int kDeliverBudgetMs = 40;
  session_->Deliver(targets_, kDeliverBudgetMs);
  UpdateCounts();
  if (session_->Pending()) {
    QTimer::singleShot(0, this, &CRecoveryMainDlg::DeliverRest);
    return;
  }
  draining_ = false;
  CompleteScan(lastResult_);
}

void CRecoveryMainDlg::CompleteScan(int result) {
  SyncCategoryCheck();
  remaining_.Finish();
  const float p = session_->Progress();
  const int whole = std::isfinite(p) ? std::clamp(static_cast<int>(p), 0, 100) : 0;
  progress_->setValue(whole);
  percent_->setText(QStringLiteral("%1%").arg(whole));
  SetBusyControls(false);
  pause_->setEnabled(false);
  pause_->setText(Tr("IDS_RECOVER_MAIN_BTN_PAUSE"));
  stop_->setEnabled(true);
  stop_->setText(Tr("IDS_RECOVER_MAIN_BTN_START"));
  status_->setText(Tr("IDS_RECOVERY_RECOVERYMAIN_SCANFINISH"));
  if (stopped_ && p < 100.0f) {
    status_->setText(Tr("IDS_RECOVER_MAIN_STATIC_STOPPED").arg(whole));
    MarkUnscanned(p);
  }
  remainingLabel_->setText(RemainingText());
  const sieve::ReaderError error = reader_ != nullptr ? reader_->LastError(index_) : sieve::ReaderError::None;
  // A scan that never read the index found nothing to recover: it failed, it did not finish empty.
  failed_ = result != -1 && views::ScanFailed(result, error);
  if (failed_) {
    recover_->setEnabled(false);
    status_->setText(Tr("IDS_RECOVER_MAIN_SCAN_FAILED"));
  }
  // The reason is long: it goes on the notice line, which wraps.
  ShowNotice(failed_ ? views::BackupErrorText(*reader_, index_, &ViewTextOf) : QString());
  // The busy state ends on every way out, before any message waits for the user.
  PageBus* bus = PageBus::Of(this);
  emit bus->scanState(page::kScanEnded);
  emit scanFinished(result);

  if (result == -1) {
    ShowMessage(Tr("ITUNES_ERROR_PWD"));
    emit bus->showPage(page::kBackupList);
    return;
  }
  if (!stopped_ && error != sieve::ReaderError::None) {
    const QString text = views::BackupErrorText(*reader_, index_, &ViewTextOf);
    if (text.isEmpty()) return;
    // A damaged index still gave results: the reason goes on the status line beside them.
    if (!failed_) status_->setText(text);
    ShowMessage(text);
  }
}

void CRecoveryMainDlg::ShowNotice(const QString& failure) {
  QStringList lines{failure, NoticeText()};
  lines.removeAll(QString());
  notice_->setText(lines.join(QLatin1Char('\n')));
  notice_->setStyleSheet(failure.isEmpty() ? QStringLiteral("color: #b9770e;") : QStringLiteral("color: #c0392b;"));
  notice_->setVisible(!lines.isEmpty());
}

QString CRecoveryMainDlg::NoticeText() const {
  return reader_ != nullptr ? views::BackupWarningsText(*reader_, index_, &ViewTextOf) : QString();
}

void CRecoveryMainDlg::Poll() {
  if (!session_) return;
  // The session clears both flags when its thread begins; a Pause or Stop
  // pressed before that would be lost, so the page's state is applied again.
  if (stopped_) session_->Stop();
  if (paused_) session_->SetPaused(true);
  // A share of the window's time, so that it stays responsive while a large scan pours in.
  constexpr int kDeliverBudgetMs = 40;
  session_->Deliver(targets_, kDeliverBudgetMs);
  UpdateCounts();
  if (paused_ || stopped_) return;
  const float p = session_->Progress();
  const int whole = std::isfinite(p) ? std::clamp(static_cast<int>(p), 0, 100) : 0;
  progress_->setValue(whole);
  percent_->setText(QStringLiteral("%1%").arg(whole));
  remaining_.Estimate(p, RunningSeconds());
}

double CRecoveryMainDlg::RunningSeconds() const {
  if (!runClock_.isValid()) return 0.0;
  qint64 paused = pausedMs_;
  if (paused_ && pauseClock_.isValid()) paused += pauseClock_.elapsed();
  return static_cast<double>(runClock_.elapsed() - paused) / 1000.0;
}

void CRecoveryMainDlg::CountDown() {
  if (paused_ || stopped_) return;
  remainingLabel_->setText(RemainingText());
}

QString CRecoveryMainDlg::RemainingText() const {
  const QString time = remaining_.Known() ? views::FormatClock(remaining_.Seconds())
                                          : Tr("IDS_RECOVER_MAIN_STATIC_ESTIMATING");
  return Tr("IDS_RECOVER_MAIN_STATIC_REMAINED") + QLatin1Char(' ') + time;
}

void CRecoveryMainDlg::MarkUnscanned(float percent) {
  const QString note = Tr("IDS_RECOVER_MAIN_NOT_SCANNED");
  views::ForEachCategory([&](const views::CategoryRow& row) {
    if (row.type < 0) return;
    CMenuItemEx* entry = menu_->Entry(row.pageId);
    if (entry != nullptr && !views::CategoryScanned(row.type, percent)) entry->setNote(note);
  });
}

void CRecoveryMainDlg::SyncCategoryCheck() {
  for (const CategoryView& view : categories_) {
    CMenuItemEx* entry = menu_->Entry(view.row->pageId);
    if (entry == nullptr || view.model == nullptr || view.model->FoundCount() == 0) continue;
    const qsizetype checked = view.model->CheckedCount();
    entry->setCheckState(checked == 0                               ? Qt::Unchecked
                         : checked == view.model->FoundCount() ? Qt::Checked
                                                                : Qt::PartiallyChecked);
  }
}

int CRecoveryMainDlg::ProgressValue() const { return progress_->value(); }

void CRecoveryMainDlg::UpdateCounts() {
  if (!session_) return;
  if (totalsDirty_) {
    totalsDirty_ = false;
    UpdateTotals();
  }
  for (const CategoryView& view : categories_) {
    CMenuItemEx* entry = menu_->Entry(view.row->pageId);
    if (entry == nullptr || view.row->type < 0) continue;
    // A category with a view counts what it shows; one without shows what the scan found.
    const std::int64_t found = view.model != nullptr
                                   ? static_cast<std::int64_t>(view.model->FoundCount())
                                   : session_->FoundCount(static_cast<sieve::_InfoType>(view.row->type));
    if (entry->count() == found) continue;
    entry->setCount(found);
    if (view.model != nullptr && found > 0 && !entry->isEnabled()) {
      menu_->Enable(view.row->pageId);
      menu_->SetChecked(view.row->pageId);
    }
  }
}

void CRecoveryMainDlg::UpdateTotals() {
  checkedCount_->setText(Tr("IDS_RECOVER_MAIN_STATIC_SELECTCOUNT") + QLatin1Char(' ') +
                         views::FormatCount(tally_.CheckedCount()));
  checkedSize_->setText(Tr("IDS_RECOVER_MAIN_STATIC_SELECTSIZE") + QLatin1Char(' ') +
                        views::FormatSize(tally_.CheckedSize()));
  foundCount_->setText(Tr("IDS_RECOVER_MAIN_STATIC_ALLCOUNT") + QLatin1Char(' ') +
                       views::FormatCount(tally_.FoundCount()));
  foundSize_->setText(Tr("IDS_RECOVER_MAIN_STATIC_ALLSIZE") + QLatin1Char(' ') +
                      views::FormatSize(tally_.FoundSize()));
}

void CRecoveryMainDlg::SetBusyControls(bool busy) {
  for (QWidget* widget : std::initializer_list<QWidget*>{recover_, selectAll_, invert_, deletedOnly_, search_, otherBackup_}) {
    widget->setEnabled(!busy);
  }
}

void CRecoveryMainDlg::PauseOrResume() {
  if (!worker_.joinable() || stopped_ || draining_) return;
  paused_ = !paused_;
  pause_->setText(Tr(paused_ ? "IDS_RECOVER_MAIN_BTN_RESUME" : "IDS_RECOVER_MAIN_BTN_PAUSE"));
  status_->setText(Tr(paused_ ? "IDS_RECOVER_MAIN_STATIC_PAUSED" : "IDS_RECOVER_MAIN_STATIC_SCANNING"));
  // Paused time is no scanning time: the estimate leaves it out.
  if (paused_) {
    pauseClock_.start();
  } else if (pauseClock_.isValid()) {
    pausedMs_ += pauseClock_.elapsed();
    pauseClock_.invalidate();
  }
  session_->SetPaused(paused_);
}

void CRecoveryMainDlg::StopOrStart() {
  if (draining_) return;  // the last finds are still going to the views
  if (!worker_.joinable()) {
    StartScan();
    return;
  }
  if (stopped_) return;
  stopped_ = true;
  status_->setText(Tr("IDS_RECOVER_MAIN_STATIC_STOPPING"));
  session_->Stop();
  // Start comes back once the scan thread has returned (OnScanFinished).
  stop_->setEnabled(false);
  pause_->setEnabled(false);
}

CFunctionDlg* CRecoveryMainDlg::CurrentView() const {
  const int id = CurrentCategory();
  return id == 0 ? nullptr : views_->Page(id);
}

views::ContactsModel& CRecoveryMainDlg::Contacts() const {
  return *static_cast<views::ContactsModel*>(Model(page::kFirstCategoryView));
}

views::CategoryModel* CRecoveryMainDlg::Model(int pageId) const {
  for (const CategoryView& view : categories_) {
    if (view.row->pageId == pageId) return view.model.get();
  }
  return nullptr;
}

int CRecoveryMainDlg::CurrentCategory() const { return menu_->CurrentId(); }

void CRecoveryMainDlg::ShowCategory(int pageId, bool checked) {
  views_->ShowPage(pageId);
  // Filters first, so the entry's check reaches every item of the view.
  const QSignalBlocker blockBox(deletedOnly_);
  deletedOnly_->setChecked(false);
  suppressSearch_ = !search_->text().isEmpty();
  search_->clear();
  suppressSearch_ = false;
  if (CFunctionDlg* view = views_->Page(pageId)) {
    view->ApplyDeletedOnly(false);
    view->SearchText(QString());
    view->CheckAll(checked);
  }
}

void CRecoveryMainDlg::SearchChanged(const QString& text) {
  if (suppressSearch_) return;
  if (CFunctionDlg* view = CurrentView()) view->SearchText(text);
}

bool CRecoveryMainDlg::Recover() {
  if (worker_.joinable() || draining_ || reader_ == nullptr || failed_) return false;
  if (tally_.CheckedCount() == 0) {
    // Nothing to write: say so rather than make a folder of empty files.
    ShowMessage(Tr("IDS_RECOVER_MAIN_NOTHING_CHECKED"));
    return false;
  }
  CSalvageSettings& settings = AppSettings();
  QString start = settings.recoveryFolder;
  // The default folder may not exist yet: start where it would be.
  if (!QFileInfo(start).isDir()) start = QFileInfo(start).absolutePath();
  const QString chosen = chooser_ ? chooser_(start) : start;
  if (chosen.isEmpty()) return false;
  if (QDir::cleanPath(chosen) != QDir::cleanPath(settings.recoveryFolder)) {
    settings.recoveryFolder = QDir::cleanPath(chosen);
    settings.Save();
  }
  QString error;
  const QString folder = views::CreateRecoveryFolder(
      settings.recoveryFolder, QString::fromStdString(reader_->BackupName(index_)),
      QString::fromStdString(reader_->SerialNumber(index_)), QDateTime::currentDateTime(), &error);
  if (folder.isEmpty()) {
    ShowMessage(Tr("IDS_RECOVER_MAIN_FOLDER_FAILED").arg(error));
    return false;
  }
  // Copies of the checked items of every category that has a view; the
  // recovery works on them while the page stays usable.
  std::vector<std::unique_ptr<views::CategoryExport>> exports;
  for (const CategoryView& view : categories_) {
    if (view.model != nullptr && view.model->CheckedCount() > 0) exports.push_back(view.model->SnapshotChecked());
  }
  CRecoveryDlg dialog(folder, std::move(exports), this);
  dialog.SetFolderOpener(opener_);
  dialog.exec();
  lastSummary_ = dialog.Summary();
  if (lastSummary_.Folder.isEmpty()) lastSummary_.Folder = folder;
  if (AppSettings().autoOpen != 0 && opener_) opener_(folder);
  return lastSummary_.Report.Failed.isEmpty() && !lastSummary_.Cancelled;
}

void CRecoveryMainDlg::ShowMessage(const QString& text) {
  if (message_) message_(text);
}

}  // namespace quarry
