// The program's categories, one row each, in the order the results page lists
// them: the list entry, the record kind it receives, its model and the style of
// its page. The results page, the scan session's targets and the headless
// recovery loop over this table; none of them names a category. A new category is
// one row here, its item/traits/export (a model file in this folder) and its
// dictionary keys.
#pragma once

#include <memory>
#include <span>

#include "quarry/views/category_model.h"
#include "quarry/views/view_context.h"

namespace quarry::views {

using ModelFactory = std::unique_ptr<CategoryModel> (*)(const ViewContext& context);

// The factory of a model type that is built from a ViewContext.
template <class Model>
std::unique_ptr<CategoryModel> MakeModel(const ViewContext& context) {
  return std::make_unique<Model>(context);
}

// How the window shows a category; the pages make one page class per style.
enum class PageStyle {
  Empty,       // a page that only says what the category would hold (no items)
  List,        // the list alone
  ListDetail,  // the list and a detail pane of the selected item
  Contacts,    // the list, a detail pane and the contact's portrait
  Chat,        // the conversations and the selected one's messages as bubbles
  Pictures,    // a grid of thumbnails over the list, with the list a click away
  NotShown,    // a category the program reads but does not show: the page says so
};

struct CategoryRow {
  int pageId;              // 0 for a group caption
  const char* captionKey;  // dictionary key of the entry (or the group)
  int type;                // the sieve::_InfoType it receives, -1 for none
  ModelFactory makeModel;  // null: the category has no items
  PageStyle style;
};

std::span<const CategoryRow> CategoryRows();

// Rows of categories (not group captions), in list order.
template <class F>
void ForEachCategory(F&& f) {
  for (const CategoryRow& row : CategoryRows()) {
    if (row.pageId != 0) f(row);
  }
}

// The category that receives a record kind (null for none).
const CategoryRow* CategoryOfType(int type);

}  // namespace quarry::views
