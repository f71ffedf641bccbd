#include "quarry/pages/device_pages.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/busy_spinner.h"
#include "quarry/controls/svg_picture.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/supported_devices.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QString::fromLatin1(key)); }

QLabel* AddLabel(QVBoxLayout* column, const QString& text, const char* objectName, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(objectName));
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  column->addWidget(label);
  return label;
}

// A notice of what to do on the device. It takes the column's whole width: a
// wrapped label narrower than its layout is not given the height its lines need.
QLabel* AddNotice(QVBoxLayout* column, const QString& text, const char* objectName, QWidget* parent) {
  QLabel* notice = AddLabel(column, text, objectName, parent);
  notice->setAlignment(Qt::AlignCenter);
  return notice;
}

// The column every device page has: the device picture, a heading, and the
// supported devices at the foot (when `supported`).
QVBoxLayout* PageColumn(CFunctionDlg* page, const QString& heading, bool supported) {
  auto* outer = new QVBoxLayout(page);
  outer->setContentsMargins(64, 24, 64, 18);
  outer->setSpacing(10);
  outer->addStretch(1);
  auto* picture = new CSvgPicture(QStringLiteral(":/quarry/mode_device.svg"), QSize(96, 96), page);
  outer->addWidget(picture, 0, Qt::AlignHCenter);
  AddLabel(outer, heading, "pageHeading", page);
  auto* column = new QVBoxLayout;
  column->setSpacing(8);
  outer->addLayout(column);
  outer->addStretch(2);
  if (supported) outer->addWidget(MakeSupportedDevices(page));
  return column;
}

}  // namespace

CDevicePage::CDevicePage(views::DeviceFlow* flow, QWidget* parent) : CFunctionDlg(parent), flow_(flow) {
  connect(flow_, &views::DeviceFlow::changed, this, [this] { Refresh(); });
}

void CDevicePage::OnShowPage() {
  CFunctionDlg::OnShowPage();
  flow_->PageShown(pageId);
  Refresh();
}

void CNotConnectDlg::InitPage() {
  setObjectName(QStringLiteral("noDevicePage"));
  QVBoxLayout* column = PageColumn(this, Text("IDS_NOTCONNECT_CONNECT"), true);
  AddLabel(column, Text("IDS_NOTCONNECT_PHONE"), "deviceHint", this);
  AddLabel(column, Text("IDS_NOTCONNECT_NOTCONNECT"), "deviceHint", this);
  auto* diagnose = new QPushButton(Text("IDS_NOTCONNECT_DIAGNOSE"), this);
  diagnose->setObjectName(QStringLiteral("deviceDiagnose"));
  column->addWidget(diagnose, 0, Qt::AlignHCenter);
  connect(diagnose, &QPushButton::clicked, this, &CNotConnectDlg::diagnosticsRequested);
}

void CConnectingDlg::InitPage() {
  setObjectName(QStringLiteral("connectingPage"));
  QVBoxLayout* column = PageColumn(this, Text("IDS_CONNECTING_HINT"), false);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("connectingBar"));
  bar_->setRange(0, 100);
  bar_->setTextVisible(false);
  bar_->setMaximumWidth(420);
  column->addWidget(bar_, 0, Qt::AlignHCenter);
  bar_->setMinimumWidth(320);
}

void CConnectingDlg::Refresh() { bar_->setValue(flow()->ConnectingValue()); }

void CTrustConnectDlg::InitPage() {
  setObjectName(QStringLiteral("trustPage"));
  QVBoxLayout* column = PageColumn(this, Text("IDS_TRUSTCONNECT_CONNECT"), true);
  reason_ = AddNotice(column, QString(), "trustReason", this);
}

void CTrustConnectDlg::Refresh() { reason_->setText(flow()->TrustText()); }
QString CTrustConnectDlg::ReasonText() const { return reason_->text(); }

void CConnectedDlg::InitPage() {
  setObjectName(QStringLiteral("connectedPage"));
  QVBoxLayout* column = PageColumn(this, Text("IDS_CONNECTED_HINT"), true);
  device_ = AddLabel(column, QString(), "deviceName", this);
  AddLabel(column, Text("IDS_CONNECTED_DFUHINT"), "deviceHint", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  recovery_ = new QPushButton(Text("IDS_CONNECTED_DFUMODE"), this);
  QPushButton* recovery = recovery_;
  recovery->setObjectName(QStringLiteral("deviceRecoveryMode"));
  auto* scan = new QPushButton(Text("IDS_CONNECTED_SCAN"), this);
  scan->setObjectName(QStringLiteral("deviceScan"));
  scan->setDefault(true);
  buttons->addWidget(recovery);
  buttons->addWidget(scan);
  buttons->addStretch(1);
  column->addLayout(buttons);
  connect(scan, &QPushButton::clicked, flow(), &views::DeviceFlow::Scan);
  connect(recovery, &QPushButton::clicked, this, [this] {
    // Recovery-mode help leaves device mode: the connected page stops watching.
    flow()->PageShown(page::kRecoveryMode);
    emit PageBus::Of(this)->showPage(page::kRecoveryMode);
  });
}

void CConnectedDlg::Refresh() {
  device_->setText(flow()->DeviceText());
  // Offered only where the window holds the recovery-mode pages.
  const CFunctionDlgContainer* container = nullptr;
  for (QWidget* up = parentWidget(); up != nullptr && container == nullptr; up = up->parentWidget()) {
    container = qobject_cast<CFunctionDlgContainer*>(up);
  }
  recovery_->setVisible(container != nullptr && container->Page(page::kRecoveryMode) != nullptr);
}
QString CConnectedDlg::DeviceText() const { return device_->text(); }

CAnalysisDlg::CAnalysisDlg(views::DeviceFlow* flow, QWidget* parent)
    : CDevicePage(flow, parent), prompt_(DialogPasswordPrompt(this)) {
  flow->SetBackupOpener([this](views::ShelfBackup& backup) {
    switch (OpenForScan(this, backup, prompt_)) {
      case BackupOpening::kOpened: return views::DeviceFlow::Opening::kOpened;
      case BackupOpening::kCancelled: return views::DeviceFlow::Opening::kCancelled;
      case BackupOpening::kUnreadable: break;
    }
    return views::DeviceFlow::Opening::kUnreadable;
  });
}

void CAnalysisDlg::InitPage() {
  setObjectName(QStringLiteral("deviceBackupPage"));
  QVBoxLayout* column = PageColumn(this, Text("IDS_ANALYSIS_MOBILE"), false);
  device_ = AddLabel(column, QString(), "deviceName", this);
  AddLabel(column, Text("IDS_ANALYSIS_WAIT"), "deviceHint", this);
  spinner_ = new CBusySpinner(this);
  spinner_->setObjectName(QStringLiteral("deviceBackupAnimation"));
  column->addWidget(spinner_, 0, Qt::AlignHCenter);
  auto* progress = new QHBoxLayout;
  progress->addStretch(1);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("deviceBackupBar"));
  bar_->setRange(0, 10000);
  bar_->setTextVisible(false);
  bar_->setMinimumWidth(360);
  percent_ = new QLabel(this);
  percent_->setObjectName(QStringLiteral("deviceBackupPercent"));
  percent_->setMinimumWidth(percent_->fontMetrics().horizontalAdvance(QStringLiteral("100.00%")) + 8);
  progress->addWidget(bar_, 4);
  progress->addWidget(percent_);
  progress->addStretch(1);
  column->addLayout(progress);
  passcode_ = AddNotice(column, Text("IDS_ANALYSIS_PASSCODE"), "devicePasscode", this);
  passcode_->hide();
  auto* stop = new QPushButton(Text("IDS_ANALYSIS_STOP_BTN"), this);
  stop->setObjectName(QStringLiteral("deviceBackupStop"));
  column->addWidget(stop, 0, Qt::AlignHCenter);
  connect(stop, &QPushButton::clicked, this, [this] {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    flow()->Stop();
    QApplication::restoreOverrideCursor();
  });
}

void CAnalysisDlg::Refresh() {
  device_->setText(flow()->DeviceText());
  bar_->setValue(flow()->BackupValue());
  percent_->setText(flow()->PercentText());
  passcode_->setVisible(flow()->PasscodeRequested());
  if (flow()->BackupRunning()) {
    spinner_->Start();
  } else {
    spinner_->Stop();
  }
}

QString CAnalysisDlg::PercentText() const { return percent_->text(); }
bool CAnalysisDlg::PasscodeNoticeShown() const { return !passcode_->isHidden(); }
bool CAnalysisDlg::Animating() const { return spinner_->Turning(); }

}  // namespace quarry
