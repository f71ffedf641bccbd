#include "sieve/extractors/whatsapp_info.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include <sqlite3.h>

#include "sieve/extractors/whatsapp_system.h"
#include "sieve/extractors/whatsapp_undelete.h"
#include "sieve/path_safety.h"
#include "sieve/private_folder.h"
#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

constexpr std::int32_t kContactMessageType = 4;
constexpr std::string_view kCardStart = "BEGIN:VCARD";
// Room for ".vcf" and a "-N" made by the private folder within a file-name limit of 255.
constexpr std::size_t kMaxCardNameBytes = 200;

// A message shares a contact when WhatsApp typed it so, or when an old client sent the
// card as its text. Photo items also fill the card columns (MIME type and hash), so those
// columns alone say nothing.
bool IsSharedContact(std::int32_t messageType, std::string_view text) {
  return messageType == kContactMessageType || text.starts_with(kCardStart);
}

// The card's own "FN:" line, for a card shared without a name.
std::string FormattedName(std::string_view card) {
  for (std::size_t start = 0; start < card.size();) {
    std::size_t end = card.find('\n', start);
    if (end == std::string_view::npos) end = card.size();
    std::string_view line = card.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with("FN:")) return std::string(line.substr(3));
    start = end + 1;
  }
  return {};
}

// The name of the card's file, safe to create in any folder.
std::string CardFileName(std::string_view vcardName, std::string_view card) {
  std::string name(vcardName);
  if (name.empty()) name = FormattedName(card);
  if (name.empty()) name = "contact";
  return SafeFileName(Utf8Prefix(name, kMaxCardNameBytes)) + ".vcf";
}

// The vCard text of a shared contact: the item's card, else the message text that is one.
std::string_view CardText(std::string_view itemCard, std::string_view messageText) {
  if (!itemCard.starts_with(kCardStart) && messageText.starts_with(kCardStart)) return messageText;
  return itemCard;
}

// "NULL" stands in for a column an older layout lacks, so one query serves every layout.
std::string Column(sqlite::Database& db, std::string_view table, std::string_view alias, std::string_view column) {
  return db.HasColumn(table, column) ? std::string(alias) + "." + std::string(column) : std::string("NULL");
}

std::string PhoneNumberOf(const std::string& jid) { return jid.substr(0, jid.rfind('@')); }

std::string_view LastPart(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The same path with ".thumb" in place of its extension: where WhatsApp keeps the thumbnail.
std::string ThumbnailPathFor(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t slash = path.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return std::string(path.substr(0, dot)) + ".thumb";
}

}  // namespace

CWhatAppInfo::~CWhatAppInfo() = default;

void CWhatAppInfo::Register(const FileRegistration& file) {
  if (file.action == RuleAction::Thumbnail) {
    thumbnails_.Add(file.devicePath, file.file);
    return;
  }
  // A ".thumb" under WhatsApp's media folder matches both rules; it is only a thumbnail.
  if (ToLowerAscii(file.devicePath).find(".thumb") != std::string::npos) return;
  media_.Add(file.devicePath, file.file);
}

const WaMediaFile* CWhatAppInfo::MediaFileOf(std::string_view localPath, std::string_view xmppThumbPath,
                                             std::string_view thumbnailPath) const {
  if (const WaMediaFile* full = media_.Find(localPath)) return full;
  for (const std::string_view path : {xmppThumbPath, thumbnailPath}) {
    if (const WaMediaFile* thumb = thumbnails_.Find(path)) return thumb;
  }
  return thumbnails_.Find(ThumbnailPathFor(localPath));
}

WaChat* CWhatAppInfo::ChatOf(const std::string& jid, bool create) {
  const auto found = chatByJid_.find(jid);
  if (found != chatByJid_.end()) return &chats_[found->second];
  if (!create || jid.find('@') == std::string::npos) return nullptr;
  chatByJid_.emplace(jid, chats_.size());
  WaChat chat;
  chat.PhoneNumber = PhoneNumberOf(jid);
  chats_.push_back(std::move(chat));
  return &chats_.back();
}

int CWhatAppInfo::read(std::string /*backupFolder*/) {
  chats_.clear();
  chatByJid_.clear();
  attachments_.clear();
  const OpenableDatabase openable = PrepareDatabase(MainDatabase, "ChatStorage.sqlite");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  const int opened = db.Open(openable.path, openable.immutable);
  if (opened != 0) return opened;
  if (!db.TableExists("ZWACHATSESSION") || !db.TableExists("ZWAMESSAGE")) return 0;
  ReadMembers(db);
  ReadChats(db);
  if (db.TableExists("ZWAMEDIAITEM")) ReadAttachments(db);
  db.Close();

  CWhatAppUndelete engine;
  if (engine.Load(openable.path) == 0 && engine.scan() > 0) AddRecovered(engine.Messages());
  return 0;
}

void CWhatAppInfo::ReadMembers(sqlite::Database& db) {
  members_.clear();
  if (!db.TableExists("ZWAGROUPMEMBER")) return;
  const auto member = [&](std::string_view column) { return Column(db, "ZWAGROUPMEMBER", "g", column); };
  sqlite::Statement rows = db.Prepare("SELECT g.Z_PK, " + member("ZCONTACTNAME") + ", " + member("ZFIRSTNAME") + ", " +
                                      member("ZMEMBERJID") + " FROM ZWAGROUPMEMBER g");
  if (!rows.Ok()) return;
  while (rows.Step()) members_[rows.Int64(0)] = {rows.Text(1), rows.Text(2), rows.Text(3)};
}

void CWhatAppInfo::ReadChats(sqlite::Database& db) {
  sqlite::Statement sessions = db.Prepare("SELECT ZCONTACTJID, ZPARTNERNAME FROM ZWACHATSESSION ORDER BY Z_PK");
  if (!sessions.Ok()) return;
  const bool hasItems = db.TableExists("ZWAMEDIAITEM");
  const bool hasMembers = db.TableExists("ZWAGROUPMEMBER") && db.HasColumn("ZWAMESSAGE", "ZGROUPMEMBER");
  const auto item = [&](std::string_view column) {
    return hasItems ? Column(db, "ZWAMEDIAITEM", "i", column) : std::string("NULL");
  };
  const auto member = [&](std::string_view column) {
    return hasMembers ? Column(db, "ZWAGROUPMEMBER", "g", column) : std::string("NULL");
  };
  const auto message = [&](std::string_view column) { return Column(db, "ZWAMESSAGE", "m", column); };
  // The chat's JID is bound, never written into the query.
  const std::string sql = "SELECT m.ZMEDIAITEM, m.ZMESSAGEDATE, m.ZFROMJID, m.ZTEXT, m.ZMESSAGETYPE, " +
                          item("ZMEDIALOCALPATH") + ", " + item("ZXMPPTHUMBPATH") + ", " +
                          item("ZTHUMBNAILLOCALPATH") + ", " + item("ZVCARDSTRING") + ", " + item("ZVCARDNAME") + ", " +
                          message("ZGROUPEVENTTYPE") + ", " + message("ZPUSHNAME") + ", " + member("ZCONTACTNAME") +
                          ", " + member("ZFIRSTNAME") + ", " + member("ZMEMBERJID") + ", " + item("ZLATITUDE") + ", " +
                          item("ZLONGITUDE") + ", " + item("ZTITLE") + " FROM ZWAMESSAGE m" +
                          (hasItems ? " LEFT JOIN ZWAMEDIAITEM i ON i.Z_PK = m.ZMEDIAITEM" : "") +
                          (hasMembers ? " LEFT JOIN ZWAGROUPMEMBER g ON g.Z_PK = m.ZGROUPMEMBER" : "") +
                          " WHERE m.ZFROMJID = ?1 OR m.ZTOJID = ?1 ORDER BY m.Z_PK";
  sqlite::Statement messages = db.Prepare(sql);
  if (!messages.Ok()) return;
  while (sessions.Step()) {
    const std::string jid = sessions.Text(0);
    if (jid.find('@') == std::string::npos || chatByJid_.contains(jid)) continue;
    WaChat* chat = ChatOf(jid, true);
    chat->PartnerName = sessions.Text(1);
    const bool group = IsGroupJid(jid);
    messages.Reset();
    messages.Bind(1, jid);
    while (messages.Step()) {
      WaMessage message;
      message.IsIncoming = messages.Text(2).empty() ? 0 : 1;
      message.MessageType = messages.Int(4);
      message.Date = MacTimeTextFromDouble(messages.Double(1));
      const std::string text = messages.Text(3);
      message.Event = WaEventOf(message.MessageType,
                                messages.IsNull(10) ? std::nullopt : std::optional<std::int64_t>(messages.Int64(10)));
      // In a group, the member's name; an event names the member who caused it.
      if (group && (message.IsIncoming != 0 || message.Event != kWaNoEvent)) {
        message.SenderName = WaMemberName(messages.Text(12), messages.Text(13), messages.Text(11), messages.Text(14));
      }
      if (message.Event != kWaNoEvent) {
        message.Text = text;
      } else if (IsSharedContact(message.MessageType, text)) {
        message.Text = CardFileName(messages.Text(9), CardText(messages.Text(8), text));
      } else if (message.MessageType == kWaLocationType) {
        message.Text = text.empty() ? messages.Text(17) : text;
        const double latitude = messages.Double(15), longitude = messages.Double(16);
        if (!messages.IsNull(15) && !messages.IsNull(16) && IsMapPosition(latitude, longitude)) {
          message.HasLocation = 1;
          message.Latitude = latitude;
          message.Longitude = longitude;
        }
      } else {
        message.Text = text;
        if (messages.Int64(0) != 0) {
          if (const WaMediaFile* file = MediaFileOf(messages.Text(5), messages.Text(6), messages.Text(7))) {
            message.MediaPath = file->file.path;
          }
        }
      }
      chat->Messages.push_back(std::move(message));
    }
  }
}

void CWhatAppInfo::ReadAttachments(sqlite::Database& db) {
  const auto item = [&](std::string_view column) { return Column(db, "ZWAMEDIAITEM", "i", column); };
  const std::string sql = "SELECT " + item("ZMEDIALOCALPATH") + ", " + item("ZXMPPTHUMBPATH") + ", " +
                          item("ZTHUMBNAILLOCALPATH") + ", " + item("ZVCARDSTRING") + ", " + item("ZVCARDNAME") +
                          ", m.Z_PK, m.ZMESSAGEDATE, m.ZMESSAGETYPE, m.ZTEXT FROM ZWAMEDIAITEM i" +
                          " LEFT JOIN ZWAMESSAGE m ON m.Z_PK = " + item("ZMESSAGE") + " ORDER BY i.Z_PK";
  sqlite::Statement items = db.Prepare(sql);
  if (!items.Ok()) return;
  while (items.Step()) {
    const bool hasMessage = !items.IsNull(5);
    const std::string card = items.Text(3);
    const std::string messageText = items.Text(8);
    WaAttachment attachment;
    attachment.Date = MacTimeTextFromDouble(items.Double(6));
    const bool sharedContact = hasMessage ? IsSharedContact(items.Int(7), messageText) : card.starts_with(kCardStart);
    if (sharedContact) {
      // The card exists only as database text: it becomes a file in the private folder.
      if (context_ == nullptr || context_->privateFolder == nullptr) continue;
      attachment.Text = CardFileName(items.Text(4), CardText(card, messageText));
      attachment.FilePath = context_->privateFolder->NewFilePath(attachment.Text);
      if (attachment.FilePath.empty()) continue;
      const std::string_view bytes = CardText(card, messageText);
      std::ofstream out(attachment.FilePath, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      if (!out) continue;
    } else {
      const WaMediaFile* file = MediaFileOf(items.Text(0), items.Text(1), items.Text(2));
      if (file == nullptr) continue;
      attachment.Text = SafeFileName(LastPart(file->devicePath));
      attachment.FilePath = file->file.path;
      attachment.Key = file->file.key;
      attachment.ModifiedTime = file->file.modifiedTime;
    }
    attachments_.push_back(std::move(attachment));
  }
}

void CWhatAppInfo::AddRecovered(const std::vector<RecoveredWaMessage>& recovered) {
  std::vector<const RecoveredWaMessage*> byDate;
  for (const RecoveredWaMessage& m : recovered) byDate.push_back(&m);
  std::stable_sort(byDate.begin(), byDate.end(),
                   [](const RecoveredWaMessage* a, const RecoveredWaMessage* b) { return a->date < b->date; });
  for (const RecoveredWaMessage* m : byDate) {
    WaChat* chat = ChatOf(m->chatJid, true);
    if (chat == nullptr) continue;
    WaMessage message;
    message.Deleted = 1;
    message.IsIncoming = m->incoming ? 1 : 0;
    message.MessageType = m->messageType;
    message.Event = WaEventOf(m->messageType, m->groupEventType);
    if (m->groupMember) {
      const auto member = members_.find(*m->groupMember);
      if (member != members_.end()) {
        const GroupMember& g = member->second;
        message.SenderName = WaMemberName(g.contactName, g.firstName, m->pushName, g.jid);
      }
    }
    message.Text = message.Event == kWaNoEvent && IsSharedContact(m->messageType, m->text) && m->text.starts_with(kCardStart)
                       ? CardFileName({}, m->text)
                       : m->text;
    message.Date = MacTimeTextFromDouble(m->date);
    chat->Messages.push_back(std::move(message));
  }
}

std::size_t CWhatAppInfo::RecordCount(_InfoType type) const {
  if (type == INFO_WHATSAPP) return chats_.size();
  if (type == INFO_WHATSAPP_ATTACHMENT) return attachments_.size();
  return 0;
}

void* CWhatAppInfo::RecordAt(_InfoType type, std::size_t index) {
  if (type == INFO_WHATSAPP && index < chats_.size()) return &chats_[index];
  if (type == INFO_WHATSAPP_ATTACHMENT && index < attachments_.size()) return &attachments_[index];
  return nullptr;
}

}  // namespace sieve
