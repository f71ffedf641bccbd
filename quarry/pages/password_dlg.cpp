#include "quarry/pages/password_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"

namespace quarry {

CPasswordDlg::CPasswordDlg(const QString& backupName, const QString& message, QWidget* parent)
    : QDialog(parent), edit_(new QLineEdit(this)), message_(new QLabel(message, this)) {
  setObjectName(QStringLiteral("passwordDialog"));
  setWindowTitle(Translate(QStringLiteral("IDS_PASSWORD_CAPTION")));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* caption = new QLabel(Translate(QStringLiteral("IDS_PASSWORD_CAPTION")), this);
  caption->setObjectName(QStringLiteral("passwordCaption"));
  layout->addWidget(caption);
  auto* name = new QLabel(backupName, this);
  name->setTextFormat(Qt::PlainText);
  layout->addWidget(name);
  message_->setObjectName(QStringLiteral("passwordMessage"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("color: #c0392b;"));
  message_->setVisible(!message.isEmpty());
  layout->addWidget(message_);
  edit_->setObjectName(QStringLiteral("passwordEdit"));
  edit_->setEchoMode(QLineEdit::Password);
  edit_->setMinimumWidth(320);
  layout->addWidget(edit_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(Translate(QStringLiteral("IDS_OPTION_DLG_BTN_OK")), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("passwordOk"));
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(Translate(QStringLiteral("IDS_PASSWORD_BTN_CANCEL")), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("passwordCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CPasswordDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CPasswordDlg::reject);
  layout->addWidget(buttons);
  edit_->setFocus();
}

CPasswordDlg::~CPasswordDlg() {
  // Do not leave the typed text in the widget's buffer longer than needed.
  edit_->clear();
}

QString CPasswordDlg::Password() const { return edit_->text(); }

void CPasswordDlg::accept() {
  if (edit_->text().isEmpty()) {
    message_->setText(Translate(QStringLiteral("ITUNES_PWD_EMPTY")));
    message_->show();
    return;
  }
  QDialog::accept();
}

std::optional<QString> CPasswordDlg::Ask(QWidget* parent, const QString& backupName, const QString& message) {
  CPasswordDlg dialog(backupName, message, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Password();
}

}  // namespace quarry
