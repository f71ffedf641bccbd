// The device pages: thin widgets over the window-free device flow, which
// decides what comes next. Each page tells the flow when it is shown and
// shows what the flow holds.
#pragma once

#include "quarry/pages/backup_password.h"
#include "quarry/pages/function_dlg.h"
#include "quarry/views/device_flow.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quarry {

class CBusySpinner;

class CDevicePage : public CFunctionDlg {
  Q_OBJECT

 public:
  explicit CDevicePage(views::DeviceFlow* flow, QWidget* parent = nullptr);
  void OnShowPage() override;

 protected:
  // Shows what the flow holds now.
  virtual void Refresh() {}
  views::DeviceFlow* flow() const { return flow_; }

 private:
  views::DeviceFlow* flow_;
};

// No device: how to attach one, and the way to the device diagnostics.
class CNotConnectDlg : public CDevicePage {
  Q_OBJECT

 public:
  using CDevicePage::CDevicePage;
  void InitPage() override;

 signals:
  // The user asks why no device is seen.
  void diagnosticsRequested();
};

// The trust check runs.
class CConnectingDlg : public CDevicePage {
  Q_OBJECT

 public:
  using CDevicePage::CDevicePage;
  void InitPage() override;

 protected:
  void Refresh() override;

 private:
  QProgressBar* bar_ = nullptr;
};

// The device waits for the user to trust this computer, and says why.
class CTrustConnectDlg : public CDevicePage {
  Q_OBJECT

 public:
  using CDevicePage::CDevicePage;
  void InitPage() override;
  QString ReasonText() const;

 protected:
  void Refresh() override;

 private:
  QLabel* reason_ = nullptr;
};

// A trusted device: its name, Scan and the way to recovery-mode help.
class CConnectedDlg : public CDevicePage {
  Q_OBJECT

 public:
  using CDevicePage::CDevicePage;
  void InitPage() override;
  QString DeviceText() const;

 protected:
  void Refresh() override;

 private:
  QLabel* device_ = nullptr;
  QPushButton* recovery_ = nullptr;
};

// The device's backup: progress, the passcode notice, Stop; then the
// password of an encrypted backup.
class CAnalysisDlg : public CDevicePage {
  Q_OBJECT

 public:
  explicit CAnalysisDlg(views::DeviceFlow* flow, QWidget* parent = nullptr);
  void InitPage() override;
  // Replaceable so scripted runs need no modal dialog.
  void SetPasswordPrompt(PasswordPrompt prompt) { prompt_ = std::move(prompt); }

  QProgressBar* Bar() const { return bar_; }
  QString PercentText() const;
  bool PasscodeNoticeShown() const;
  bool Animating() const;

 protected:
  void Refresh() override;

 private:
  PasswordPrompt prompt_;
  QLabel* device_ = nullptr;
  CBusySpinner* spinner_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* percent_ = nullptr;
  QLabel* passcode_ = nullptr;
};

}  // namespace quarry
