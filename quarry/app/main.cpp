// The Quarry program. For now it offers the recovery without a window.
#include <QCoreApplication>
#include <cstdio>

#include "quarry/app/headless_recovery.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Quarry"));
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  if (quarry::app::IsHeadlessRequest(arguments)) return quarry::app::RunHeadlessRecovery(arguments);
  std::fputs("quarry: the window is not built yet; use the headless form:\n"
             "  quarry --recover BACKUP --out DIR [--categories LIST] [--deleted-only] [--password-file FILE]\n",
             stderr);
  return quarry::app::kHeadlessUsage;
}
