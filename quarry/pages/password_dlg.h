// Asks for the password of one encrypted backup: a masked field, the reason
// of an earlier failed try, OK and Cancel. OK starts the check away from the
// window thread; the dialog stays open and shows that it is working until the
// check ends, and Cancel abandons it. The text is held only in memory.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "quarry/views/backup_open.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quarry {

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  // message: shown above the field (an earlier wrong password); may be empty.
  CPasswordDlg(const QString& backupName, const QString& message, views::PasswordChecker checker,
               QWidget* parent = nullptr);
  ~CPasswordDlg() override;

  // The outcome of the check of the typed password, or nullopt when the user
  // cancelled, also while the check was running.
  static std::optional<views::PasswordOutcome> Ask(QWidget* parent, const QString& backupName, const QString& message,
                                                   const views::PasswordChecker& checker);

  bool Checking() const { return job_ != nullptr; }
  // Set once a check has ended and the dialog was accepted.
  const std::optional<views::PasswordOutcome>& Outcome() const { return outcome_; }

 public slots:
  void accept() override;
  void reject() override;

 private:
  void Poll();
  void SetChecking(bool checking);

  views::PasswordChecker checker_;
  std::shared_ptr<views::PasswordJob> job_;
  std::optional<views::PasswordOutcome> outcome_;
  QLineEdit* edit_;
  QLabel* message_;
  QLabel* busy_ = nullptr;
  QProgressBar* busyBar_ = nullptr;
  QPushButton* ok_ = nullptr;
  QTimer* poll_ = nullptr;
};

}  // namespace quarry
