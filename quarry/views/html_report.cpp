#include "quarry/views/html_report.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "quarry/views/export_text.h"

namespace quarry::views {

QString ReportStyleSheet() {
  return QStringLiteral(
      "*{margin:0; padding:0; border:0 none; font-family:Arial, Helvetica, sans-serif; font-size:12px;}\n"
      "li{list-style:none;}\n"
      ".content{ width:620px; margin:0 auto; overflow:hidden; }\n"
      ".tit{ text-align:center; font-size:24px; font-weight:bold; padding:20px 0;}\n"
      ".nTab{\nmargin: 0 auto;\noverflow:hidden;\n}\n"
      ".nTab .TabTitle{\nwidth:200px;\nfloat:left;\noverflow: hidden;\nborder:1px solid #ddeffe;\n}\n"
      ".nTab .TabTitle ul{border:0;margin:0;padding:0;width:200px;}\n"
      ".nTab .TabTitle li{ cursor: pointer; padding-top: 8px; padding-right: 5px; padding-left: 5px; "
      "padding-bottom: 8px; list-style-type: none; } \n"
      ".nTab .TabTitle .active{ background:#5195ce; } \n"
      ".nTab .TabTitle .normal{ background:#f2f2f3; } \n"
      ".nTab .TabContent{ width:400px; float:right;background:#fff; margin: 0px auto; padding:0px 0 0 0; "
      "border:1px solid #ddeffe;padding-bottom:10px; }\n"
      ".none {display:none;} \n"
      ".lefttit{font-weight:bold; background:#e4e7e8; padding:10px 5px; font-size:16px;}\n"
      ".righttit{font-weight:bold;  padding:10px 5px; font-size:16px; border-bottom:1px solid #ddeffe; }\n"
      ".line{height:1px; background:black; margin-left:40px;}\n"
      ".line2{height:1px; background:black; margin-right:40px;}\n"
      ".smstop{padding:0 5px;}\n"
      ".smstop table td{padding:8px 0px;}\n"
      ".date{ text-align:center; padding:5px; color:#b1b1b1;clear:both;}\n"
      ".out{width:300px; float:right; padding:10px; background:#00ce48; margin:5px 0; line-height:18px; color:white;}\n"
      ".in{width:300px; float:left; padding:10px; background:#e9e8ed; margin:5px 0; line-height:18px;}\n"
      ".system{clear:both; text-align:center; padding:5px; color:#6b6b6b; font-style:italic;}\n"
      ".sender{font-weight:bold; font-size:90%; margin-bottom:3px;}\n"
      ".map{margin-top:5px; word-break:break-all;}\n"
      ".name, .company, .email{font-weight:bold; margin-bottom:5px;}\n"
      ".smstxt{ overflow:hidden; padding:10px; clear:both; padding-top:0; padding-bottom:0;}\n"
      ".simple{}\n"
      ".photo{}\n"
      ".deleted{color:#ff0000;}\n"
      ".smstxt table{border-right:1px solid #ddeffe; border-bottom:1px solid #ddeffe;}\n"
      ".smstxt table th{padding:5px 10px; border-left:1px solid #ddeffe; border-top:1px solid #ddeffe;}\n"
      ".smstxt table td{padding:5px 10px;border-left:1px solid #ddeffe; border-top:1px solid #ddeffe;}\n");
}

QString ReportTabScript() {
  // The CDATA section keeps "<" in the loop from ending the script for XML readers.
  return QStringLiteral(
      "<script type=\"text/javascript\">\n"
      "//<![CDATA[\n"
      "function nTabs(thisObj,Num){\n"
      "if(thisObj.className == \"active\")return;\n"
      "var tabObj = thisObj.parentNode.id;\n"
      "var tabList = document.getElementById(tabObj).getElementsByTagName(\"li\");\n"
      "for(i=0; i <tabList.length; i++){\n"
      "if (i == Num){\n"
      "thisObj.className = \"active\";\n"
      "document.getElementById(tabObj+\"_Content\"+i).style.display = \"block\";\n"
      "}else{\n"
      "tabList[i].className = \"normal\";\n"
      "document.getElementById(tabObj+\"_Content\"+i).style.display = \"none\";\n"
      "}}}\n"
      "//]]>\n"
      "</script>\n");
}

QString HtmlReportHead(const QString& title) {
  return QStringLiteral(
             "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
             "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
             "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n"
             "<head>\n<style type=\"text/css\">\n") +
         ReportStyleSheet() + QStringLiteral("</style>\n") + ReportTabScript() +
         QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\" />\n<title>") +
         HtmlEscape(title) + QStringLiteral("</title>\n</head>\n");
}

QString HtmlReportEnd() { return QStringLiteral("</body>\n</html>\n"); }

QString DeletedMarkerTag() {
  return QStringLiteral("<img src=\"%1/%2\" width=\"16\" height=\"16\" alt=\"deleted\" />")
      .arg(QLatin1String(kMarkerFolder), QLatin1String(kDeletedIconName));
}

bool EnsureDeletedIcon(const QString& reportFolder, ExportReport& report) {
  const QString folder = QDir(reportFolder).filePath(QLatin1String(kMarkerFolder));
  if (!MakeFolder(folder, report)) return false;
  const QString path = QDir(folder).filePath(QLatin1String(kDeletedIconName));
  if (QFileInfo::exists(path)) return true;
  return WriteBinaryFile(path, DeletedIconPng(), report);
}

namespace {

// A fixed resolution, so the same picture gives the same bytes with or without a screen.
QByteArray EncodePng(QImage image) {
  image.setDotsPerMeterX(2835);
  image.setDotsPerMeterY(2835);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace

QByteArray DeletedIconPng() {
  QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xd9, 0x23, 0x23));
  painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(5, 5), QPointF(11, 11));
  painter.drawLine(QPointF(11, 5), QPointF(5, 11));
  painter.end();
  return EncodePng(image);
}

QByteArray DefaultPortraitPng() {
  QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0xe4, 0xe7, 0xe8));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x9a, 0xa5, 0xb1));
  painter.drawEllipse(QRectF(20, 10, 24, 24));
  QPainterPath shoulders;
  shoulders.addRoundedRect(QRectF(10, 38, 44, 40), 20, 20);
  painter.drawPath(shoulders);
  painter.end();
  return EncodePng(image);
}

}  // namespace quarry::views
