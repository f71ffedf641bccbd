#include "quarry/views/table_report.h"

#include <QDir>

#include "quarry/views/export_text.h"
#include "quarry/views/html_report.h"
#include "quarry/views/view_texts.h"

namespace quarry::views {

namespace {

// Line breaks of a note or a description stay line breaks on the page.
constexpr char kCellOpen[] = "<td style=\"white-space:pre-wrap; vertical-align:top;\">";

}  // namespace

QString TableReportHtml(const Table& table) {
  QString html = HtmlReportHead(table.Title);
  html += QStringLiteral("<body>\n<div class=\"content\" style=\"width:auto; max-width:1200px;\">\n<div class=\"tit\">") +
          HtmlEscape(table.Title) + QStringLiteral("</div>\n<div class=\"smstxt\">\n") +
          QStringLiteral("<table class=\"report\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\">\n<tr>");
  for (const TableColumn& column : table.Columns) html += QStringLiteral("<th>") + HtmlEscape(column.Header) + QStringLiteral("</th>");
  html += QStringLiteral("</tr>\n");
  for (const TableRow& row : table.Rows) {
    html += row.Deleted ? QStringLiteral("<tr class=\"%1\">").arg(QLatin1String(kDeletedRowClass)) : QStringLiteral("<tr>");
    for (std::size_t c = 0; c < table.Columns.size(); ++c) {
      html += QLatin1String(kCellOpen);
      if (c == 0 && row.Deleted) html += DeletedMarkerTag();
      html += HtmlEscape(row.Cells.value(static_cast<qsizetype>(c))) + QStringLiteral("</td>");
    }
    html += QStringLiteral("</tr>\n");
  }
  QString timesIn = table.TimesIn;
  if (!timesIn.contains(QLatin1String("%1"))) timesIn = EnglishViewText(QStringLiteral("IDS_REPORT_TIMES_IN"));
  html += QStringLiteral("</table>\n</div>\n<div class=\"date\">") + HtmlEscape(timesIn.arg(DateZoneDescription())) +
          QStringLiteral("</div>\n</div>\n") + HtmlReportEnd();
  return html;
}

QString TableCsv(const Table& table) {
  QStringList headers;
  // The zone goes into the date columns' own headers: a line of its own would not be CSV.
  const QString zone = QStringLiteral(" (%1)").arg(DateZoneLabel());
  for (const TableColumn& column : table.Columns) headers.append(column.CsvHeader + (column.Date ? zone : QString()));
  headers.append(QStringLiteral("Deleted"));
  QString csv = CsvLine(headers);
  for (const TableRow& row : table.Rows) {
    QStringList cells;
    for (std::size_t c = 0; c < table.Columns.size(); ++c) cells.append(row.Cells.value(static_cast<qsizetype>(c)));
    cells.append(row.Deleted ? QStringLiteral("1") : QStringLiteral("0"));
    csv += CsvLine(cells);
  }
  return csv;
}

std::vector<ExportDocument> TableDocuments(const Table& table) {
  std::vector<ExportDocument> documents;
  documents.push_back({QStringLiteral("HTML"), QStringLiteral(".html"), TableReportHtml(table), ByteOrderMark::With, true});
  documents.push_back({QStringLiteral("CSV"), QStringLiteral(".csv"), TableCsv(table), ByteOrderMark::With, false});
  return documents;
}

std::unique_ptr<CategoryExport> MakeTableExport(QString folderName, Table table) {
  const auto count = static_cast<qsizetype>(table.Rows.size());
  return std::make_unique<DocumentsExport>(std::move(folderName), count,
                                           [table = std::move(table)] { return TableDocuments(table); });
}

DocumentsExport::DocumentsExport(QString folderName, qsizetype itemCount, Maker make)
    : folderName_(std::move(folderName)), itemCount_(itemCount), make_(std::move(make)) {}

void DocumentsExport::RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                                ExportReport& report) const {
  if (cancel) return;
  const QDir category(QDir(recoveryFolder).filePath(folderName_));
  for (const ExportDocument& document : make_()) {
    if (cancel) return;
    const QString folder = category.filePath(document.Folder);
    if (!MakeFolder(folder, report)) continue;
    if (document.DeletedMarker) EnsureDeletedIcon(folder, report);
    WriteUtf8File(UniqueFilePath(folder, folderName_, document.Extension), document.Text, report, document.Mark);
  }
}

}  // namespace quarry::views
