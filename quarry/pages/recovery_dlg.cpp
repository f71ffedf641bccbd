#include "quarry/pages/recovery_dlg.h"

#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "quarry/app/rb_dictionary.h"

namespace quarry {

namespace {

constexpr int kPollMs = 100;

// The dialog's English texts, for a program started without its dictionary;
// the summary needs its three places in any case.
QString English(const QString& key) {
  static const QHash<QString, QString> texts = {
      {QStringLiteral("IDS_DIALOG_RECOVER_TITLE"), QStringLiteral("Recovering")},
      {QStringLiteral("IDS_RECOVERY_DLG_RUNNING"), QStringLiteral("Writing the checked items...")},
      {QStringLiteral("IDS_RECOVERY_DLG_CANCELLING"), QStringLiteral("Cancelling after the current file...")},
      {QStringLiteral("IDS_RECOVERY_DLG_CANCELLED"), QStringLiteral("Recovery cancelled. Files written so far are kept.")},
      {QStringLiteral("IDS_RECOVERY_DLG_DONE"), QStringLiteral("Recovery finished.")},
      {QStringLiteral("IDS_RECOVERY_DLG_FAILED"), QStringLiteral("Recovery finished, but some files could not be written.")},
      {QStringLiteral("IDS_RECOVERY_DLG_SUMMARY"), QStringLiteral("Written: %1   Skipped: %2   Failed: %3")},
      {QStringLiteral("IDS_RECOVERY_DLG_FAILED_LIST"), QStringLiteral("Not written:")},
      {QStringLiteral("IDS_RECOVERY_DLG_SKIPPED_LIST"), QStringLiteral("Skipped (source missing):")},
      {QStringLiteral("IDS_RECOVERY_DLG_CANCEL"), QStringLiteral("Cancel")},
      {QStringLiteral("IDS_RECOVERY_DLG_CLOSE"), QStringLiteral("Close")},
      {QStringLiteral("IDS_RECOVERY_DLG_OPEN_FOLDER"), QStringLiteral("Open folder")},
  };
  return texts.value(key, key);
}

QString Text(const char* key) {
  const QString k = QLatin1String(key);
  const QString text = Translate(k);
  return text.isEmpty() || text == k ? English(k) : text;
}

QString SummaryLine(const views::ExportReport& report) {
  QString format = Text("IDS_RECOVERY_DLG_SUMMARY");
  if (!format.contains(QLatin1String("%3"))) format = English(QStringLiteral("IDS_RECOVERY_DLG_SUMMARY"));
  return format.arg(report.Written.size()).arg(report.Skipped.size()).arg(report.Failed.size());
}

}  // namespace

CRecoveryDlg::CRecoveryDlg(QString folder, std::vector<std::unique_ptr<views::CategoryExport>> exports,
                           QWidget* parent)
    : QDialog(parent), run_(std::make_unique<views::RecoveryRun>(std::move(folder), std::move(exports))) {
  setObjectName(QStringLiteral("recoveryDialog"));
  setWindowTitle(Text("IDS_DIALOG_RECOVER_TITLE"));
  setModal(true);
  status_ = new QLabel(Text("IDS_RECOVERY_DLG_RUNNING"), this);
  status_->setObjectName(QStringLiteral("recoveryStatus"));
  status_->setWordWrap(true);
  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("recoveryProgress"));
  progress_->setRange(0, 100);
  progress_->setValue(0);
  failures_ = new QPlainTextEdit(this);
  failures_->setObjectName(QStringLiteral("recoveryFailures"));
  failures_->setReadOnly(true);
  failures_->hide();
  cancel_ = new QPushButton(Text("IDS_RECOVERY_DLG_CANCEL"), this);
  cancel_->setObjectName(QStringLiteral("recoveryCancel"));
  cancel_->setAutoDefault(false);
  connect(cancel_, &QPushButton::clicked, this, [this] {
    if (finished_) {
      done(summary_.Cancelled ? QDialog::Rejected : QDialog::Accepted);
    } else {
      reject();
    }
  });

  openFolder_ = new QPushButton(Text("IDS_RECOVERY_DLG_OPEN_FOLDER"), this);
  openFolder_->setObjectName(QStringLiteral("recoveryOpenFolder"));
  openFolder_->setAutoDefault(false);
  openFolder_->hide();
  connect(openFolder_, &QPushButton::clicked, this, [this] {
    if (opener_) opener_(summary_.Folder);
  });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(openFolder_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status_);
  layout->addWidget(progress_);
  layout->addWidget(failures_, 1);
  layout->addLayout(buttons);
  resize(460, 160);

  poll_ = new QTimer(this);
  poll_->setInterval(kPollMs);
  connect(poll_, &QTimer::timeout, this, &CRecoveryDlg::Poll);
}

CRecoveryDlg::~CRecoveryDlg() {
  if (worker_.joinable()) {
    run_->Cancel();
    worker_.join();
  }
}

int CRecoveryDlg::Percent() const { return run_->Percent(); }

QString CRecoveryDlg::StatusText() const { return status_->text(); }

QString CRecoveryDlg::FailureText() const { return failures_->toPlainText(); }

void CRecoveryDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) Start();
  if (!finished_) poll_->start();
}

void CRecoveryDlg::hideEvent(QHideEvent* event) {
  poll_->stop();
  QDialog::hideEvent(event);
}

void CRecoveryDlg::closeEvent(QCloseEvent* event) {
  // The title bar's close button while the run goes on means cancel; the
  // dialog stays until the worker returned and the summary is shown.
  if (!finished_) {
    event->ignore();
    reject();
    return;
  }
  QDialog::closeEvent(event);
}

void CRecoveryDlg::Start() {
  started_ = true;
  views::RecoveryRun* run = run_.get();
  // The worker touches only the run; its result comes back queued, and a
  // queued call to a destroyed dialog is dropped (the destructor joins first).
  worker_ = std::thread([this, run] {
    views::RecoverySummary summary = run->Run();
    QMetaObject::invokeMethod(this, [this, summary] { OnRunEnded(summary); }, Qt::QueuedConnection);
  });
}

void CRecoveryDlg::Poll() { progress_->setValue(std::clamp(run_->Percent(), 0, 100)); }

void CRecoveryDlg::reject() {
  if (finished_) {
    QDialog::reject();
    return;
  }
  if (cancelRequested_) return;
  cancelRequested_ = true;
  run_->Cancel();
  status_->setText(Text("IDS_RECOVERY_DLG_CANCELLING"));
  cancel_->setEnabled(false);
}

void CRecoveryDlg::OnRunEnded(const views::RecoverySummary& summary) {
  // Run() has returned, so this join is immediate.
  if (worker_.joinable()) worker_.join();
  poll_->stop();
  summary_ = summary;
  finished_ = true;
  Poll();

  const views::ExportReport& report = summary_.Report;
  const QString counts = SummaryLine(report);
  const char* headline = summary_.Cancelled        ? "IDS_RECOVERY_DLG_CANCELLED"
                         : !report.Failed.isEmpty() ? "IDS_RECOVERY_DLG_FAILED"
                                                    : "IDS_RECOVERY_DLG_DONE";
  status_->setText(Text(headline) + QLatin1Char('\n') + counts + QLatin1Char('\n') +
                   QDir::toNativeSeparators(summary_.Folder));
  if (!report.Failed.isEmpty() || !report.Skipped.isEmpty()) {
    QStringList lines;
    if (!report.Failed.isEmpty()) lines << Text("IDS_RECOVERY_DLG_FAILED_LIST") << report.Failed;
    if (!report.Skipped.isEmpty()) lines << Text("IDS_RECOVERY_DLG_SKIPPED_LIST") << report.Skipped;
    failures_->setPlainText(lines.join(QLatin1Char('\n')));
    failures_->show();
    resize(width(), std::max(height(), 320));
  }
  openFolder_->setVisible(opener_ && !report.Written.isEmpty() && QDir(summary_.Folder).exists());
  cancel_->setText(Text("IDS_RECOVERY_DLG_CLOSE"));
  cancel_->setEnabled(true);
  cancel_->setDefault(true);
  emit recoveryFinished();
}

}  // namespace quarry
