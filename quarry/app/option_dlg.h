// The settings dialog: open the folder after a recovery, language, and the
// folder that recoveries go to.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace quarry {

class CSalvageSettings;

class COptionDlg : public QDialog {
  Q_OBJECT

 public:
  COptionDlg(CSalvageSettings& settings, QWidget* parent = nullptr);

  QCheckBox* openFolderBox() const { return openFolder_; }
  QComboBox* languageList() const { return languages_; }
  QLineEdit* folderField() const { return folder_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  QPushButton* browseButton() const { return browse_; }
  // True when OK changed the language (the restart message was shown).
  bool languageChanged() const { return languageChanged_; }
  // Replaceable so that tests need not answer a message box.
  std::function<void(const QString& text)> inform;

 public slots:
  void accept() override;
  void Browse();

 private:
  CSalvageSettings& settings_;
  QCheckBox* openFolder_;
  QComboBox* languages_;
  QLineEdit* folder_;
  QPushButton* browse_;
  QPushButton* ok_;
  QPushButton* cancel_;
  bool languageChanged_ = false;
};

}  // namespace quarry
