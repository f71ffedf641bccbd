// Start-up of the window program: paths, settings, dictionary, style, and the
// main window for the program's whole run.
#pragma once

#include <QString>
#include <QStringList>

namespace quarry {

struct WindowOptions {
  QString backupsFolder;      // --backups DIR
  QString screenshotFolder;   // --screenshot-walk DIR (tools/screenshots)
  QString language;           // --language CODE: this run only, the settings keep theirs
  bool ok = true;
  QString error;
};

// Reads the window program's options (without the program name).
WindowOptions ParseWindowOptions(const QStringList& arguments);

class CSalvageApp {
 public:
  // Runs the window program; returns the exit status.
  static int Run(int argc, char** argv);
};

}  // namespace quarry
