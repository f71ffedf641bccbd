// Pieces every HTML report shares: the page head with the style sheet and the
// tab script, the page end, and the deleted marker picture beside the report.
#pragma once

#include <QByteArray>
#include <QString>

#include "quarry/views/export_files.h"

namespace quarry::views {

// Folder beside a report that holds the deleted marker, and the marker's name.
inline constexpr char kMarkerFolder[] = "Image";
inline constexpr char kDeletedIconName[] = "deleted_icon.png";

// The shared style sheet (one rule per line).
QString ReportStyleSheet();
// The tab-switching script, wrapped so the page also parses as XML.
QString ReportTabScript();

// Document type, html start tag, head with style sheet, script, character set
// and the (escaped) title; ends after "</head>\n".
QString HtmlReportHead(const QString& title);
// "</body>\n</html>\n".
QString HtmlReportEnd();

// The <img> tag of the deleted marker, relative to the report's folder.
QString DeletedMarkerTag();

// Writes Image/deleted_icon.png into `reportFolder` unless it is there already.
bool EnsureDeletedIcon(const QString& reportFolder, ExportReport& report);

// Our own artwork, drawn at run time: the deleted marker (16x16, red disc with
// a white cross) and the stand-in portrait of a contact without a picture.
QByteArray DeletedIconPng();
QByteArray DefaultPortraitPng();

}  // namespace quarry::views
