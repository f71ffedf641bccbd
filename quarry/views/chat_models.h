// The messages and WhatsApp views: one row per conversation (name, phone or
// address, number of messages), the conversation's messages kept for the bubbles
// of the page and for the export.
#pragma once

#include <vector>

#include "quarry/views/chat_item.h"
#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

// What the two views share; Record and Take are each view's own.
struct ChatTraitsBase {
  using Item = ChatThread;

  static QString Cell(const Item& item, int column);
  static bool Deleted(const Item& item) { return item.HoldsDeleted(); }
  // Who it was with, or any message's words.
  static bool Matches(const Item& item, const QString& lowerText);
  // The messages' text in UTF-8: what the page and the table of the export hold.
  static qint64 Size(const Item& item);
};

struct MessageTraits : ChatTraitsBase {
  using Record = sieve::SmsConversation;
  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

struct WhatsAppTraits : ChatTraitsBase {
  using Record = sieve::WaChat;
  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);  // a chat has no e-mail column
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

// A WhatsApp chat has no deleted flag of its own: it counts as recovered when every
// message of it was.
bool WhatsAppChatDeleted(const sieve::WaChat& chat);

class MessagesModel : public ListModel<MessageTraits> {
 public:
  explicit MessagesModel(ViewContext context, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

class WhatsAppModel : public ListModel<WhatsAppTraits> {
 public:
  explicit WhatsAppModel(ViewContext context, QObject* parent = nullptr) : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views
