#include "quarry/controls/message_box.h"
#include "quarry/pages/file_itunes_dlg.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"

namespace quarry {

namespace {

constexpr int kFolderRole = Qt::UserRole + 1;

QString Text(const char* key) { return Translate(QString::fromLatin1(key)); }

}  // namespace

CFileItunesDlg::CFileItunesDlg(QWidget* parent) : CFunctionDlg(parent), backupRoot_(DefaultBackupRoot()) {
  passwordPrompt_ = DialogPasswordPrompt(this);
  folderChooser_ = [this] { return QFileDialog::getExistingDirectory(this, QString()); };
}

CFileItunesDlg::~CFileItunesDlg() = default;

QString CFileItunesDlg::DefaultBackupRoot() {
  // Where iTunes-compatible tools keep backups for this user; the same place `sieve list` looks.
  const QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.startsWith(QLatin1Char('/'))) return QDir(data).filePath(QStringLiteral("MobileSync/Backup"));
  return QDir(QDir::homePath()).filePath(QStringLiteral(".local/share/MobileSync/Backup"));
}

void CFileItunesDlg::InitPage() {
  setObjectName(QStringLiteral("backupListPage"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 16, 24, 16);
  for (const char* key : {"IDS_FILE_ITUNES_HINT", "IDS_FILE_ITUNES_NOTLIST", "IDS_FILE_ITUNES_SELECT_HINT"}) {
    auto* hint = new QLabel(Text(key), this);
    hint->setObjectName(QStringLiteral("backupHint"));
    hint->setWordWrap(true);
    layout->addWidget(hint);
  }
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("backupList"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({Text("IDS_ITUNES_LIST_HEADER_NAME"), Text("IDS_ITUNES_LIST_HEADER_MODEL"),
                          Text("IDS_ITUNES_LIST_HEADER_IOS"), Text("IDS_ITUNES_LIST_LAST_BAKCDATE"),
                          Text("IDS_ITUNES_LIST_HEADER_SRIALNUMBER")});
  // The name takes what the window's width leaves; a click on a header sorts.
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int column = 1; column < list_->columnCount(); ++column) {
    list_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
  list_->setSortingEnabled(true);
  list_->sortByColumn(3, Qt::DescendingOrder);  // newest first
  empty_ = new QLabel(this);
  empty_->setObjectName(QStringLiteral("backupEmpty"));
  empty_->setWordWrap(true);
  empty_->setAlignment(Qt::AlignCenter);
  empty_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  listOrEmpty_ = new QStackedWidget(this);
  listOrEmpty_->addWidget(list_);
  listOrEmpty_->addWidget(empty_);
  layout->addWidget(listOrEmpty_, 1);
  problems_ = new QLabel(this);
  problems_->setObjectName(QStringLiteral("backupProblems"));
  problems_->setWordWrap(true);
  problems_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problems_->hide();
  layout->addWidget(problems_);
  auto* buttons = new QHBoxLayout;
  backToResults_ = new QPushButton(Text("IDS_FILE_BACK_TO_RESULTS"), this);
  backToResults_->setObjectName(QStringLiteral("backupBackToResults"));
  backToResults_->hide();
  buttons->addWidget(backToResults_);
  buttons->addStretch(1);
  select_ = new QPushButton(Text("IDS_FILE_SELECT_BTN"), this);
  select_->setObjectName(QStringLiteral("backupSelect"));
  scan_ = new QPushButton(Text("IDS_FILE_SCAN_BTN"), this);
  scan_->setObjectName(QStringLiteral("backupScan"));
  buttons->addWidget(select_);
  buttons->addWidget(scan_);
  layout->addLayout(buttons);

  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { ScanRow(list_->indexOfTopLevelItem(item)); });
  connect(scan_, &QPushButton::clicked, this, [this] {
    const QList<QTreeWidgetItem*> chosen = list_->selectedItems();
    if (chosen.isEmpty()) {
      InformUser(this, Text("IDS_APP_NAME"), Text("SELECT_NO_ITUNESBACKUP"));
      return;
    }
    ScanRow(list_->indexOfTopLevelItem(chosen.first()));
  });
  connect(select_, &QPushButton::clicked, this, [this] { ScanChosenFolder(); });
  connect(backToResults_, &QPushButton::clicked, this, [this] { emit PageBus::Of(this)->showPage(page::kResults); });
}

void CFileItunesDlg::SetResultsAvailable(bool available) { backToResults_->setVisible(available); }

QString CFileItunesDlg::EmptyText() const { return listOrEmpty_->currentWidget() == empty_ ? empty_->text() : QString(); }

void CFileItunesDlg::OnShowPage() {
  CFunctionDlg::OnShowPage();
  listingProblems_ = Shelf().List(backupRoot_);
  FillList();
}

views::BackupShelf& CFileItunesDlg::Shelf() const { return PageBus::Of(this)->Shelf(); }

void CFileItunesDlg::FillList() {
  list_->clear();
  for (const std::shared_ptr<views::ShelfBackup>& backup : Shelf().Backups()) {
    const sieve::CItunesBackupReader& reader = backup->reader;
    const int i = views::ShelfBackup::kIndex;
    QString name = QString::fromStdString(reader.BackupName(i));
    // A backup whose Info.plist cannot be read is still listed, by its folder.
    if (name.isEmpty()) name = Text("IDS_FILE_ITUNES_UNREADABLE").arg(QFileInfo(backup->folder).fileName());
    if (reader.GetIsEncrypt(i) != 0) name += QLatin1Char(' ') + Text("IDS_ITUNES_ENCRYPTED");
    auto* row = new QTreeWidgetItem({name, QString::fromStdString(reader.ProductType(i)),
                                     QString::fromStdString(reader.ProductVersion(i)),
                                     QString::fromStdString(reader.BackupTime(i)),
                                     QString::fromStdString(reader.SerialNumber(i))});
    row->setData(0, kFolderRole, backup->folder);
    list_->addTopLevelItem(row);
  }
  // A damaged backup never hides the good ones; those that could not be listed are named.
  QStringList problems;
  for (const std::string& problem : listingProblems_) {
    problems << QDir::toNativeSeparators(QString::fromStdString(problem));
  }
  problems_->setText(problems.isEmpty() ? QString()
                                        : Text("IDS_FILE_ITUNES_NOT_LISTED").arg(problems.join(QStringLiteral("; "))));
  problems_->setVisible(!problems.isEmpty());
  // An empty list says where backups were looked for and how to get one.
  empty_->setText(Text("IDS_FILE_ITUNES_EMPTY").arg(QDir::toNativeSeparators(backupRoot_)));
  listOrEmpty_->setCurrentWidget(list_->topLevelItemCount() == 0 ? static_cast<QWidget*>(empty_) : list_);
}

bool CFileItunesDlg::ScanRow(int row) {
  QTreeWidgetItem* item = list_->topLevelItem(row);
  if (item == nullptr) return false;
  const std::shared_ptr<views::ShelfBackup> backup = Shelf().Find(item->data(0, kFolderRole).toString());
  return backup != nullptr && ScanBackup(backup);
}

bool CFileItunesDlg::ScanChosenFolder() {
  const QString folder = folderChooser_ ? folderChooser_() : QString();
  if (folder.isEmpty()) return false;
  const std::shared_ptr<views::ShelfBackup> backup = Shelf().Add(folder);
  if (backup == nullptr) {
    WarnUser(this, Text("IDS_APP_NAME"), Text("ITUNES_ERROR_NOT_BACKUP").arg(QDir::toNativeSeparators(folder)));
    return false;
  }
  FillList();
  return ScanBackup(backup);
}

bool CFileItunesDlg::ScanBackup(const std::shared_ptr<views::ShelfBackup>& backup) {
  PageBus* bus = PageBus::Of(this);
  if (OpenForScan(this, *backup, passwordPrompt_) != BackupOpening::kOpened) {
    // Nothing starts: the window must not stay busy.
    emit bus->scanState(page::kScanEnded);
    return false;
  }
  emit bus->setScanSource(backup->folder);
  emit bus->showPage(page::kResults);
  return true;
}

}  // namespace quarry
