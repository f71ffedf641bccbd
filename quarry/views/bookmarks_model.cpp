#include "quarry/views/bookmarks_model.h"

#include "quarry/views/export_text.h"
#include "quarry/views/html_report.h"
#include "quarry/views/record_text.h"
#include "quarry/views/table_report.h"

namespace quarry::views {

bool IsLinkUrl(const QString& url) {
  // What a browser's URL parser does before it reads the scheme.
  QString cleaned;
  for (const QChar c : url) {
    if (c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r')) cleaned += c;
  }
  qsizetype from = 0;
  while (from < cleaned.size() && cleaned[from].unicode() <= 0x20) ++from;
  const qsizetype colon = cleaned.indexOf(QLatin1Char(':'), from);
  if (colon < 0) return false;
  const QString scheme = cleaned.mid(from, colon - from).toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp");
}

namespace {

QString EntryLine(const BookmarkItem& item, const QString& indent) {
  const QString text = HtmlEscape(item.Title.isEmpty() ? item.Url : item.Title);
  QString line = indent + QStringLiteral("<DT>");
  if (item.Deleted) line += DeletedMarkerTag();
  if (IsLinkUrl(item.Url)) {
    line += QStringLiteral("<A HREF=\"") + HtmlEscape(item.Url) + QStringLiteral("\">") + text + QStringLiteral("</A>");
  } else {
    // Any other scheme (javascript:, file:...) would run or open something when clicked.
    line += text;
    if (!item.Title.isEmpty()) line += QStringLiteral(" <TT>") + HtmlEscape(item.Url) + QStringLiteral("</TT>");
  }
  return line + QStringLiteral("\r\n");
}

}  // namespace

QString BookmarkFileHtml(const std::vector<BookmarkItem>& items, const BookmarkFileTexts& texts) {
  const QString title = HtmlEscape(texts.Title);
  QString html = QStringLiteral(
                     "<!DOCTYPE NETSCAPE-Bookmark-file-1>\r\n"
                     "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\r\n<TITLE>") +
                 title + QStringLiteral("</TITLE>\r\n<H1>") + title + QStringLiteral("</H1>\r\n<DL><p>\r\n");
  bool anyDeleted = false;
  for (const BookmarkItem& item : items) {
    if (item.Visit) continue;
    if (item.Deleted) {
      anyDeleted = true;
    } else {
      html += EntryLine(item, QStringLiteral("    "));
    }
  }
  if (anyDeleted) {
    html += QStringLiteral("    <DT><H3>") + HtmlEscape(texts.DeletedFolder) + QStringLiteral("</H3>\r\n    <DL><p>\r\n");
    for (const BookmarkItem& item : items) {
      if (item.Deleted && !item.Visit) html += EntryLine(item, QStringLiteral("        "));
    }
    html += QStringLiteral("    </DL><p>\r\n");
  }
  return html + QStringLiteral("</DL><p>\r\n");
}

void BookmarkTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  const bool visit = record.Kind == sieve::kHistoryVisit;
  out.push_back({RecordText(record.Title), RecordText(record.Url), record.Deleted != 0, visit,
                 context.Text(visit ? "IDS_RECOVERY_BOOKMARK_KIND_VISIT" : "IDS_RECOVERY_BOOKMARK_KIND_BOOKMARK"),
                 RecordText(record.Folder), RecordText(record.VisitDate)});
}

QStringList BookmarkTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_BOOKMARK_HEADER_TITLE"), context.Text("IDS_RECOVERY_BOOKMARK_HEADER_URL"),
          context.Text("IDS_RECOVERY_BOOKMARK_HEADER_KIND"), context.Text("IDS_RECOVERY_BOOKMARK_HEADER_FOLDER"),
          context.Text("IDS_RECOVERY_BOOKMARK_HEADER_VISITED")};
}

QString BookmarkTraits::Cell(const Item& item, int column) {
  switch (column) {
    case 0: return ListLine(item.Title);
    case 1: return ListLine(item.Url);
    case 2: return item.KindText;
    case 3: return ListLine(item.Folder);
    case 4: return item.VisitDate;
    default: return {};
  }
}

bool BookmarkTraits::Matches(const Item& item, const QString& lowerText) {
  return AnyContains(lowerText, item.Title, item.Url, item.KindText, item.Folder, item.VisitDate);
}

std::unique_ptr<CategoryExport> BookmarkTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  // The CSV is the table's; the page is the bookmark file, without a byte-order mark
  // (importers look for the document type at its very start; the file names its charset).
  Table table = MakeTable(context, "IDS_RECOVERY_MAIN_BOOKMARK",
                          {{"IDS_RECOVERY_BOOKMARK_HEADER_TITLE", "Title"},
                           {"IDS_RECOVERY_BOOKMARK_HEADER_URL", "URL"},
                           {"IDS_RECOVERY_BOOKMARK_HEADER_KIND", "Kind"},
                           {"IDS_RECOVERY_BOOKMARK_HEADER_FOLDER", "Folder"},
                           {"IDS_RECOVERY_BOOKMARK_HEADER_VISITED", "Visited", true}},
                          checked, [](const BookmarkItem& b) {
                            return TableRow{{b.Title, b.Url, b.KindText, b.Folder, b.VisitDate}, b.Deleted};
                          });
  const BookmarkFileTexts texts{context.Text("IDS_RECOVERY_MAIN_BOOKMARK"), context.Text("IDS_BOOKMARK_DELETED_FOLDER")};
  const auto count = static_cast<qsizetype>(checked.size());
  return std::make_unique<DocumentsExport>(
      QStringLiteral("Bookmarks"), count, [table = std::move(table), items = std::move(checked), texts] {
        return std::vector<ExportDocument>{
            {QStringLiteral("HTML"), QStringLiteral(".html"), BookmarkFileHtml(items, texts), ByteOrderMark::Without, true},
            {QStringLiteral("CSV"), QStringLiteral(".csv"), TableCsv(table), ByteOrderMark::With, false}};
      });
}

}  // namespace quarry::views
