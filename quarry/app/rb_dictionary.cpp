#include "quarry/app/rb_dictionary.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QWidget>

#include "quarry/app/salvage_settings.h"

namespace quarry {

CRBDictionary& AppDictionary() {
  static CRBDictionary dictionary;
  return dictionary;
}

CRBDictionary& FallbackDictionary() {
  static CRBDictionary dictionary;
  return dictionary;
}

QString Translate(const QString& key) {
  const QString text = AppDictionary().Text(key);
  return text == key ? FallbackDictionary().Text(key) : text;
}

void TranslateWindowTree(QWidget* window) {
  if (window == nullptr) return;
  if (window->isWindow()) window->setWindowTitle(Translate(window->windowTitle()));
  for (QWidget* child : window->findChildren<QWidget*>()) {
    if (auto* button = qobject_cast<QAbstractButton*>(child)) {
      button->setText(Translate(button->text()));
    } else if (auto* label = qobject_cast<QLabel*>(child)) {
      label->setText(Translate(label->text()));
    } else if (auto* group = qobject_cast<QGroupBox*>(child)) {
      group->setTitle(Translate(group->title()));
    }
    if (!child->toolTip().isEmpty()) child->setToolTip(Translate(child->toolTip()));
  }
}

CRBDictionary::FolderResult LoadAppDictionary(const std::function<void(const QString&)>& tell) {
  CSalvageSettings& settings = AppSettings();
  const int english = 0;
  AppDictionary().Clear();
  FallbackDictionary().Clear();
  // A file that fails to load is skipped: the English texts stand in for its keys.
  const auto goOn = [](const QString&) { return true; };
  FallbackDictionary().LoadFolder(settings.DictionaryFolder(english), goOn);
  const QString folder = settings.DictionaryFolder(settings.language);
  CRBDictionary::FolderResult result = AppDictionary().LoadFolder(folder, goOn);
  int loaded = settings.language;
  if (result != CRBDictionary::FolderResult::kLoaded || AppDictionary().EntryCount() == 0) {
    loaded = english;
    if (settings.language != english && tell) {
      tell(QStringLiteral("The dictionary for the language \"%1\" is missing from %2. Quarry shows its texts in English.")
               .arg(CSalvageSettings::LanguageFolder(settings.language), QDir::toNativeSeparators(folder)));
    } else if (tell) {
      tell(QStringLiteral("The dictionary folder %1 is missing or empty: Quarry cannot show its texts. "
                          "Reinstall the program.")
               .arg(QDir::toNativeSeparators(folder)));
    }
  }
  QLocale::setDefault(loaded == english ? QLocale(QLocale::English, QLocale::UnitedStates)
                                        : QLocale(CSalvageSettings::LanguageFolder(loaded)));
  return result;
}

}  // namespace quarry
