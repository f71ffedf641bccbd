// The Quarry program: the window, or with --recover the recovery without one.
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <string>

#include "quarry/app/headless_recovery.h"
#include "quarry/app/salvage_app.h"
#include "sieve/private_cleanup.h"
#include "sieve/time_zone.h"

namespace {

std::string Usage() {
  return "usage: quarry [--backups DIR] [--utc]\n"
         "       quarry --help | --version\n"
         "  --backups DIR: the folder of backups the window lists (default\n"
         "        $XDG_DATA_HOME/MobileSync/Backup, else ~/.local/share/MobileSync/Backup)\n"
         "\nWithout a window:\n"
         "       " +
         quarry::app::HeadlessUsage();
}

// --help and --version are answered before Qt starts: a window program aborts
// without a display before it reads its arguments.
bool AnswersAtOnce(int argc, char** argv, int& status) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Usage().c_str(), stdout);
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs("quarry " QUARRY_VERSION_TEXT "\n", stdout);
    } else {
      continue;
    }
    status = std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  if (AnswersAtOnce(argc, argv, status)) return status;
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
