#include "quarry/controls/style_loader.h"

#include <QApplication>
#include <QFile>

namespace quarry {

QString LoadStyleSheet() {
  QFile file(QStringLiteral(":/quarry/quarry.qss"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

void ApplyStyleSheet(QApplication& app) { app.setStyleSheet(LoadStyleSheet()); }

}  // namespace quarry
