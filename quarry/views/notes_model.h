// The notes view: title, date and the note's first line in the list, the whole
// note in the detail pane; exported as the table report and CSV.
#pragma once

#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct NoteItem {
  QString Title;
  QString Date;
  QString Content;
  QString Folder;
  QString Attachments;  // their names, one a line
  bool Deleted = false;
};

struct NoteTraits {
  using Record = sieve::NoteRecord;
  using Item = NoteItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
  static DetailRows Detail(const Item& item, const ViewContext& context);
};

class NotesModel : public ListModel<NoteTraits> {
 public:
  explicit NotesModel(ViewContext context = {}, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views
