// Asks for the password of one encrypted backup: a masked field, the reason
// of an earlier failed try, OK and Cancel. The text is held only in memory.
#pragma once

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;

namespace quarry {

class CPasswordDlg : public QDialog {
  Q_OBJECT

 public:
  // message: shown above the field (an earlier wrong password); may be empty.
  CPasswordDlg(const QString& backupName, const QString& message, QWidget* parent = nullptr);
  ~CPasswordDlg() override;

  // The password typed, or nullopt when the user cancelled.
  static std::optional<QString> Ask(QWidget* parent, const QString& backupName, const QString& message);

  QString Password() const;

 protected:
  void accept() override;

 private:
  QLineEdit* edit_;
  QLabel* message_;
};

}  // namespace quarry
