// The language dictionary: every text of the user interface is a key looked
// up here. Files are UTF-8 text made of "[KEY]" headers each followed by a
// "1=text" line; the section [DICTIONARY_MAINID] names the dictionary's id.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

class QWidget;

namespace quarry {

class CRBDictionary {
 public:
  enum class FolderResult { kLoaded, kNoFolder, kNoFiles, kStopped };
  // Asked after a file failed to load; true continues with the next file.
  using ContinueQuestion = std::function<bool(const QString& fileName)>;

  // Loads every "*.ini" in folder, in name order.
  FolderResult LoadFolder(const QString& folder, const ContinueQuestion& askContinue);
  // Loads one file. A missing or empty file, or one whose main id is already
  // loaded, is skipped (true). False when the file cannot be read.
  bool LoadFile(const QString& path, QString* error = nullptr);
  // Parses a file's text into the dictionary under mainId (the line breaks are
  // removed first, so a text can not span lines).
  void ParseInto(int mainId, const QString& text);
  // The MAINID entry of section DICTIONARY_MAINID, -1 when absent.
  static int ReadMainId(const QString& text);

  bool Has(int mainId) const { return dictionaries_.count(mainId) != 0; }
  // The text of key in dictionary mainId; key itself when missing.
  QString Text(const QString& key, int mainId = 1) const;
  int EntryCount(int mainId = 1) const;
  // The keys of dictionary mainId, sorted.
  QStringList Keys(int mainId = 1) const;
  void Clear() { dictionaries_.clear(); }

 private:
  std::map<int, QHash<QString, QString>> dictionaries_;
};

// The process-wide dictionary of the chosen language.
CRBDictionary& AppDictionary();
// The English dictionary, asked for keys the chosen language lacks.
CRBDictionary& FallbackDictionary();
// The display text of key in the process-wide dictionary 1, else in the
// English one; key itself only when both lack it.
QString Translate(const QString& key);
// Replaces the text of every child widget (buttons, labels, group boxes, check
// boxes, window titles) by Translate of that text.
void TranslateWindowTree(QWidget* window);
// Loads the dictionary of the settings' language from programFolder/dic and
// the English one beside it, and sets the default locale (numbers, sizes) to
// the language loaded. A language without its dictionary gives English, and
// `tell` (when set) gets one message saying so. Returns the chosen language's result.
CRBDictionary::FolderResult LoadAppDictionary(const std::function<void(const QString&)>& tell);

}  // namespace quarry
