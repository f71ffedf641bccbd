// The Quarry program: the window, or with --recover the recovery without one.
#include <QCoreApplication>
#include <QStringList>

#include "quarry/app/headless_recovery.h"
#include "quarry/app/salvage_app.h"
#include "sieve/private_cleanup.h"
#include "sieve/time_zone.h"

int main(int argc, char** argv) {
  // Ctrl-C in the terminal, or the session ending, must not leave decrypted copies behind.
  sieve::RemovePrivateDataOnSignal();
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
  // --utc: dates in UTC instead of the computer's zone, in the window and with --recover alike.
  const QString utc = QStringLiteral("--utc");
  if (arguments.contains(utc)) sieve::SetUtcTimes(true);
  if (quarry::app::IsHeadlessRequest(arguments)) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quarry"));
    QStringList headless = QCoreApplication::arguments().mid(1);
    headless.removeAll(utc);
    return quarry::app::RunHeadlessRecovery(headless);
  }
  return quarry::CSalvageApp::Run(argc, argv);
}
