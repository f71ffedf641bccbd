#include "quarry/pages/dfu_pro_dlg.h"

#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/fit_height.h"
#include "quarry/controls/message_box.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QLatin1String(key)); }
QString Lookup(const QString& key) { return Translate(key); }

}  // namespace

CDfuProDlg::CDfuProDlg(const tether::RecoveryDevice& device, QString cacheFolder, QWidget* parent, std::string program)
    : QDialog(parent), device_(device), cacheFolder_(std::move(cacheFolder)), program_(std::move(program)) {
  setObjectName(QStringLiteral("repairDialog"));
  setWindowTitle(Text("IDS_DFUDLG_CAPTION"));
  setMinimumWidth(600);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel(Text("IDS_DFUDLG_DEVICE").arg(QString::fromStdString(tether::RecoveryDeviceLabel(device))),
                             this);
  heading->setObjectName(QStringLiteral("dialogHeading"));
  auto* internet = new QLabel(Text("IDS_DFUDLG_NEEDS_INTERNET"), this);
  internet->setWordWrap(true);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("repairStatus"));
  status_->setWordWrap(true);
  failure_ = new QLabel(this);
  failure_->setObjectName(QStringLiteral("settingsPlace"));
  failure_->setWordWrap(true);
  failure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(heading);
  layout->addWidget(internet);
  layout->addWidget(progress_);
  layout->addWidget(status_);
  layout->addWidget(failure_);
  auto* buttons = new QHBoxLayout;
  cancel_ = new QPushButton(Text("IDS_DFUDLG_CANCEL"), this);
  cancel_->setObjectName(QStringLiteral("repairCancel"));
  close_ = new QPushButton(Text("IDS_DFUDLG_CLOSE"), this);
  close_->setObjectName(QStringLiteral("repairClose"));
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (run_ != nullptr) run_->Cancel();
  });
  connect(close_, &QPushButton::clicked, this, &CDfuProDlg::reject);

  askErase_ = [this](const QString& text) { return AskUser(this, Text("IDS_DFUDLG_CAPTION"), text); };
  tell_ = [this](const QString& text) { WarnUser(this, Text("IDS_DFUDLG_CAPTION"), text); };
  poll_.setInterval(250);
  connect(&poll_, &QTimer::timeout, this, &CDfuProDlg::Poll);
  Poll();
}

CDfuProDlg::~CDfuProDlg() {
  if (run_ != nullptr) run_->Cancel();
  if (worker_.joinable()) worker_.join();
}

QString CDfuProDlg::DefaultCacheFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/RestoreCache");
}

QString CDfuProDlg::StatusText() const { return status_->text(); }

void CDfuProDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  poll_.start();
  CheckTool();
}

void CDfuProDlg::OnWorker(std::function<void()> work) {
  if (worker_.joinable()) worker_.join();
  ended_ = false;
  worker_ = std::thread(std::move(work));
}

void CDfuProDlg::CheckTool() {
  OnWorker([this] {
    const tether::RestoreToolCheck check = tether::CheckRestoreTool(device_.productType, program_);
    // The destructor joins this thread first: the dialog outlives the queued call.
    QMetaObject::invokeMethod(this, [this, check] {
      ended_ = true;
      flow_.ToolChecked(check);
      if (closeWhenEnded_) {
        QDialog::reject();
        return;
      }
      if (flow_.state() == views::RepairFlow::State::Running) StartRun();
      Poll();
    }, Qt::QueuedConnection);
  });
}

void CDfuProDlg::StartRun() {
  QDir().mkpath(cacheFolder_);
  tether::RestoreOptions options;
  options.program = program_;
  options.cacheFolder = cacheFolder_.toStdString();
  options.ecid = device_.ecid;
  options.erase = flow_.erase();
  if (worker_.joinable()) worker_.join();
  run_ = std::make_unique<tether::RestoreRun>(options);
  OnWorker([this] {
    const tether::RestoreResult result = run_->Run();
    QMetaObject::invokeMethod(this, [this, result] { OnEnded(result); }, Qt::QueuedConnection);
  });
}

void CDfuProDlg::OnEnded(const tether::RestoreResult& result) {
  ended_ = true;
  Poll();
  flow_.Ended(result);
  if (flow_.state() == views::RepairFlow::State::AskingErase) {
    Poll();
    flow_.EraseAnswered(!closeWhenEnded_ && askErase_(Text("IDS_DFUDLG_ERASE_WARNING")));
    if (flow_.state() == views::RepairFlow::State::Running) {
      StartRun();
      return;
    }
  }
  Poll();
  if (flow_.state() == views::RepairFlow::State::Succeeded) emit repaired();
  if (closeWhenEnded_) QDialog::reject();
}

void CDfuProDlg::Poll() {
  const tether::RestoreProgress progress = run_ != nullptr ? run_->Progress() : tether::RestoreProgress{};
  const bool running = flow_.state() == views::RepairFlow::State::Running;
  progress_->setValue(flow_.state() == views::RepairFlow::State::Succeeded ? 100 : progress.percent);
  status_->setText(flow_.StatusText(progress, Lookup));
  failure_->setText(flow_.failure());
  failure_->setVisible(!flow_.failure().isEmpty());
  cancel_->setEnabled(running && progress.cancellable);
  close_->setEnabled(flow_.CanClose(progress));
  FitHeightToText(this);
}

void CDfuProDlg::reject() {
  const tether::RestoreProgress progress = run_ != nullptr ? run_->Progress() : tether::RestoreProgress{};
  if (!flow_.CanClose(progress) && !ended_) {
    tell_(Text("IDS_DFU_NOTCLOSE"));
    return;
  }
  if (!ended_) {
    // Still checking or downloading: stop it, and close once the worker is back.
    closeWhenEnded_ = true;
    if (run_ != nullptr) run_->Cancel();
    return;
  }
  QDialog::reject();
}

void CDfuProDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  reject();
}

}  // namespace quarry
