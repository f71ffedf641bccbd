#include "quarry/controls/message_box.h"
#include "quarry/app/salvage_dlg.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include "quarry/app/info_dlg.h"
#include "quarry/app/option_dlg.h"
#include "quarry/app/platform_processes.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/controls/image_button.h"
#include "quarry/controls/svg_picture.h"
#include "quarry/pages/function_dlg.h"
#include "quarry/pages/home_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"

#include "quarry/pages/device_pages.h"
#include "quarry/pages/file_itunes_dlg.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "quarry/pages/device_diag_dlg.h"
#include "quarry/pages/dfu_dlg.h"
#include "quarry/views/device_flow.h"
#include "quarry/views/tether_seam.h"

namespace quarry {

namespace {

enum MenuItem : int { kOptions = 32776, kHelp = 32778, kAbout = 32780, kDiagnostics = 32781 };

// Width of the band along the window's border that resizes it.
constexpr int kEdge = 5;

}  // namespace

CSalvageDlg::CSalvageDlg(QWidget* parent) : QDialog(parent), bus_(new PageBus(this)) {
  setObjectName(QStringLiteral("mainWindow"));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
  setWindowTitle(Translate(QStringLiteral("IDS_APP_NAME")));
  setWindowIcon(QIcon(QStringLiteral(":/quarry/logo.svg")));
  setSizeGripEnabled(false);
  setMinimumSize(kMinWidth, kMinHeight);
  resize(kWidth, kHeight);
  // Presses on the border band reach the window itself; moves over it set the cursor.
  setMouseTracking(true);
  PageBus::Attach(this, bus_);
  askQuestion = [this](const QString& text) {
    return AskUser(this, Translate(QStringLiteral("IDS_APP_NAME")), text);
  };
  tellUser = [this](const QString& text, bool warning) {
    (warning ? WarnUser : InformUser)(this, Translate(QStringLiteral("IDS_APP_NAME")), text);
  };

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(kEdge, kEdge, kEdge, kEdge);
  root->setSpacing(0);
  auto* titleArea = new QWidget(this);
  titleArea_ = titleArea;
  titleArea->installEventFilter(this);
  titleArea->setObjectName(QStringLiteral("titleArea"));
  titleArea->setAttribute(Qt::WA_StyledBackground, true);
  BuildTitleArea(titleArea);
  root->addWidget(titleArea);
  container_ = new CFunctionDlgContainer(this);
  container_->setObjectName(QStringLiteral("pageContainer"));
  root->addWidget(container_, 1);

  connect(bus_, &PageBus::showPage, this, &CSalvageDlg::ShowPage, Qt::QueuedConnection);
  connect(bus_, &PageBus::scanState, this, &CSalvageDlg::OnScanState);
  connect(bus_, &PageBus::deviceState, this, &CSalvageDlg::OnDeviceState);

  BuildPages();
  ShowPage(page::kHome);

  // A running iTunes would hold the device; the check finds nothing where
  // iTunes cannot run.
  itunesTimer_ = new QTimer(this);
  itunesTimer_->setInterval(1000);
  connect(itunesTimer_, &QTimer::timeout, this, &CSalvageDlg::CheckForItunes);
  itunesTimer_->start();
}

CSalvageDlg::~CSalvageDlg() = default;

void CSalvageDlg::BuildTitleArea(QWidget* area) {
  auto* row = new QHBoxLayout(area);
  row->setContentsMargins(18, 0, 6, 0);
  row->setSpacing(6);

  auto* logo = new CSvgPicture(QStringLiteral(":/quarry/logo.svg"), QSize(44, 44), area);
  row->addWidget(logo);
  auto* name = new QLabel(Translate(QStringLiteral("IDS_APP_NAME")), area);
  name->setObjectName(QStringLiteral("appName"));
  row->addWidget(name);
  row->addStretch(1);

  struct Top {
    int id;
    const char* icon;
    QString text;
  };
  const Top tops[] = {
      {kHomeButton, ":/quarry/top_home.svg", Translate(QStringLiteral("IDS_FRAME_TOP_BUTTON_HOME"))},
      {kDeviceButton, ":/quarry/top_device.svg", Translate(QStringLiteral("IDS_FRAME_TOP_BUTTON_DEVICE"))},
      {kFileButton, ":/quarry/top_file.svg", Translate(QStringLiteral("IDS_FRAME_TOP_BUTTON_FILE"))},
      {kDfuButton, ":/quarry/top_dfu.svg", QStringLiteral("DFU")},
  };
  for (const Top& top : tops) {
    auto* button = new CImageButton(QString::fromLatin1(top.icon), top.text, QStringLiteral("top"), area);
    button->setObjectName(QStringLiteral("topButton%1").arg(top.id));
    button->setCheckable(true);
    button->setAutoExclusive(false);
    topButtons_.insert(top.id, button);
    row->addWidget(button, 0, Qt::AlignBottom);
  }
  connect(topButtons_[kHomeButton], &QPushButton::clicked, this, [this] { ShowPage(page::kHome); });
  // Backup-file mode shows the last results while the results page keeps them.
  connect(topButtons_[kFileButton], &QPushButton::clicked, this, [this] {
    auto* results = qobject_cast<CRecoveryMainDlg*>(container_->Page(page::kResults));
    ShowPage(results != nullptr && results->HasResults() ? page::kResults : page::kBackupList);
  });
  connect(topButtons_[kDeviceButton], &QPushButton::clicked, this,
          [this] { ShowPage(CHomeDlg::DevicePageFor(deviceState_)); });
  connect(topButtons_[kDfuButton], &QPushButton::clicked, this, [this] { ShowPage(page::kRecoveryMode); });
  row->addSpacing(18);

  auto* titleColumn = new QVBoxLayout;
  titleColumn->setContentsMargins(0, 6, 0, 0);
  auto* titleRow = new QHBoxLayout;
  titleRow->setSpacing(2);
  const std::pair<int, const char*> titles[] = {
      {kMenuButton, ":/quarry/title_menu.svg"},
      {kMinimiseButton, ":/quarry/title_minimise.svg"},
      {kMaximiseButton, ":/quarry/title_maximise.svg"},
      {kCloseButton, ":/quarry/title_close.svg"},
  };
  for (const auto& [id, icon] : titles) {
    auto* button = new CImageButton(QString::fromLatin1(icon), QString(), QStringLiteral("title"), area);
    button->setObjectName(QStringLiteral("titleButton%1").arg(id));
    // The window system's own buttons take no keyboard focus either: Tab and
    // Enter must never close or shrink the window by accident.
    button->setFocusPolicy(id == kMenuButton ? Qt::TabFocus : Qt::NoFocus);
    button->setAutoDefault(false);
    titleButtons_.insert(id, button);
    titleRow->addWidget(button);
  }
  titleButtons_[kMenuButton]->setToolTip(Translate(QStringLiteral("IDS_TITLE_MENU")));
  titleButtons_[kMinimiseButton]->setToolTip(Translate(QStringLiteral("IDS_TITLE_MINIMISE")));
  titleButtons_[kMaximiseButton]->setToolTip(Translate(QStringLiteral("IDS_TITLE_MAXIMISE")));
  titleButtons_[kCloseButton]->setToolTip(Translate(QStringLiteral("IDS_TITLE_CLOSE")));
  titleColumn->addLayout(titleRow);
  titleColumn->addStretch(1);
  row->addLayout(titleColumn);

  menu_ = new QMenu(this);
  menu_->addAction(QString())->setData(int{kOptions});
  menu_->addAction(QString())->setData(int{kDiagnostics});
  menu_->addAction(QString())->setData(int{kHelp});
  menu_->addSeparator();
  menu_->addAction(QString())->setData(int{kAbout});
  TranslateMenu();
  connect(menu_, &QMenu::aboutToShow, this, &CSalvageDlg::TranslateMenu);
  connect(menu_, &QMenu::triggered, this, [this](QAction* action) {
    switch (action->data().toInt()) {
      case kOptions: OpenOptions(); break;
      case kHelp: ShowHelp(); break;
      case kDiagnostics: ShowDeviceDiagnostics(); break;
      case kAbout: ShowAbout(); break;
      default: break;
    }
  });
  connect(titleButtons_[kMenuButton], &QPushButton::clicked, this, [this] {
    QWidget* button = titleButtons_[kMenuButton];
    menu_->popup(button->mapToGlobal(QPoint(0, button->height())));
  });
  connect(titleButtons_[kMinimiseButton], &QPushButton::clicked, this, &QWidget::showMinimized);
  connect(titleButtons_[kMaximiseButton], &QPushButton::clicked, this, &CSalvageDlg::ToggleMaximised);
  connect(titleButtons_[kCloseButton], &QPushButton::clicked, this, &QWidget::close);
}

void CSalvageDlg::TranslateMenu() {
  static const QHash<int, QString> keys = {{kOptions, QStringLiteral("IDS_MENU_DIALOG_OPTIONS")},
                                           {kHelp, QStringLiteral("IDS_MENU_DIALOG_HELP")},
                                           {kDiagnostics, QStringLiteral("IDS_MENU_DIALOG_DIAGNOSTICS")},
                                           {kAbout, QStringLiteral("IDS_MENU_DIALOG_ABOUT")}};
  for (QAction* action : menu_->actions()) {
    if (!action->isSeparator()) action->setText(Translate(keys.value(action->data().toInt())));
  }
}

void CSalvageDlg::AddPage(CFunctionDlg* page, int pageId) { container_->AddPage(page, pageId); }

void CSalvageDlg::BuildPages() {
  auto* home = new CHomeDlg;
  AddPage(home, page::kHome);
  connect(home, &CHomeDlg::deviceModeChosen, this, [this] { ShowPage(CHomeDlg::DevicePageFor(deviceState_)); });
  BuildDevicePages();
  auto* backupList = new CFileItunesDlg;
  backupList->SetBackupRoot(AppSettings().BackupsFolder());
  AddPage(backupList, page::kBackupList);
  AddPage(new CRecoveryMainDlg, page::kResults);
  AddPage(new CDfuDlg, page::kRecoveryMode);
  AddPage(new CDfuExitDlg, page::kRecoveryModeExit);
}

void CSalvageDlg::ShowDeviceDiagnostics() { quarry::ShowDeviceDiagnostics(this); }

void CSalvageDlg::BuildDevicePages() {
  // Each device backup goes into the program's own folder, emptied first.
  const QString folder = QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
                             .filePath(QStringLiteral("DeviceBackup"));
  const views::TextLookup texts = [](const QString& key) {
    const QString text = Translate(key);
    return text == key ? QString() : text;
  };
  deviceFlow_ = new views::DeviceFlow(views::TetherDeviceSeam(), bus_->Shelf(), folder, texts, this);
  connect(deviceFlow_, &views::DeviceFlow::showPage, bus_, &PageBus::showPage);
  connect(deviceFlow_, &views::DeviceFlow::deviceState, bus_, &PageBus::deviceState);
  connect(deviceFlow_, &views::DeviceFlow::scanState, bus_, &PageBus::scanState);
  connect(deviceFlow_, &views::DeviceFlow::setScanSource, bus_, &PageBus::setScanSource);
  connect(deviceFlow_, &views::DeviceFlow::message, this,
          [this](const QString& text, bool warning) { tellUser(text, warning); });
  // Device work stops on every other page: a device page the user left never takes the window back.
  connect(container_, &CFunctionDlgContainer::pageShown, deviceFlow_, [this](int pageId) {
    if (!views::DeviceFlow::IsDevicePage(pageId)) deviceFlow_->PageShown(pageId);
  });
  auto* noDevice = new CNotConnectDlg(deviceFlow_);
  connect(noDevice, &CNotConnectDlg::diagnosticsRequested, this, &CSalvageDlg::ShowDeviceDiagnostics);
  AddPage(noDevice, page::kNoDevice);
  AddPage(new CConnectingDlg(deviceFlow_), page::kConnecting);
  AddPage(new CConnectedDlg(deviceFlow_), page::kDeviceConnected);
  AddPage(new CTrustConnectDlg(deviceFlow_), page::kTrust);
  AddPage(new CAnalysisDlg(deviceFlow_), page::kDeviceBackup);
}

void CSalvageDlg::ShowPage(int pageId) {
  if (pageId == page::kBackupList) {
    auto* list = qobject_cast<CFileItunesDlg*>(container_->Page(page::kBackupList));
    auto* results = qobject_cast<CRecoveryMainDlg*>(container_->Page(page::kResults));
    if (list != nullptr && results != nullptr) list->SetResultsAvailable(results->HasResults());
  }
  container_->ShowPage(pageId);
  for (auto it = topButtons_.begin(); it != topButtons_.end(); ++it) {
    const bool current = (it.key() == kHomeButton && pageId == page::kHome) ||
                         (it.key() == kDeviceButton && views::DeviceFlow::IsDevicePage(pageId)) ||
                         (it.key() == kFileButton && (pageId == page::kBackupList || pageId == page::kResults)) ||
                         (it.key() == kDfuButton && (pageId == page::kRecoveryMode || pageId == page::kRecoveryModeExit));
    it.value()->setChecked(current);
  }
}

void CSalvageDlg::OnScanState(int state) {
  busy_ = state == page::kScanStarted;
  for (int id : {kHomeButton, kDeviceButton, kFileButton, kDfuButton}) topButtons_[id]->setEnabled(!busy_);
}

void CSalvageDlg::OnDeviceState(int state) { deviceState_ = state; }

void CSalvageDlg::closeEvent(QCloseEvent* event) {
  // Every way of closing (the close button, Alt+F4, the task bar) comes here.
  if (busy_ && !askQuestion(Translate(QStringLiteral("IDS_SCAN_EXIT")))) {
    event->ignore();
    return;
  }
  itunesTimer_->stop();
  // Not QDialog's handler: it would reject() and so come back here.
  event->accept();
}

void CSalvageDlg::reject() {
  // Escape rejects a dialog; for the program's one window it must do nothing.
  // Closing goes through the close button or the window system (closeEvent).
}

Qt::Edges CSalvageDlg::EdgesAt(const QPoint& at) const {
  Qt::Edges edges;
  if (isMaximized() || isFullScreen()) return edges;
  if (at.x() < kEdge) edges |= Qt::LeftEdge;
  if (at.x() >= width() - kEdge) edges |= Qt::RightEdge;
  if (at.y() < kEdge) edges |= Qt::TopEdge;
  if (at.y() >= height() - kEdge) edges |= Qt::BottomEdge;
  return edges;
}

void CSalvageDlg::mousePressEvent(QMouseEvent* event) {
  // The window has no system title bar: a press on its border resizes it, a
  // press on its free area moves it.
  if (event->button() == Qt::LeftButton && windowHandle() != nullptr) {
    const Qt::Edges edges = EdgesAt(event->position().toPoint());
    if (edges) {
      windowHandle()->startSystemResize(edges);
    } else {
      windowHandle()->startSystemMove();
    }
  }
  QDialog::mousePressEvent(event);
}

void CSalvageDlg::mouseMoveEvent(QMouseEvent* event) {
  const Qt::Edges edges = EdgesAt(event->position().toPoint());
  const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
  const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
  if (horizontal && vertical) {
    const bool falling = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
    setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
  } else if (horizontal) {
    setCursor(Qt::SizeHorCursor);
  } else if (vertical) {
    setCursor(Qt::SizeVerCursor);
  } else {
    unsetCursor();
  }
  QDialog::mouseMoveEvent(event);
}

void CSalvageDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && EdgesAt(event->position().toPoint()) == Qt::Edges()) ToggleMaximised();
  QDialog::mouseDoubleClickEvent(event);
}

bool CSalvageDlg::eventFilter(QObject* watched, QEvent* event) {
  // A double click on the title area maximises, as on a system title bar.
  if (watched == titleArea_ && event->type() == QEvent::MouseButtonDblClick) {
    ToggleMaximised();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void CSalvageDlg::ToggleMaximised() {
  if (isMaximized()) {
    showNormal();
  } else {
    showMaximized();
  }
}

void CSalvageDlg::OpenOptions() {
  COptionDlg dialog(AppSettings(), this);
  dialog.exec();
}

void CSalvageDlg::ShowHelp() {
  CInfoDlg dialog(QStringLiteral("helpDialog"), Translate(QStringLiteral("IDS_MENU_DIALOG_HELP")),
                  CInfoDlg::HelpHtml(AppSettings().BackupsFolder(), AppSettings().recoveryFolder), this);
  dialog.exec();
}

void CSalvageDlg::ShowAbout() {
  CInfoDlg dialog(QStringLiteral("aboutDialog"), Translate(QStringLiteral("IDS_MENU_DIALOG_ABOUT")),
                  CInfoDlg::AboutHtml(QStringLiteral(QUARRY_VERSION_TEXT)), this);
  dialog.exec();
}

void CSalvageDlg::CheckForItunes() {
  if (EndProcessesNamed(QStringLiteral("iTunes.exe")) > 0) {
    itunesTimer_->stop();
    InformUser(this, Translate(QStringLiteral("IDS_APP_NAME")),
                             Translate(QStringLiteral("IDS_ITUNES_ENDED")));
    itunesTimer_->start();
  }
}

}  // namespace quarry
