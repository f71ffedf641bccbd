// The device diagnostics dialog: why no phone shows up and what to do, from the
// usbmuxd socket, the USB bus and udev, with the versions of the device stack.
// Reachable from the menu, the no-device page and the recovery-mode page.
#pragma once

#include <QDialog>
#include <functional>
#include <thread>

#include "quarry/views/device_diagnostics.h"

class QLabel;
class QPushButton;

namespace quarry {

class CDeviceDiagDlg : public QDialog {
  Q_OBJECT

 public:
  // Looks at the computer; replaceable so tests and the screenshot walk choose the facts.
  using Gatherer = std::function<views::DiagnosticsFacts()>;

  explicit CDeviceDiagDlg(QWidget* parent = nullptr, Gatherer gather = views::GatherDiagnostics);
  // Waits for a check still running (it takes a second at most).
  ~CDeviceDiagDlg() override;

  // Checks again, away from the window thread.
  void Check();
  bool Checking() const { return checking_; }
  const views::DiagnosticsReport& Report() const { return report_; }
  QPushButton* RecoveryButton() const { return recovery_; }

 private:
  void Show(const views::DiagnosticsReport& report);

  Gatherer gather_;
  std::thread worker_;
  bool checking_ = false;
  views::DiagnosticsReport report_;
  QLabel* title_ = nullptr;
  QLabel* advice_ = nullptr;
  QLabel* details_ = nullptr;
  QPushButton* again_ = nullptr;
  QPushButton* recovery_ = nullptr;
};

// Opens the diagnostics modally over `parent`'s window. A phone in recovery or DFU
// mode gets a button to the recovery-mode page, shown through parent's page bus.
void ShowDeviceDiagnostics(QWidget* parent);

}  // namespace quarry
