#include "quarry/pages/device_diag_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/fit_height.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/page_ids.h"

namespace quarry {

namespace {

QString Text(const char* key) { return Translate(QLatin1String(key)); }

}  // namespace

CDeviceDiagDlg::CDeviceDiagDlg(QWidget* parent, Gatherer gather) : QDialog(parent), gather_(std::move(gather)) {
  setObjectName(QStringLiteral("deviceDiagnostics"));
  setWindowTitle(Text("IDS_DIAG_CAPTION"));
  setMinimumWidth(600);
  auto* layout = new QVBoxLayout(this);
  title_ = new QLabel(this);
  title_->setObjectName(QStringLiteral("dialogHeading"));
  title_->setWordWrap(true);
  advice_ = new QLabel(this);
  advice_->setObjectName(QStringLiteral("diagAdvice"));
  advice_->setWordWrap(true);
  // Commands in the advice are meant to be copied.
  advice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_ = new QLabel(this);
  details_->setObjectName(QStringLiteral("settingsPlace"));
  details_->setWordWrap(true);
  details_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(title_);
  layout->addWidget(advice_);
  layout->addSpacing(8);
  layout->addWidget(details_);
  layout->addStretch(1);

  auto* buttons = new QHBoxLayout;
  recovery_ = new QPushButton(Text("IDS_DIAG_OPEN_RECOVERY"), this);
  recovery_->setObjectName(QStringLiteral("diagRecovery"));
  recovery_->setVisible(false);
  again_ = new QPushButton(Text("IDS_DIAG_CHECK_AGAIN"), this);
  again_->setObjectName(QStringLiteral("diagAgain"));
  auto* close = new QPushButton(Text("IDS_DIAG_CLOSE"), this);
  close->setObjectName(QStringLiteral("diagClose"));
  close->setDefault(true);
  buttons->addWidget(recovery_);
  buttons->addStretch(1);
  buttons->addWidget(again_);
  buttons->addWidget(close);
  layout->addLayout(buttons);

  connect(again_, &QPushButton::clicked, this, &CDeviceDiagDlg::Check);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(recovery_, &QPushButton::clicked, this, [this] {
    emit PageBus::Of(parentWidget() != nullptr ? parentWidget() : this)->showPage(page::kRecoveryMode);
    accept();
  });
  Check();
}

CDeviceDiagDlg::~CDeviceDiagDlg() {
  if (worker_.joinable()) worker_.join();
}

void CDeviceDiagDlg::Check() {
  if (checking_) return;
  if (worker_.joinable()) worker_.join();
  checking_ = true;
  again_->setEnabled(false);
  title_->setText(Text("IDS_DIAG_CHECKING"));
  worker_ = std::thread([this] {
    const views::DiagnosticsFacts facts = gather_();
    const views::DiagnosticsReport report =
        views::ExplainDiagnostics(facts, [](const QString& key) { return Translate(key); });
    // The destructor joins this thread first, so the dialog is still there when
    // the call is queued; a call still queued when it goes away is dropped.
    QMetaObject::invokeMethod(this, [this, report] { Show(report); }, Qt::QueuedConnection);
  });
}

void CDeviceDiagDlg::Show(const views::DiagnosticsReport& report) {
  report_ = report;
  checking_ = false;
  again_->setEnabled(true);
  title_->setText(report.title);
  advice_->setText(report.advice);
  details_->setText(report.details.join(QLatin1Char('\n')));
  recovery_->setVisible(report.action == views::DiagnosticsReport::Action::RecoveryPages);
  FitHeightToText(this);
}

void ShowDeviceDiagnostics(QWidget* parent) {
  CDeviceDiagDlg dialog(parent != nullptr ? parent->window() : nullptr);
  dialog.exec();
}

}  // namespace quarry
