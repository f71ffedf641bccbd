#include "quarry/controls/message_box.h"
#include "quarry/app/option_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"

namespace quarry {

COptionDlg::COptionDlg(CSalvageSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("optionDialog"));
  setWindowTitle(QStringLiteral("IDS_OPTION_DLG_CAPTION_NAME"));
  inform = [this](const QString& text) { InformUser(this, windowTitle(), text); };

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(22, 18, 22, 18);
  grid->setVerticalSpacing(12);
  auto* heading = new QLabel(QStringLiteral("IDS_OPTION_DLG_SETTING"), this);
  heading->setObjectName(QStringLiteral("dialogHeading"));
  grid->addWidget(heading, 0, 0, 1, 3);

  openFolder_ = new QCheckBox(QStringLiteral("IDS_OPTION_DLG_OPENFOLDER"), this);
  openFolder_->setChecked(settings.autoOpen != 0);
  grid->addWidget(openFolder_, 1, 0, 1, 3);

  grid->addWidget(new QLabel(QStringLiteral("IDS_OPTION_DLG_SELECTLANG"), this), 2, 0);
  languages_ = new QComboBox(this);
  // Only languages whose dictionary ships with the program.
  for (const int index : settings.AvailableLanguages()) {
    languages_->addItem(Translate(CSalvageSettings::LanguageCaptionKeys().at(index)), index);
  }
  languages_->setCurrentIndex(std::max(0, languages_->findData(settings.language)));
  grid->addWidget(languages_, 2, 1, 1, 2);

  grid->addWidget(new QLabel(QStringLiteral("IDS_OPTION_DLG_RECOVERY_PATH"), this), 3, 0);
  folder_ = new QLineEdit(settings.recoveryFolder, this);
  folder_->setMinimumWidth(280);
  grid->addWidget(folder_, 3, 1);
  browse_ = new QPushButton(QStringLiteral("IDS_OPTION_DLG_BROWSE"), this);
  grid->addWidget(browse_, 3, 2);

  auto* where = new QLabel(this);
  where->setObjectName(QStringLiteral("settingsPlace"));
  where->setText(Translate(QStringLiteral("IDS_OPTION_DLG_SETTINGS_FILE")).arg(settings.SettingsPath()));
  where->setWordWrap(true);
  grid->addWidget(where, 4, 0, 1, 3);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("IDS_OPTION_DLG_BTN_OK"), this);
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("IDS_OPTION_DLG_BTN_CANCEL"), this);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  grid->addLayout(buttons, 5, 0, 1, 3);

  connect(ok_, &QPushButton::clicked, this, &COptionDlg::accept);
  connect(cancel_, &QPushButton::clicked, this, &COptionDlg::reject);
  connect(browse_, &QPushButton::clicked, this, &COptionDlg::Browse);
  TranslateWindowTree(this);
}

void COptionDlg::Browse() {
  const QString chosen = QFileDialog::getExistingDirectory(this, Translate(QStringLiteral("IDS_OPTION_DLG_RECOVERY_PATH")),
                                                           QFileInfo(folder_->text()).isDir() ? folder_->text() : QString());
  if (!chosen.isEmpty()) folder_->setText(chosen);
}

void COptionDlg::accept() {
  const int selected = languages_->currentData().isValid() ? languages_->currentData().toInt() : settings_.language;
  if (selected != settings_.language) {
    // The texts in use stay; the new language applies at the next start.
    languageChanged_ = true;
    inform(Translate(QStringLiteral("IDS_RESTART_PROGRAME")));
  }
  settings_.language = selected;
  settings_.autoOpen = openFolder_->isChecked() ? 1 : 0;
  const QString folder = folder_->text().trimmed();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) settings_.recoveryFolder = QFileInfo(folder).absoluteFilePath();
  if (!settings_.Save()) {
    inform(Translate(QStringLiteral("IDS_OPTION_DLG_SAVE_FAILED")).arg(settings_.SettingsPath()));
  }
  QDialog::accept();
}

}  // namespace quarry
