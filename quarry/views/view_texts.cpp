#include "quarry/views/view_texts.h"

#include "quarry/views/dictionary.h"

// Resources of a static library are registered by hand, once.
static void RegisterEnglishTexts() { Q_INIT_RESOURCE(english_texts); }

namespace quarry::views {

namespace {

// The English dictionary the program ships, built into the views so that they
// (and the headless recovery, and the tests) have its texts without the program's folder.
const CRBDictionary& EnglishDictionary() {
  static const CRBDictionary dictionary = [] {
    RegisterEnglishTexts();
    CRBDictionary loaded;
    loaded.LoadFile(QStringLiteral(":/quarry/english/quarry.ini"));
    return loaded;
  }();
  return dictionary;
}

}  // namespace

QString EnglishViewText(const QString& key) { return EnglishDictionary().Text(key); }

QString ViewText(const TextLookup& lookup, const QString& key) {
  if (lookup) {
    QString text = lookup(key);
    if (!text.isEmpty() && text != key) return text;
  }
  return EnglishViewText(key);
}

}  // namespace quarry::views
