#include "quarry/app/info_dlg.h"

#include <openssl/crypto.h>
#include <sqlite3.h>
#include <zlib.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "quarry/app/rb_dictionary.h"

namespace quarry {

namespace {

QString Tr(const char* key) { return Translate(QString::fromLatin1(key)); }

QString Section(const char* headKey, const QString& body) {
  return QStringLiteral("<h3>%1</h3><p>%2</p>").arg(Tr(headKey), body);
}

QString Path(const QString& path) { return QStringLiteral("<code>%1</code>").arg(QDir::toNativeSeparators(path).toHtmlEscaped()); }

}  // namespace

QList<LibraryInfo> UsedLibraries() {
  return {
      {QStringLiteral("Qt"), QString::fromLatin1(qVersion()), QStringLiteral("LGPL-3.0")},
      {QStringLiteral("SQLite"), QString::fromLatin1(sqlite3_libversion()), QStringLiteral("public domain")},
      {QStringLiteral("OpenSSL"), QString::fromLatin1(OpenSSL_version(OPENSSL_VERSION)), QStringLiteral("Apache-2.0")},
      // libplist does not tell its version at run time: the one built against.
      {QStringLiteral("libplist"), QStringLiteral(QUARRY_PLIST_VERSION), QStringLiteral("LGPL-2.1")},
      {QStringLiteral("zlib"), QString::fromLatin1(zlibVersion()), QStringLiteral("zlib")},
  };
}

CInfoDlg::CInfoDlg(const QString& objectName, const QString& title, const QString& html, QWidget* parent)
    : QDialog(parent), browser_(new QTextBrowser(this)) {
  setObjectName(objectName);
  setWindowTitle(title);
  setModal(true);
  browser_->setObjectName(QStringLiteral("infoText"));
  browser_->setOpenExternalLinks(true);
  browser_->setHtml(html);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(Tr("IDS_RECOVERY_DLG_CLOSE"), QDialogButtonBox::AcceptRole);
  close->setObjectName(QStringLiteral("infoClose"));
  close->setDefault(true);
  close->setFocus();  // Enter or Esc closes; the text is read with the mouse or after a Tab
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_, 1);
  layout->addWidget(buttons);
  resize(620, 520);
}

QString CInfoDlg::HelpHtml(const QString& backupsFolder, const QString& recoveryFolder) {
  QString html;
  html += Section("IDS_HELP_BACKUP_HEAD",
                  Tr("IDS_HELP_BACKUP_TEXT").arg(QStringLiteral("<code>idevicebackup2 backup --full DIR</code>")));
  html += Section("IDS_HELP_WHERE_HEAD", Tr("IDS_HELP_WHERE_TEXT").arg(Path(backupsFolder)));
  // The modes by the names their buttons on the home page carry.
  html += Section("IDS_HELP_MODES_HEAD", Tr("IDS_HELP_MODES_TEXT").arg(Tr("IDS_HOME_BUTTON_ITUNES"), Tr("IDS_HOME_BUTTON_DEVICE")));
  html += Section("IDS_HELP_PASSWORD_HEAD", Tr("IDS_HELP_PASSWORD_TEXT"));
  html += Section("IDS_HELP_FILES_HEAD", Tr("IDS_HELP_FILES_TEXT").arg(Path(recoveryFolder)));
  return html;
}

QString CInfoDlg::AboutHtml(const QString& version) {
  QString rows;
  for (const LibraryInfo& library : UsedLibraries()) {
    rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                .arg(library.Name, library.Version.toHtmlEscaped(), library.Licence);
  }
  return QStringLiteral("<h2>%1</h2><p>%2</p><p>%3</p><p>%4</p>"
                        "<table cellpadding='4'><tr><th align='left'>%5</th><th align='left'>%6</th>"
                        "<th align='left'>%7</th></tr>%8</table>")
      .arg(Tr("IDS_APP_NAME"), Tr("IDS_ABOUT_VERSION").arg(version), Tr("IDS_ABOUT_TEXT"), Tr("IDS_ABOUT_LICENCE"),
           Tr("IDS_ABOUT_LIBRARY"), Tr("IDS_ABOUT_LIBRARY_VERSION"), Tr("IDS_ABOUT_LIBRARY_LICENCE"), rows);
}

}  // namespace quarry
