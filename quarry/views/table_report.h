// The table that the list categories export (calls, notes, calendar, reminders,
// bookmarks): one HTML report page and one CSV file of the same rows, deleted rows
// marked in both, and the export that writes them with any further files of the
// category (an iCalendar file, a bookmark file) below Category/HTML, Category/CSV...
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <memory>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/view_context.h"

namespace quarry::views {

struct TableColumn {
  QString Header;     // in the window's language, for the page
  QString CsvHeader;  // English in every language, for the scripts that read the CSV
  bool Date = false;  // holds record dates: the CSV header names their zone
};

struct TableRow {
  QStringList Cells;
  bool Deleted = false;
};

struct Table {
  QString Title;     // the page's title
  QString TimesIn;   // the footer naming the dates' zone; "%1" is the zone
  std::vector<TableColumn> Columns;
  std::vector<TableRow> Rows;
};

// The report page: the shared head, the title, the table (every cell escaped, the
// deleted marker before a deleted row's first cell and the row in the deleted style)
// and the zone footer. Parses as XML.
QString TableReportHtml(const Table& table);
// RFC 4180: the CSV headers and a last "Deleted" column of 1 or 0, one record per row.
QString TableCsv(const Table& table);

// One file of an export: Category/Folder/Category+Extension.
struct ExportDocument {
  QString Folder;     // "HTML", "CSV", "ICS"...
  QString Extension;  // with its dot
  QString Text;
  ByteOrderMark Mark = ByteOrderMark::With;
  bool DeletedMarker = false;  // Image/deleted_icon.png beside it
};

// The documents of the table (page and CSV).
std::vector<ExportDocument> TableDocuments(const Table& table);

// Writes the documents that `make` gives, made on the recovery's thread from the
// snapshot it holds; gives up between files once cancelled.
class DocumentsExport : public CategoryExport {
 public:
  using Maker = std::function<std::vector<ExportDocument>()>;
  DocumentsExport(QString folderName, qsizetype itemCount, Maker make);

  QString FolderName() const override { return folderName_; }
  qsizetype ItemCount() const override { return itemCount_; }
  void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                 ExportReport& report) const override;

 private:
  QString folderName_;
  qsizetype itemCount_;
  Maker make_;
};

// The deleted rows' style in the list exports.
inline constexpr char kDeletedRowClass[] = "deleted";

// A column by the dictionary key of its page header and its CSV header.
struct ColumnKeys {
  const char* HeaderKey;
  const char* CsvHeader;
  bool Date = false;
};

// The table of `items` (rows from `rowOf(item)`), titled by the text of `titleKey`;
// the texts are taken now, on the window's thread.
template <class Item, class RowOf>
Table MakeTable(const ViewContext& context, const char* titleKey, std::initializer_list<ColumnKeys> columns,
                const std::vector<Item>& items, RowOf rowOf) {
  Table table;
  table.Title = context.Text(titleKey);
  table.TimesIn = context.Text("IDS_REPORT_TIMES_IN");
  for (const ColumnKeys& c : columns) {
    table.Columns.push_back({context.Text(c.HeaderKey), QLatin1String(c.CsvHeader), c.Date});
  }
  table.Rows.reserve(items.size());
  for (const Item& item : items) table.Rows.push_back(rowOf(item));
  return table;
}

// The export of a table alone (page and CSV).
std::unique_ptr<CategoryExport> MakeTableExport(QString folderName, Table table);

}  // namespace quarry::views
