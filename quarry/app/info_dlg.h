// The Help and About dialogs of the main window's menu.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QTextBrowser;

namespace quarry {

// One library Quarry uses: its name, version (at run time where the library
// tells it) and licence.
struct LibraryInfo {
  QString Name;
  QString Version;
  QString Licence;
};
QList<LibraryInfo> UsedLibraries();

// A dialog of rich text with a Close button; Help and About differ in their text.
class CInfoDlg : public QDialog {
  Q_OBJECT

 public:
  CInfoDlg(const QString& objectName, const QString& title, const QString& html, QWidget* parent = nullptr);
  QTextBrowser* Browser() const { return browser_; }

  // How to get a backup, what each mode does, where files go.
  static QString HelpHtml(const QString& backupsFolder, const QString& recoveryFolder);
  // Version, licence and the libraries with their versions.
  static QString AboutHtml(const QString& version);

 private:
  QTextBrowser* browser_;
};

}  // namespace quarry
