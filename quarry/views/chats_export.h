// Writes checked conversations (messages or WhatsApp chats) below a recovery
// folder: one HTML page of message bubbles with the attachments copied beside it
// (pictures shown in the page), and one CSV file with a line per message.
// Folder, file and CSV header names are English in every language, for the
// scripts that read them; the page is in the window's language.
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quarry/views/category_export.h"
#include "quarry/views/chat_item.h"
#include "quarry/views/view_context.h"

namespace quarry::views {

struct ChatExportTexts {
  QString Title;     // category name, the page's title
  QString Messages;  // the heading over a conversation's messages
  QString TimesIn;   // "%1" is the zone

  static ChatExportTexts From(const ViewContext& context, const char* titleKey);
};

enum class ChatKind {
  Messages,  // CSV: name, phone or e-mail address
  WhatsApp,  // CSV: chat, name and phone apart
};

class ChatsExport : public CategoryExport {
 public:
  // Attachments are looked up in `context` now, on the window's thread.
  ChatsExport(ChatKind kind, std::vector<ChatThread> threads, ChatExportTexts texts, const ViewContext& context);

  QString FolderName() const override;
  qsizetype ItemCount() const override { return static_cast<qsizetype>(threads_.size()); }
  void RecoverTo(const QString& recoveryFolder, const std::atomic<bool>& cancel,
                 ExportReport& report) const override;

  // Stored path of an attachment -> its copy's name in the attachment folder
  // ("" when it could not be copied).
  using CopiedFiles = std::map<std::string, QString>;
  // The pieces, public so that they can be checked one by one.
  QString HtmlText(const CopiedFiles& copied) const;
  QString CsvText(const CopiedFiles& copied) const;
  QStringList CsvHeaders() const;

  // The attachment folder beside the page.
  static constexpr char kAttachmentFolder[] = "Attachments";

 private:
  CopiedFiles CopyAttachments(const QString& htmlFolder, const std::atomic<bool>& cancel,
                              ExportReport& report) const;
  QString BubbleHtml(const ChatEntry& entry, const CopiedFiles& copied) const;

  ChatKind kind_;
  std::vector<ChatThread> threads_;
  ChatExportTexts texts_;
  std::shared_ptr<const FileSource> files_;
  std::map<std::string, ChatAttachment> attachments_;  // by stored path
};

}  // namespace quarry::views
