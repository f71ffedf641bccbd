// The language dictionary: every text of the user interface is a key looked
// up here. Files are UTF-8 text made of "[KEY]" headers each followed by a
// "1=text" line; the section [DICTIONARY_MAINID] names the dictionary's id.
// Window-free, so the views read their English texts from the same files.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

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

}  // namespace quarry
