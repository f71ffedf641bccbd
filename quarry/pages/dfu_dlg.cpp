#include "quarry/pages/dfu_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/message_box.h"
#include "quarry/pages/device_diag_dlg.h"
#include "quarry/pages/dfu_pro_dlg.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"
#include "quarry/pages/recovery_watch.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QLatin1String(key)); }

// A link-styled label that reports its id; the diagnostics link has no id of its own.
constexpr int kDiagnosticsLink = 12347;

QLabel* Link(QWidget* parent, const char* key, int linkId, const std::function<void(int)>& onClick) {
  auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(linkId).arg(Text(key).toHtmlEscaped()), parent);
  link->setObjectName(QStringLiteral("dfuLink%1").arg(linkId));
  link->setTextFormat(Qt::RichText);
  QObject::connect(link, &QLabel::linkActivated, parent, [onClick](const QString& id) { onClick(id.toInt()); });
  return link;
}

QLabel* Wrapped(QWidget* parent, const QString& text, const char* objectName) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(objectName));
  label->setWordWrap(true);
  return label;
}

}  // namespace

CDfuDlg::CDfuDlg(QWidget* parent) : CFunctionDlg(parent) {
  setObjectName(QStringLiteral("recoveryModePage"));
  tell_ = [this](const QString& text) { InformUser(this, Text("IDS_APP_NAME"), text); };
  repair_ = [this](const tether::RecoveryDevice& device) {
    CDfuProDlg dialog(device, CDfuProDlg::DefaultCacheFolder(), window());
    // The phone restarts into its system: the device pages take it from there.
    connect(&dialog, &CDfuProDlg::repaired, this, [this] { emit PageBus::Of(this)->showPage(page::kNoDevice); });
    dialog.exec();
  };
  exit_ = [](std::uint64_t ecid) { return tether::ExitRecovery(ecid); };
  ticker_.setInterval(1000);
  connect(&ticker_, &QTimer::timeout, this, &CDfuDlg::Tick);
}

CDfuDlg::~CDfuDlg() {
  if (exitWorker_.joinable()) exitWorker_.join();
}

void CDfuDlg::SetDetector(Detector detector) { detect_ = std::move(detector); }

void CDfuDlg::InitPage() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 24, 48, 24);
  layout->setSpacing(12);
  auto* heading = Wrapped(this, Text("IDS_DFU_DIALOG_HEADING"), "pageHeading");
  layout->addWidget(heading);

  stepsPanel_ = new QWidget(this);
  auto* steps = new QVBoxLayout(stepsPanel_);
  steps->setContentsMargins(0, 0, 0, 0);
  const char* keys[] = {"IDS_DFU_DIALOG_NOTE", "IDS_DFU_DIALOG_SECOND_STEP", "IDS_DFU_DIALOG_THIRD_STEP"};
  for (int i = 0; i < 3; ++i) {
    stepLabels_[i] = Wrapped(stepsPanel_, Text(keys[i]), "dfuStep");
    steps->addWidget(stepLabels_[i]);
  }
  holdText_ = Wrapped(stepsPanel_, QString(), "dfuHold");
  steps->addWidget(holdText_);
  start_ = new QPushButton(Text("IDS_DFU_DIALOG_START_BUTTON"), stepsPanel_);
  start_->setObjectName(QStringLiteral("dfuStart"));
  steps->addWidget(start_, 0, Qt::AlignLeft);
  layout->addWidget(stepsPanel_);

  foundPanel_ = new QWidget(this);
  auto* found = new QVBoxLayout(foundPanel_);
  found->setContentsMargins(0, 0, 0, 0);
  foundText_ = Wrapped(foundPanel_, QString(), "dfuFound");
  found->addWidget(foundText_);
  auto* actions = new QHBoxLayout;
  exitButton_ = new QPushButton(Text("IDS_DFU_EXIT_BUTTON"), foundPanel_);
  exitButton_->setObjectName(QStringLiteral("dfuExit"));
  repairButton_ = new QPushButton(Text("IDS_DFU_REPAIR_BUTTON"), foundPanel_);
  repairButton_->setObjectName(QStringLiteral("dfuRepair"));
  actions->addWidget(exitButton_);
  actions->addWidget(repairButton_);
  actions->addStretch(1);
  found->addLayout(actions);
  layout->addWidget(foundPanel_);
  layout->addStretch(1);

  auto* links = new QHBoxLayout;
  const auto onLink = [this](int id) { OnLink(id); };
  links->addWidget(Link(this, "IDS_DFU_DIALOG_BACK", kBackLink, onLink));
  links->addWidget(Link(this, "IDS_DFU_HOWEXIT", kHowToExitLink, onLink));
  links->addWidget(Link(this, "IDS_DFU_DIAGNOSTICS_LINK", kDiagnosticsLink, onLink));
  links->addStretch(1);
  layout->addLayout(links);

  connect(start_, &QPushButton::clicked, this, [this] {
    start_->setEnabled(false);
    steps_.Start();
    ShowSteps();
    ticker_.start();
  });
  connect(exitButton_, &QPushButton::clicked, this, &CDfuDlg::ExitRecovery);
  connect(repairButton_, &QPushButton::clicked, this, [this] {
    if (found_) repair_(*found_);
  });
}

void CDfuDlg::OnShowPage() {
  CFunctionDlg::OnShowPage();
  // The watcher's USB thread starts only once someone needs it.
  if (!detect_) {
    RecoveryWatch* watch = RecoveryWatch::Shared();
    detect_ = [watch] { return watch->Devices(); };
    connect(watch, &RecoveryWatch::devicesChanged, this, &CDfuDlg::OnDevicesChanged);
  }
  ticker_.stop();
  steps_.Show();
  found_.reset();
  start_->setEnabled(true);
  // A phone already in recovery mode needs no guide.
  const std::vector<tether::RecoveryDevice> devices = detect_();
  if (!devices.empty()) {
    ShowFound(devices.front());
    return;
  }
  ShowSteps();
}

void CDfuDlg::hideEvent(QHideEvent* event) {
  CFunctionDlg::hideEvent(event);
  ticker_.stop();
  steps_.Show();
  start_->setEnabled(true);
}

void CDfuDlg::ShowSteps() {
  stepsPanel_->setVisible(true);
  foundPanel_->setVisible(false);
  const int current = static_cast<int>(steps_.step());
  for (int i = 0; i < 3; ++i) {
    stepLabels_[i]->setProperty("currentStep", i == current);
    stepLabels_[i]->style()->unpolish(stepLabels_[i]);
    stepLabels_[i]->style()->polish(stepLabels_[i]);
  }
  const bool holding = steps_.running() && steps_.step() != views::DfuSteps::Step::First;
  holdText_->setVisible(holding);
  if (holding) holdText_->setText(Text("IDS_DFU_DIALOG_LONG_PRESS").arg(steps_.ticks()));
}

void CDfuDlg::ShowFound(const tether::RecoveryDevice& device) {
  ticker_.stop();
  found_ = device;
  const QString label = QString::fromStdString(tether::RecoveryDeviceLabel(device));
  const bool recovery = device.mode == tether::RecoveryMode::Recovery;
  foundText_->setText(Text(recovery ? "IDS_DFU_FOUND_RECOVERY" : "IDS_DFU_FOUND_DFU").arg(label));
  // No command leaves DFU mode: only the buttons do, as the text says.
  exitButton_->setVisible(recovery);
  exitButton_->setEnabled(true);
  repairButton_->setEnabled(true);
  stepsPanel_->setVisible(false);
  foundPanel_->setVisible(true);
}

void CDfuDlg::Tick() {
  if (!detect_) return;  // not shown yet
  const std::vector<tether::RecoveryDevice> devices = detect_();
  switch (steps_.Tick(!devices.empty())) {
    case views::DfuSteps::Outcome::Found: ShowFound(devices.front()); return;
    case views::DfuSteps::Outcome::GaveUp:
      ticker_.stop();
      ShowSteps();
      start_->setEnabled(true);
      tell_(Text("IDS_DFUMODE_FAILED"));
      emit PageBus::Of(this)->showPage(page::kDeviceConnected);
      return;
    case views::DfuSteps::Outcome::Waiting: ShowSteps(); return;
  }
}

void CDfuDlg::OnDevicesChanged() {
  if (!isVisible()) return;
  const std::vector<tether::RecoveryDevice> devices = detect_();
  if (!devices.empty()) {
    steps_.Tick(true);
    ShowFound(devices.front());
  } else if (found_) {
    // The phone left (it restarted or was unplugged): back to the guide.
    OnShowPage();
  }
}

void CDfuDlg::OnLink(int linkId) {
  if (linkId == kBackLink) emit PageBus::Of(this)->showPage(page::kDeviceConnected);
  if (linkId == kHowToExitLink) emit PageBus::Of(this)->showPage(page::kRecoveryModeExit);
  if (linkId == kDiagnosticsLink) ShowDeviceDiagnostics(this);
}

void CDfuDlg::ExitRecovery() {
  if (!found_ || exitWorker_.joinable()) return;
  exitButton_->setEnabled(false);
  repairButton_->setEnabled(false);
  foundText_->setText(Text("IDS_DFU_EXITING"));
  const std::uint64_t ecid = found_->ecid;
  exitWorker_ = std::thread([this, ecid] {
    const tether::DeviceError error = exit_(ecid);
    // The destructor joins this thread first, so the page is there for the call.
    QMetaObject::invokeMethod(this, [this, error] {
      exitWorker_.join();
      repairButton_->setEnabled(true);
      if (error) {
        exitButton_->setEnabled(true);
        tell_(Text("IDS_DFU_EXIT_FAILED").arg(QString::fromStdString(error.text)));
        return;
      }
      foundText_->setText(Text("IDS_DFU_EXIT_DONE"));
    }, Qt::QueuedConnection);
  });
}

CDfuExitDlg::CDfuExitDlg(QWidget* parent) : CFunctionDlg(parent) { setObjectName(QStringLiteral("recoveryExitPage")); }

void CDfuExitDlg::InitPage() {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(48, 24, 48, 24);
  layout->setSpacing(14);
  layout->addWidget(Wrapped(this, Text("IDS_DFU_HOWEXIT"), "pageHeading"));
  layout->addWidget(Wrapped(this, Text("IDS_DFU_EXIT_HINT1"), "dfuStep"));
  layout->addWidget(Wrapped(this, Text("IDS_DFU_EXIT_HINT2"), "dfuStep"));
  layout->addStretch(1);
  // Back to the recovery-mode page, whose Exit button the first hint names.
  layout->addWidget(Link(this, "IDS_DFU_EXIT_BACK", CDfuDlg::kBackLink,
                         [this](int) { emit PageBus::Of(this)->showPage(page::kRecoveryMode); }));
}

}  // namespace quarry
