// The Safari bookmarks and history view: one row per entry (title, address, kind,
// folder, time of a visit); exported as a bookmark file that browsers import, which holds
// the bookmarks only, and a CSV of every entry with its kind.
#pragma once

#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct BookmarkItem {
  QString Title;
  QString Url;
  bool Deleted = false;
  bool Visit = false;  // a visit from the history, not a saved bookmark
  QString KindText;    // bookmark or history visit, in the window's language
  QString Folder;      // a bookmark's folder
  QString VisitDate;   // a visit's time
};

// True for an address that may become a link: http, https or ftp, as a browser
// reads the scheme (blanks and control characters around it, tabs and line breaks
// inside it ignored, any case).
bool IsLinkUrl(const QString& url);

struct BookmarkFileTexts {
  QString Title;          // the file's title
  QString DeletedFolder;  // the folder that holds the recovered entries
};

// The bookmarks in the Netscape bookmark-file format (history visits are no bookmarks and
// stay out): live entries first, recovered ones in a folder of their own with the deleted
// marker; every text escaped,
// attributes in double quotes, an address that may not be a link written as text.
QString BookmarkFileHtml(const std::vector<BookmarkItem>& items, const BookmarkFileTexts& texts);

struct BookmarkTraits {
  using Record = sieve::BookmarkRecord;
  using Item = BookmarkItem;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

class BookmarksModel : public ListModel<BookmarkTraits> {
 public:
  explicit BookmarksModel(ViewContext context = {}, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views
