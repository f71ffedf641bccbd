// The voice memos view: one row per recording with its name, date, duration and
// size; the export copies the checked recordings as ".m4a" files.
#pragma once

#include <string>
#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct VoiceMemoItem {
  QString Name;      // the memo's label, else its file's name
  QString Date;
  QString Duration;  // "m:ss" or "h:mm:ss"
  qint64 Size = 0;   // of the recording on this computer, 0 when it is not in the backup
  std::string Path;  // the readable recording ("" when not in the backup)
  std::int64_t ModifiedTime = 0;
  bool Deleted = false;  // in "Recently Deleted", or recovered from the store's free space
};

// A memo's name: its label, else the part of its file name after the last "/"
// (or "\"); `unnamed` when both are empty.
QString VoiceMemoName(const sieve::VoiceMemoRecord& record, const QString& unnamed);
// The exported file's name: the memo's name ending in ".m4a".
QString VoiceMemoFileName(const QString& name);
// Seconds as "m:ss", or "h:mm:ss" from an hour on; "" for a text that is not a number.
QString DurationText(const std::string& seconds);

struct VoiceMemoTraits {
  using Record = sieve::VoiceMemoRecord;
  using Item = VoiceMemoItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Deleted(const Item& item) { return item.Deleted; }
  static bool Matches(const Item& item, const QString& lowerText);
  static qint64 Size(const Item& item) { return item.Size; }
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

using VoiceMemoModel = ListModel<VoiceMemoTraits>;

}  // namespace quarry::views
