#include "quarry/views/chat_models.h"

#include <QStringList>
#include <algorithm>
#include <string_view>
#include <utility>

#include "quarry/views/chats_export.h"
#include "sieve/whatsapp_event.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A reaction's kind in the chosen language; a kind this program does not know stays as stored.
QString ReactionKind(const std::string& kind, const ViewContext& context) {
  static constexpr std::pair<std::string_view, const char*> kKeys[] = {
      {"love", "IDS_MESSAGE_REACTION_LOVE"},       {"like", "IDS_MESSAGE_REACTION_LIKE"},
      {"dislike", "IDS_MESSAGE_REACTION_DISLIKE"}, {"laugh", "IDS_MESSAGE_REACTION_LAUGH"},
      {"emphasize", "IDS_MESSAGE_REACTION_EMPHASIZE"}, {"question", "IDS_MESSAGE_REACTION_QUESTION"},
      {"emoji", "IDS_MESSAGE_REACTION_EMOJI"},     {"sticker", "IDS_MESSAGE_REACTION_STICKER"}};
  for (const auto& [name, key] : kKeys) {
    if (kind == name) return context.Text(key);
  }
  return FromUtf8(kind);
}

// "(edited)", "(unsent)", "(audio message)" and the reactions, e.g. "[love: +15551234567, like: me]",
// in the chosen language.
QString MessageNote(const sieve::SmsMessage& m, const ViewContext& context) {
  QStringList parts;
  if (m.Unsent != 0) parts << context.Text("IDS_MESSAGE_NOTE_UNSENT");
  if (m.Edited != 0) parts << context.Text("IDS_MESSAGE_NOTE_EDITED");
  if (m.IsAudio != 0) parts << context.Text("IDS_MESSAGE_NOTE_AUDIO");
  QStringList reactions;
  for (const sieve::SmsReaction& r : m.Reactions) {
    reactions << ReactionKind(r.Kind, context) + QStringLiteral(": ") +
                     (r.IsFromMe != 0 ? context.Text("IDS_MESSAGE_REACTION_ME") : FromUtf8(r.Sender));
  }
  if (!reactions.isEmpty()) parts << QStringLiteral("[") + reactions.join(QStringLiteral(", ")) + QStringLiteral("]");
  return parts.join(QLatin1Char(' '));
}

}  // namespace

QString ChatTraitsBase::Cell(const Item& item, int column) {
  switch (column) {
    case 0: return item.Name;
    case 1: return item.Phone;
    case 2: return item.Email;
    case 3: return QString::number(item.Entries.size());
    default: return {};
  }
}

bool ChatTraitsBase::Matches(const Item& item, const QString& lowerText) {
  if (AnyContains(lowerText, item.Name, item.Phone, item.Email)) return true;
  return std::any_of(item.Entries.begin(), item.Entries.end(),
                     [&](const ChatEntry& e) { return AnyContains(lowerText, e.Text); });
}

qint64 ChatTraitsBase::Size(const Item& item) {
  qint64 size = 0;
  for (const ChatEntry& entry : item.Entries) size += entry.Text.toUtf8().size();
  return size;
}

void MessageTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  ChatThread thread;
  const QString address = FromUtf8(record.Address);
  (address.contains(QLatin1Char('@')) ? thread.Email : thread.Phone) = address;
  thread.Name = FromUtf8(record.ContactName);
  thread.Deleted = record.Deleted != 0;
  for (const sieve::SmsMessage& m : record.Messages) {
    thread.Entries.push_back({FromUtf8(m.Date), FromUtf8(m.Text), m.IsFromMe != 0, m.Deleted != 0, m.AttachmentPath,
                              FromUtf8(m.MimeType), MessageNote(m, context)});
  }
  out.push_back(std::move(thread));
}

QStringList MessageTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_MESSAGE_HEADER_NAME"), context.Text("IDS_RECOVERY_MESSAGE_HEADER_PHONE"),
          context.Text("IDS_RECOVERY_MESSAGE_HEADER_EMAIL"), context.Text("IDS_RECOVERY_MESSAGE_HEADER_COUNT")};
}

std::unique_ptr<CategoryExport> MessageTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  return std::make_unique<ChatsExport>(ChatKind::Messages, std::move(checked),
                                       ChatExportTexts::From(context, "IDS_RECOVERY_MAIN_MESSAGE"), context);
}

bool WhatsAppChatDeleted(const sieve::WaChat& chat) {
  return !chat.Messages.empty() &&
         std::all_of(chat.Messages.begin(), chat.Messages.end(), [](const sieve::WaMessage& m) { return m.Deleted != 0; });
}

// What a group event's system line says, in the program's language.
QString EventLine(const sieve::WaMessage& m, const ViewContext& context) {
  static constexpr std::pair<std::int32_t, const char*> kKeys[] = {
      {sieve::kWaEventCreated, "IDS_WHATSAPP_EVENT_CREATED"}, {sieve::kWaEventJoined, "IDS_WHATSAPP_EVENT_JOINED"},
      {sieve::kWaEventLeft, "IDS_WHATSAPP_EVENT_LEFT"},       {sieve::kWaEventRemoved, "IDS_WHATSAPP_EVENT_REMOVED"},
      {sieve::kWaEventSubject, "IDS_WHATSAPP_EVENT_SUBJECT"}, {sieve::kWaEventPicture, "IDS_WHATSAPP_EVENT_PICTURE"}};
  const QString who = m.SenderName.empty() ? context.Text("IDS_WHATSAPP_SOMEONE") : FromUtf8(m.SenderName);
  for (const auto& [event, key] : kKeys) {
    if (event != m.Event) continue;
    // Only some events say a second thing (the new subject); giving the others a second
    // argument makes QString warn on every line.
    const QString line = context.Text(key);
    return line.contains(QLatin1String("%2")) ? line.arg(who, FromUtf8(m.Text)) : line.arg(who);
  }
  return m.Text.empty() ? context.Text("IDS_WHATSAPP_EVENT_OTHER") : FromUtf8(m.Text);
}

void WhatsAppTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  ChatThread thread;
  thread.Name = FromUtf8(record.PartnerName);
  thread.Phone = FromUtf8(record.PhoneNumber);
  thread.Deleted = WhatsAppChatDeleted(record);
  for (const sieve::WaMessage& m : record.Messages) {
    // IsIncoming 1: the partner wrote it; a system line is no one's.
    ChatEntry entry{FromUtf8(m.Date), FromUtf8(m.Text), m.IsIncoming == 0, m.Deleted != 0, m.MediaPath, {}, {}};
    entry.Sender = FromUtf8(m.SenderName);
    if (m.Event != sieve::kWaNoEvent) {
      entry.System = true;
      entry.Outgoing = false;
      entry.Text = EventLine(m, context);
    }
    if (m.HasLocation != 0) {
      entry.Link = FromUtf8(sieve::MapLink(m.Latitude, m.Longitude));
      const QString position = QStringLiteral("%1, %2").arg(m.Latitude, 0, 'f', 6).arg(m.Longitude, 0, 'f', 6);
      entry.Note = context.Text("IDS_WHATSAPP_LOCATION").arg(position);
    }
    thread.Entries.push_back(std::move(entry));
  }
  out.push_back(std::move(thread));
}

QStringList WhatsAppTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_RECOVERY_MESSAGE_HEADER_NAME"), context.Text("IDS_RECOVERY_MESSAGE_HEADER_PHONE"),
          context.Text("IDS_RECOVERY_MESSAGE_HEADER_COUNT")};
}

QString WhatsAppTraits::Cell(const Item& item, int column) {
  return ChatTraitsBase::Cell(item, column < 2 ? column : column + 1);
}

std::unique_ptr<CategoryExport> WhatsAppTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  return std::make_unique<ChatsExport>(ChatKind::WhatsApp, std::move(checked),
                                       ChatExportTexts::From(context, "IDS_RECOVERY_MAIN_WHATSAPP"), context);
}

}  // namespace quarry::views
