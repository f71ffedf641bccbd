#include "quarry/pages/password_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"

namespace quarry {

CPasswordDlg::CPasswordDlg(const QString& backupName, const QString& message, views::PasswordChecker checker,
                           QWidget* parent)
    : QDialog(parent), checker_(std::move(checker)), edit_(new QLineEdit(this)), message_(new QLabel(message, this)) {
  setObjectName(QStringLiteral("passwordDialog"));
  setWindowTitle(Translate(QStringLiteral("IDS_PASSWORD_CAPTION")));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  // Lines appear and go (a reason, the busy line): the dialog grows with them, never clips them.
  layout->setSizeConstraint(QLayout::SetMinimumSize);
  auto* caption = new QLabel(Translate(QStringLiteral("IDS_PASSWORD_CAPTION")), this);
  caption->setObjectName(QStringLiteral("passwordCaption"));
  layout->addWidget(caption);
  auto* name = new QLabel(backupName, this);
  name->setTextFormat(Qt::PlainText);
  layout->addWidget(name);
  // People type the phone's passcode here; say which password is meant.
  auto* hint = new QLabel(Translate(QStringLiteral("IDS_PASSWORD_HINT")), this);
  hint->setObjectName(QStringLiteral("passwordHint"));
  hint->setWordWrap(true);
  layout->addWidget(hint);
  message_->setObjectName(QStringLiteral("passwordMessage"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("color: #c0392b;"));
  message_->setVisible(!message.isEmpty());
  layout->addWidget(message_);
  edit_->setObjectName(QStringLiteral("passwordEdit"));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMinimumWidth(320);
  layout->addWidget(edit_);
  // Shown while the key is derived, which takes a while for newer backups.
  busy_ = new QLabel(Translate(QStringLiteral("IDS_PASSWORD_CHECKING")), this);
  busy_->setObjectName(QStringLiteral("passwordBusy"));
  busy_->setWordWrap(true);
  busy_->hide();
  layout->addWidget(busy_);
  busyBar_ = new QProgressBar(this);
  busyBar_->setObjectName(QStringLiteral("passwordBusyBar"));
  busyBar_->setRange(0, 0);  // no measure of how far: a moving bar
  busyBar_->setTextVisible(false);
  busyBar_->hide();
  layout->addWidget(busyBar_);
  auto* buttons = new QDialogButtonBox(this);
  ok_ = buttons->addButton(Translate(QStringLiteral("IDS_OPTION_DLG_BTN_OK")), QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("passwordOk"));
  ok_->setDefault(true);
  QPushButton* cancel = buttons->addButton(Translate(QStringLiteral("IDS_PASSWORD_BTN_CANCEL")), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("passwordCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CPasswordDlg::reject);
  layout->addWidget(buttons);
  poll_ = new QTimer(this);
  poll_->setInterval(50);
  connect(poll_, &QTimer::timeout, this, &CPasswordDlg::Poll);
  edit_->setFocus();
}

CPasswordDlg::~CPasswordDlg() {
  if (job_) job_->Abandon();
  // Do not leave the typed text in the widget's buffer longer than needed.
  edit_->clear();
}

void CPasswordDlg::accept() {
  if (Checking()) return;
  if (edit_->text().isEmpty()) {
    message_->setText(Translate(QStringLiteral("ITUNES_PWD_EMPTY")));
    message_->show();
    adjustSize();
    return;
  }
  if (!checker_) return;
  job_ = checker_(edit_->text());
  // The job holds its own copy now.
  edit_->clear();
  SetChecking(true);
  poll_->start();
}

void CPasswordDlg::reject() {
  if (job_) {
    // The derivation cannot be cut short; it ends on its worker and its result is dropped.
    job_->Abandon();
    job_.reset();
  }
  poll_->stop();
  SetChecking(false);
  QDialog::reject();
}

void CPasswordDlg::Poll() {
  if (!job_ || !job_->Done()) return;
  outcome_ = job_->Take();
  job_.reset();
  poll_->stop();
  SetChecking(false);
  QDialog::accept();
}

void CPasswordDlg::SetChecking(bool checking) {
  edit_->setEnabled(!checking);
  ok_->setEnabled(!checking);
  busy_->setVisible(checking);
  busyBar_->setVisible(checking);
  adjustSize();
}

std::optional<views::PasswordOutcome> CPasswordDlg::Ask(QWidget* parent, const QString& backupName,
                                                        const QString& message, const views::PasswordChecker& checker) {
  CPasswordDlg dialog(backupName, message, checker, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Outcome();
}

}  // namespace quarry
