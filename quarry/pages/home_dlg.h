// The home page: choose between device mode and backup-file mode.
#pragma once

#include "quarry/pages/function_dlg.h"

namespace quarry {

class CImageButton;

class CHomeDlg : public CFunctionDlg {
  Q_OBJECT

 public:
  explicit CHomeDlg(QWidget* parent = nullptr);
  void InitPage() override;

  CImageButton* deviceButton() const { return deviceButton_; }
  CImageButton* fileButton() const { return fileButton_; }
  // The device page for a device state (0 none, 1 trusted, 2 waiting for trust).
  static int DevicePageFor(int deviceState);

 signals:
  void deviceModeChosen();

 private:
  CImageButton* deviceButton_ = nullptr;
  CImageButton* fileButton_ = nullptr;
};

}  // namespace quarry
