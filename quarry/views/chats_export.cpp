#include "quarry/views/chats_export.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "quarry/views/export_text.h"
#include "quarry/views/html_report.h"

namespace quarry::views {

namespace {

QString Line(const QString& text) { return text + QLatin1Char('\n'); }

// Escaped text whose line breaks show as breaks in the bubble.
QString HtmlLines(const QString& text) {
  QStringList lines = QString(text).replace(QLatin1String("\r\n"), QLatin1String("\n")).split(QLatin1Char('\n'));
  for (QString& line : lines) line = HtmlEscape(line);
  return lines.join(QLatin1String("<br />"));
}

// "phone (name)", or whichever of them there is.
QString TabLabel(const ChatThread& thread) {
  const QString address = thread.Address();
  if (address.isEmpty()) return thread.Name;
  if (thread.Name.isEmpty()) return address;
  return QStringLiteral("%1 (%2)").arg(address, thread.Name);
}

QString Marked(bool deleted, const QString& html) {
  if (!deleted) return html;
  return DeletedMarkerTag() + QStringLiteral("<span class=\"deleted\">") + html + QStringLiteral("</span>");
}

}  // namespace

ChatExportTexts ChatExportTexts::From(const ViewContext& context, const char* titleKey) {
  ChatExportTexts t;
  t.Title = context.Text(titleKey);
  t.Messages = context.Text("IDS_MESSAGE_HTML_MESSAGES");
  t.TimesIn = context.Text("IDS_REPORT_TIMES_IN");
  if (!t.TimesIn.contains(QLatin1String("%1"))) t.TimesIn = EnglishViewText(QStringLiteral("IDS_REPORT_TIMES_IN"));
  return t;
}

ChatsExport::ChatsExport(ChatKind kind, std::vector<ChatThread> threads, ChatExportTexts texts,
                         const ViewContext& context)
    : kind_(kind),
      threads_(std::move(threads)),
      texts_(std::move(texts)),
      files_(context.files ? context.files : PlainFileSource()) {
  for (const ChatThread& thread : threads_) {
    for (const ChatEntry& entry : thread.Entries) {
      if (!entry.AttachmentPath.empty() && !attachments_.contains(entry.AttachmentPath)) {
        attachments_.emplace(entry.AttachmentPath, ResolveAttachment(entry, *files_));
      }
    }
  }
}

QString ChatsExport::FolderName() const {
  return kind_ == ChatKind::Messages ? QStringLiteral("Messages") : QStringLiteral("WhatsApp");
}

void ChatsExport::RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                            ExportReport& report) const {
  const QDir category(QDir(recoveryFolder).filePath(FolderName()));
  const QString fileBase = FolderName();
  CopiedFiles copied;
  const QString htmlFolder = category.filePath(QStringLiteral("HTML"));
  if (MakeFolder(htmlFolder, report) && !cancel) {
    copied = CopyAttachments(htmlFolder, cancel, report);
    if (cancel) return;
    EnsureDeletedIcon(htmlFolder, report);
    WriteUtf8File(UniqueFilePath(htmlFolder, fileBase, QStringLiteral(".html")), HtmlText(copied), report);
  }
  const QString csvFolder = category.filePath(QStringLiteral("CSV"));
  if (!cancel && MakeFolder(csvFolder, report)) {
    WriteUtf8File(UniqueFilePath(csvFolder, fileBase, QStringLiteral(".csv")), CsvText(copied), report);
  }
}

ChatsExport::CopiedFiles ChatsExport::CopyAttachments(const QString& htmlFolder, const std::atomic<bool>& cancel,
                                                      ExportReport& report) const {
  CopiedFiles copied;
  const QString folder = QDir(htmlFolder).filePath(QLatin1String(kAttachmentFolder));
  bool folderMade = false;
  // In message order, so that numbered names follow the conversation.
  for (const ChatThread& thread : threads_) {
    for (const ChatEntry& entry : thread.Entries) {
      if (cancel) return copied;
      if (entry.AttachmentPath.empty() || copied.contains(entry.AttachmentPath)) continue;
      if (!folderMade && !(folderMade = MakeFolder(folder, report))) return copied;
      const ChatAttachment& attachment = attachments_.at(entry.AttachmentPath);
      const QString target = NumberedFilePath(folder, attachment.Name);
      // The time the file was made is not known from the message.
      const bool written = files_->CopyTo(entry.AttachmentPath, attachment.Key, target, 0, report);
      copied.emplace(entry.AttachmentPath, written ? QFileInfo(target).fileName() : QString());
    }
  }
  return copied;
}

QString ChatsExport::BubbleHtml(const ChatEntry& entry, const CopiedFiles& copied) const {
  QString html = QStringLiteral("<div class=\"date\">\n") + Line(HtmlEscape(entry.Date)) + QStringLiteral("</div>\n");
  if (entry.System) {
    return html + QStringLiteral("<div class=\"system\">\n") + Line(Marked(entry.Deleted, HtmlLines(entry.ShownText()))) +
           QStringLiteral("</div>\n");
  }
  html += QStringLiteral("<div class=\"%1\">\n").arg(entry.Outgoing ? QStringLiteral("out") : QStringLiteral("in"));
  if (!entry.Sender.isEmpty()) html += QStringLiteral("<div class=\"sender\">") + HtmlEscape(entry.Sender) + QStringLiteral("</div>\n");
  html += Line(Marked(entry.Deleted, HtmlLines(entry.ShownText())));
  if (!entry.Link.isEmpty()) {
    const QString href = HtmlEscape(entry.Link);
    html += QStringLiteral("<div class=\"map\"><a href=\"%1\">%1</a></div>\n").arg(href);
  }
  if (!entry.AttachmentPath.empty()) {
    const auto resolved = attachments_.find(entry.AttachmentPath);
    const QString name = resolved != attachments_.end() ? resolved->second.Name : QString();
    const auto copy = copied.find(entry.AttachmentPath);
    html += QStringLiteral("<div class=\"attachment\">");
    if (copy != copied.end() && !copy->second.isEmpty()) {
      // The link names the copy; percent-encoded so that "#", "?" or "%" in it stay part of the name.
      const QString href = HtmlEscape(QLatin1String(kAttachmentFolder) + QLatin1Char('/') +
                                      QString::fromLatin1(QUrl::toPercentEncoding(copy->second)));
      html += QStringLiteral("<a href=\"%1\">").arg(href);
      if (IsPicture(entry.MimeType, copy->second)) {
        html += QStringLiteral("<img src=\"%1\" width=\"200\" alt=\"%2\" /><br />").arg(href, HtmlEscape(copy->second));
      }
      html += HtmlEscape(copy->second) + QStringLiteral("</a>");
    } else {
      html += HtmlEscape(name);  // not in the backup: named, not linked
    }
    html += QStringLiteral("</div>\n");
  }
  return html + QStringLiteral("</div>\n");
}

QString ChatsExport::HtmlText(const CopiedFiles& copied) const {
  const QString title = HtmlEscape(texts_.Title);
  QString html = HtmlReportHead(texts_.Title);
  html += QStringLiteral("<body>\n<div class=\"content\">\n<div class=\"tit\">\n") + Line(title) +
          QStringLiteral("</div>\n<div class=\"nTab\">\n<div class=\"TabTitle\">\n<div class=\"lefttit\">\n") +
          Line(title) + QStringLiteral("</div>\n<ul id=\"myTab1\">\n");
  for (std::size_t tab = 0; tab < threads_.size(); ++tab) {
    const ChatThread& thread = threads_[tab];
    html += QStringLiteral("<li class=\"%1\" onclick=\"nTabs(this,%2);\">")
                .arg(tab == 0 ? QStringLiteral("active") : QStringLiteral("normal"))
                .arg(tab);
    html += Marked(thread.Deleted, HtmlEscape(TabLabel(thread))) + QStringLiteral("</li>\n");
  }
  html += QStringLiteral("</ul> \n</div>\n<div class=\"TabContent\">\n");
  for (std::size_t tab = 0; tab < threads_.size(); ++tab) {
    const ChatThread& thread = threads_[tab];
    html += (tab == 0 ? QStringLiteral("<div id=\"myTab1_Content%1\">\n")
                      : QStringLiteral("<div id=\"myTab1_Content%1\" class=\"none\">\n"))
                .arg(tab);
    html += QStringLiteral("<div class=\"righttit\">\n") + Line(Marked(thread.Deleted, HtmlEscape(TabLabel(thread)))) +
            QStringLiteral("</div>\n");
    html += QStringLiteral(
                "<div class=\"smstop\">\n<table width=\"100%\">\n<tr>\n"
                "<td align=\"right\" width=\"45%\"><div class=\"line\"></div></td>\n<td>\n") +
            Line(HtmlEscape(texts_.Messages)) +
            QStringLiteral("</td>\n<td align=\"left\" width=\"45%\"><div class=\"line2\"></div></td>\n</tr>\n</table>\n</div>\n");
    html += QStringLiteral("<div class=\"smstxt\">\n");
    for (const ChatEntry& entry : thread.Entries) html += BubbleHtml(entry, copied);
    html += QStringLiteral("</div>\n</div>\n");
  }
  html += QStringLiteral("</div>\n</div>\n");
  html += QStringLiteral("<div class=\"zone\">") + HtmlEscape(texts_.TimesIn.arg(DateZoneDescription())) +
          QStringLiteral("</div>\n</div>\n") + HtmlReportEnd();
  return html;
}

QStringList ChatsExport::CsvHeaders() const {
  const QString date = QStringLiteral("Date (%1)").arg(DateZoneLabel());
  const QStringList tail = {date, QStringLiteral("Type"), QStringLiteral("Content"), QStringLiteral("Attachment"),
                            QStringLiteral("Deleted")};
  if (kind_ == ChatKind::Messages) return QStringList{QStringLiteral("Name"), QStringLiteral("Phone/Email")} + tail;
  return QStringList{QStringLiteral("Chat"), QStringLiteral("Name"), QStringLiteral("Phone")} + tail +
         QStringList{QStringLiteral("Sender"), QStringLiteral("Map")};
}

QString ChatsExport::CsvText(const CopiedFiles& copied) const {
  QString csv = CsvLine(CsvHeaders());
  for (const ChatThread& thread : threads_) {
    for (const ChatEntry& entry : thread.Entries) {
      QStringList row;
      if (kind_ == ChatKind::Messages) {
        row << thread.Name << thread.Address();
      } else {
        row << thread.Title() << thread.Name << thread.Phone;
      }
      QString attachment;
      if (!entry.AttachmentPath.empty()) {
        const auto copy = copied.find(entry.AttachmentPath);
        const auto resolved = attachments_.find(entry.AttachmentPath);
        attachment = copy != copied.end() && !copy->second.isEmpty()
                         ? copy->second
                         : (resolved != attachments_.end() ? resolved->second.Name : QString());
      }
      const QString type = entry.System ? QStringLiteral("System")
                                        : (entry.Outgoing ? QStringLiteral("Sent") : QStringLiteral("Received"));
      row << entry.Date << type << entry.ShownText() << attachment
          << ((entry.Deleted || thread.Deleted) ? QStringLiteral("1") : QStringLiteral("0"));
      if (kind_ == ChatKind::WhatsApp) row << entry.Sender << entry.Link;
      csv += CsvLine(row);
    }
  }
  return csv;
}

}  // namespace quarry::views
