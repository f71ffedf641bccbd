// The program's one watcher of phones in recovery and DFU mode. libirecovery
// reports on libusb's own thread; this queues each report to the window thread
// as devicesChanged(), so pages never touch a widget from that thread.
#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "tether/device/recovery_device.h"

namespace quarry {

class RecoveryWatch : public QObject {
  Q_OBJECT

 public:
  // Made on first use (on the window thread), watching until the program ends.
  static RecoveryWatch* Shared();
  // Stops the watcher first: no report may arrive while the object goes away.
  ~RecoveryWatch() override;

  std::vector<tether::RecoveryDevice> Devices() const { return watcher_.Devices(); }
  // Why watching failed (no USB access), empty while it works.
  QString StartError() const { return startError_; }

 signals:
  void devicesChanged();

 private:
  explicit RecoveryWatch(QObject* parent);

  tether::RecoveryWatcher watcher_;
  QString startError_;
};

}  // namespace quarry
