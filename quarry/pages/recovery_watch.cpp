#include "quarry/pages/recovery_watch.h"

#include <QCoreApplication>
#include <QPointer>

namespace quarry {

RecoveryWatch::RecoveryWatch(QObject* parent) : QObject(parent) {
  const tether::DeviceError error = watcher_.Start([this](const tether::RecoveryDevice&, bool) {
    // libusb's thread: only a queued call may cross to the window thread. A call
    // still queued when this object goes away is dropped with it.
    QMetaObject::invokeMethod(this, [this] { emit devicesChanged(); }, Qt::QueuedConnection);
  });
  if (error) startError_ = QString::fromStdString(error.text);
}

RecoveryWatch::~RecoveryWatch() { watcher_.Stop(); }

RecoveryWatch* RecoveryWatch::Shared() {
  static QPointer<RecoveryWatch> shared;
  if (shared.isNull()) shared = new RecoveryWatch(QCoreApplication::instance());
  return shared;
}

}  // namespace quarry
