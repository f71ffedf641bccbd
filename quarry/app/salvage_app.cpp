#include "quarry/controls/message_box.h"
#include "quarry/app/salvage_app.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <cstdio>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_dlg.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/app/screenshot_walk.h"
#include "quarry/controls/style_loader.h"

namespace quarry {

WindowOptions ParseWindowOptions(const QStringList& arguments) {
  WindowOptions options;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--utc")) continue;  // taken by main before the window starts
    QString* target = nullptr;
    if (argument == QLatin1String("--backups")) target = &options.backupsFolder;
    if (argument == QLatin1String("--screenshot-walk")) target = &options.screenshotFolder;
    if (argument == QLatin1String("--language")) {
      if (i + 1 >= arguments.size() || CSalvageSettings::LanguageIndex(arguments[i + 1]) < 0) {
        options.ok = false;
        options.error = QStringLiteral("--language needs a language code such as en, de or fr");
        return options;
      }
      options.language = arguments[++i];
      continue;
    }
    if (target == nullptr) {
      options.ok = false;
      options.error = QStringLiteral("unknown argument: ") + argument;
      return options;
    }
    if (i + 1 >= arguments.size()) {
      options.ok = false;
      options.error = argument + QStringLiteral(" needs a folder");
      return options;
    }
    *target = QDir(arguments[++i]).absolutePath();
  }
  return options;
}

int CSalvageApp::Run(int argc, char** argv) {
  // QApplication first: it takes its own options (-platform, -style) out of
  // the list before ours are read.
  QApplication app(argc, argv);
  const WindowOptions options = ParseWindowOptions(QApplication::arguments().mid(1));
  if (!options.ok) {
    std::fprintf(stderr,
                 "quarry: %s\nusage: quarry [--backups DIR] [--language CODE]\n"
                 "       quarry --recover BACKUP --out DIR [--categories LIST] [--deleted-only] [--password-file FILE]\n",
                 qPrintable(options.error));
    return 2;
  }
  QApplication::setApplicationName(QStringLiteral("Quarry"));
  QApplication::setApplicationVersion(QStringLiteral(QUARRY_VERSION_TEXT));

  CSalvageSettings& settings = AppSettings();
  settings.Locate(QApplication::applicationDirPath());
  settings.Load();
  settings.backupsFolder = options.backupsFolder;
  if (!options.language.isEmpty()) settings.language = CSalvageSettings::LanguageIndex(options.language);
  ApplyStyleSheet(app);
  LoadAppDictionary([](const QString& text) { WarnUser(nullptr, QStringLiteral("Quarry"), text); });

  CSalvageDlg window;
  window.show();
  if (!options.screenshotFolder.isEmpty()) StartScreenshotWalk(&window, options.screenshotFolder);
  return app.exec();
}

}  // namespace quarry
