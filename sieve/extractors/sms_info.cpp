#include "sieve/extractors/sms_info.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string_view>
#include <utility>

#include "sieve/extractors/index_entry.h"
#include "sieve/extractors/sms_reactions.h"
#include "sieve/extractors/typedstream.h"
#include "sieve/path_safety.h"
#include "sieve/reader/time_text.h"
#include "sieve/reader/version.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

constexpr std::string_view kPartsFolder = "Library/SMS/Parts/";
constexpr std::int64_t kMadridFromMe = 0x8000;  // see the carver: same bit in live rows
constexpr std::string_view kObjectReplacement = "\xEF\xBF\xBC";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The attachment table names files from the user's home ("~/Library/SMS/...") or, in
// some versions, by their absolute device path. The result is the path inside the
// backup's domain, or "" when it could point anywhere else.
std::string DevicePathOfAttachment(std::string_view filename) {
  for (std::string_view home : {"~/", "/private/var/mobile/", "/var/mobile/"}) {
    if (StartsWith(filename, home)) {
      filename.remove_prefix(home.size());
      break;
    }
  }
  if (!IsSafeRelativePath(filename)) return {};
  return std::string(filename);
}

std::string LastComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return SafeFileName(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A message that only stands for its attachment (empty, or the object-replacement mark).
bool OnlyStandsForAttachment(std::string_view text) {
  while (!text.empty()) {
    if (StartsWith(text, kObjectReplacement)) {
      text.remove_prefix(kObjectReplacement.size());
    } else if (text.front() == ' ' || text.front() == '\n') {
      text.remove_prefix(1);
    } else {
      return false;
    }
  }
  return true;
}

std::string DateOf(const sqlite::Statement& row, int column, bool since2001) {
  switch (row.Type(column)) {
    case SQLITE_INTEGER:
      return since2001 ? MacTimeText(row.Int64(column)) : UnixTimeText(row.Int64(column));
    case SQLITE_FLOAT:
      return since2001 ? MacTimeTextFromDouble(row.Double(column)) : UnixTimeTextFromDouble(row.Double(column));
    case SQLITE_TEXT:
      return since2001 ? MacTimeText(row.Text(column)) : UnixTimeText(row.Text(column));
    default:
      return kEmptyDateText;
  }
}

// The column if the table has it, else a constant in its place: newer systems add columns.
std::string ColumnOr(sqlite::Database& db, const char* column, const char* otherwise) {
  return db.HasColumn("message", column) ? std::string(column) : std::string(otherwise);
}

// The words of a live message row: the text column, else the archived attributedBody
// that newer systems keep instead.
std::string BodyOf(const sqlite::Statement& row, int textColumn, int bodyColumn) {
  std::string text = row.Text(textColumn);
  if (!text.empty() || row.Type(bodyColumn) != SQLITE_BLOB) return text;
  const std::vector<std::uint8_t> blob = row.Blob(bodyColumn);
  return typedstream::AttributedText(blob).value_or(std::string());
}

SmsAttachment AttachmentOf(const std::string& relative, const StoredFile& file, std::string mimeType) {
  SmsAttachment attachment;
  attachment.FileName = LastComponent(relative);
  attachment.BackupFile = file.path;
  attachment.MimeType = std::move(mimeType);
  attachment.RelativePath = relative;
  attachment.Key = file.key;
  attachment.ModifiedTime = file.modifiedTime;
  return attachment;
}

void SetDirection(SmsMessage& message, bool fromMe) {
  message.IsFromMe = fromMe ? 1 : 0;
  message.Direction = fromMe ? "OUT" : "IN";
}

// "1234-2.jpg" -> {1234, 2}; the MMS part files carry their message's ROWID.
bool ParsePartFileName(std::string_view name, std::int64_t& rowid, std::int64_t& part) {
  std::size_t i = 0;
  rowid = 0;
  part = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i < 18) rowid = rowid * 10 + (name[i++] - '0');
  if (i == 0 || i >= name.size() || name[i] != '-') return false;
  const std::size_t start = ++i;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && i - start < 9) part = part * 10 + (name[i++] - '0');
  // "1234-2-preview-left.jpg" is a picture of the part, not the part.
  return i > start && (i == name.size() || name[i] == '.');
}

}  // namespace

CSmsInfo::CSmsInfo() = default;
CSmsInfo::~CSmsInfo() = default;

void CSmsInfo::Register(const FileRegistration& file) {
  if (file.devicePath.empty() || !file.file.IsSet()) return;
  const bool known = files_.count(file.devicePath) != 0;
  files_[file.devicePath] = file.file;
  if (!known && file.devicePath.find(kPartsFolder) != std::string::npos) partPaths_.push_back(file.devicePath);
}

std::size_t CSmsInfo::RecordCount(_InfoType type) const {
  if (type == INFO_SMS) return conversations_.size();
  if (type == INFO_SMS_ATTACHMENT) return attachments_.size();
  return 0;
}

void* CSmsInfo::RecordAt(_InfoType type, std::size_t index) {
  if (index >= RecordCount(type)) return nullptr;
  if (type == INFO_SMS) return &conversations_[index];
  return &attachments_[index];
}

SmsConversation& CSmsInfo::ConversationFor(const std::string& key, const std::string& address, int deleted) {
  const auto [it, added] = conversationIndex_.emplace(key, conversations_.size());
  if (added) {
    SmsConversation conversation;
    conversation.Deleted = deleted;
    conversation.Address = address;
    conversations_.push_back(std::move(conversation));
  }
  return conversations_[it->second];
}

int CSmsInfo::read(std::string /*backupFolder*/) {
  conversations_.clear();
  attachments_.clear();
  conversationIndex_.clear();
  groupMembers_.clear();
  liveHandles_.clear();
  attachmentOfMessage_.clear();
  if (!MainDatabase.IsSet()) return SQLITE_CANTOPEN;
  const OpenableDatabase openable = PrepareDatabase(MainDatabase, "sms.db");
  if (!openable.ok) return SQLITE_CANTOPEN;
  sqlite::Database db;
  int result = db.Open(openable.path, openable.immutable);
  if (result != SQLITE_OK) return result;

  SmsLayout layout = SmsLayout::Newer;
  if (context_ != nullptr && CompareVersions(context_->productVersion, "6") < 0) layout = SmsLayout::Older;
  // A version text that disagrees with the file would lose every message: trust the tables.
  if (layout == SmsLayout::Newer && !db.TableExists("handle") && db.HasColumn("message", "address")) {
    layout = SmsLayout::Older;
  } else if (layout == SmsLayout::Older && db.TableExists("handle") && !db.HasColumn("message", "address")) {
    layout = SmsLayout::Newer;
  }
  result = layout == SmsLayout::Newer ? ReadNewer(db) : ReadOlder(db);
  db.Close();
  if (result != SQLITE_OK) {
    conversations_.clear();
    attachments_.clear();
    return result;
  }
  LinkAttachments();
  // A handle without messages makes no conversation.
  conversations_.erase(std::remove_if(conversations_.begin(), conversations_.end(),
                                      [](const SmsConversation& c) { return c.Messages.empty(); }),
                       conversations_.end());
  conversationIndex_.clear();
  RecoverDeleted(openable.path, layout);
  return 0;
}

int CSmsInfo::ReadNewer(sqlite::Database& db) {
  sqlite::Statement handles = db.Prepare("SELECT ROWID, id FROM handle ORDER BY ROWID");
  if (!handles.Ok()) return handles.Result() != SQLITE_OK ? handles.Result() : SQLITE_ERROR;
  while (handles.Step()) {
    const std::int64_t rowid = handles.Int64(0);
    liveHandles_[rowid] = handles.Text(1);
    ConversationFor("h:" + std::to_string(rowid), liveHandles_[rowid], 0);
  }

  std::map<std::int64_t, std::string> chatNames;
  if (db.TableExists("chat")) {
    sqlite::Statement chats = db.Prepare("SELECT ROWID, chat_identifier FROM chat");
    while (chats.Step()) chatNames[chats.Int64(0)] = chats.Text(1);
  }
  sqlite::Statement chatOfMessage;
  if (db.TableExists("chat_message_join")) {
    chatOfMessage = db.Prepare("SELECT chat_id FROM chat_message_join WHERE message_id = ?1 ORDER BY chat_id LIMIT 1");
  }
  sqlite::Statement membersOfChat;
  if (db.TableExists("chat_handle_join")) {
    membersOfChat = db.Prepare("SELECT handle_id FROM chat_handle_join WHERE chat_id = ?1 ORDER BY rowid");
  }

  // The first attachment of every message, in join order.
  std::map<std::int64_t, std::pair<std::string, std::string>> firstAttachment;
  if (db.TableExists("message_attachment_join") && db.TableExists("attachment")) {
    sqlite::Statement joins = db.Prepare(
        "SELECT j.message_id, a.filename, a.mime_type FROM message_attachment_join j "
        "JOIN attachment a ON a.ROWID = j.attachment_id ORDER BY j.message_id, j.rowid");
    while (joins.Step()) firstAttachment.emplace(joins.Int64(0), std::make_pair(joins.Text(1), joins.Text(2)));
  }

  // Older files lack the newer columns; each is read by name where it exists.
  const std::string sql = "SELECT ROWID, handle_id, date, text, is_from_me, " + ColumnOr(db, "guid", "NULL") + ", " +
                          ColumnOr(db, "attributedBody", "NULL") + ", " + ColumnOr(db, "date_edited", "0") + ", " +
                          ColumnOr(db, "date_retracted", "0") + ", " + ColumnOr(db, "is_audio_message", "0") + ", " +
                          ColumnOr(db, "associated_message_type", "0") + ", " +
                          ColumnOr(db, "associated_message_guid", "NULL") + " FROM message ORDER BY ROWID";
  sqlite::Statement messages = db.Prepare(sql);
  if (!messages.Ok()) return messages.Result() != SQLITE_OK ? messages.Result() : SQLITE_ERROR;
  std::map<std::string, std::pair<std::size_t, std::size_t>> byGuid;  // guid -> conversation, message
  struct PendingTapback {
    Tapback tapback;
    std::string sender;
    bool fromMe;
  };
  std::vector<PendingTapback> tapbacks;
  while (messages.Step()) {
    const std::int64_t rowid = messages.Int64(0);
    const std::int64_t handle = messages.Int64(1);
    const bool fromMe = messages.Int64(4) != 0;
    if (IsTapbackType(messages.Int64(10))) {
      // A reaction joins the message it answers once every message is read.
      if (auto tapback = ParseTapback(messages.Int64(10), messages.Text(11))) {
        const auto sender = liveHandles_.find(handle);
        tapbacks.push_back({std::move(*tapback), sender != liveHandles_.end() ? sender->second : std::string(), fromMe});
      }
      continue;
    }
    SmsMessage message;
    message.Unsent = messages.Int64(8) != 0 ? 1 : 0;
    message.Edited = messages.Int64(7) != 0 ? 1 : 0;
    message.IsAudio = messages.Int64(9) != 0 ? 1 : 0;
    if (message.Unsent == 0) message.Text = BodyOf(messages, 3, 6);
    message.Date = DateOf(messages, 2, true);
    SetDirection(message, fromMe);
    if (const auto attachment = firstAttachment.find(rowid); attachment != firstAttachment.end()) {
      message.AttachmentPath = DevicePathOfAttachment(attachment->second.first);
      message.AttachmentName = LastComponent(message.AttachmentPath);
      message.MimeType = attachment->second.second;
    }
    const std::string guid = messages.Text(5);
    const auto place = [&](SmsConversation& conversation) {
      if (!guid.empty()) byGuid[guid] = {static_cast<std::size_t>(&conversation - conversations_.data()),
                                         conversation.Messages.size()};
      conversation.Messages.push_back(std::move(message));
    };

    const auto live = handle != 0 ? liveHandles_.find(handle) : liveHandles_.end();
    if (live != liveHandles_.end()) {
      place(ConversationFor("h:" + std::to_string(handle), live->second, 0));
      continue;
    }
    // Sent to a group (handle_id 0), or from a handle that is gone: the message's chat holds it.
    std::int64_t chat = -1;
    if (chatOfMessage.Ok()) {
      chatOfMessage.Reset();
      chatOfMessage.Bind(1, rowid);
      if (chatOfMessage.Step()) chat = chatOfMessage.Int64(0);
    }
    if (chat < 0) {
      place(ConversationFor("u:", "", 0));
      continue;
    }
    const std::string key = "c:" + std::to_string(chat);
    const bool firstOfChat = conversationIndex_.count(key) == 0;
    const std::string& identifier = chatNames[chat];
    place(ConversationFor(key, identifier, 0));
    if (firstOfChat && membersOfChat.Ok()) {
      std::vector<std::string>& members = groupMembers_[identifier];
      membersOfChat.Reset();
      membersOfChat.Bind(1, chat);
      while (membersOfChat.Step()) {
        const auto member = liveHandles_.find(membersOfChat.Int64(0));
        if (member != liveHandles_.end()) members.push_back(member->second);
      }
    }
  }
  // In the order they were written, so that a removal follows what it takes back.
  for (const PendingTapback& pending : tapbacks) {
    const auto answered = byGuid.find(pending.tapback.answered);
    if (answered == byGuid.end()) continue;  // it answers a message no longer in the file
    SmsMessage& message = conversations_[answered->second.first].Messages[answered->second.second];
    ApplyTapback(message.Reactions, pending.tapback, pending.sender, pending.fromMe);
  }
  ReadAttachmentTable(db);
  return SQLITE_OK;
}

void CSmsInfo::ReadAttachmentTable(sqlite::Database& db) {
  if (!db.TableExists("attachment")) return;
  sqlite::Statement rows = db.Prepare("SELECT filename, mime_type FROM attachment ORDER BY ROWID");
  while (rows.Step()) {
    const std::string relative = DevicePathOfAttachment(rows.Text(0));
    if (relative.empty()) continue;
    const auto file = files_.find(relative);
    if (file == files_.end()) continue;
    attachments_.push_back(AttachmentOf(relative, file->second, rows.Text(1)));
  }
}

void CSmsInfo::LinkAttachments() {
  std::map<std::string, const SmsAttachment*> byPath;
  for (const SmsAttachment& attachment : attachments_) byPath.emplace(attachment.RelativePath, &attachment);
  for (SmsConversation& conversation : conversations_) {
    for (SmsMessage& message : conversation.Messages) {
      if (message.AttachmentPath.empty()) continue;
      const auto found = byPath.find(message.AttachmentPath);
      if (found == byPath.end()) continue;  // the file is not in the backup: keep its device path
      message.AttachmentPath = found->second->BackupFile;
      message.AttachmentName = found->second->FileName;
      message.AttachmentKey = found->second->Key;
      // The file's name stands in for a message that has no words of its own.
      if (OnlyStandsForAttachment(message.Text)) message.Text = found->second->FileName;
    }
  }
}

void CSmsInfo::CollectOlderParts(sqlite::Database& db) {
  // MIME types of the parts, and the first part of each message that is no text.
  std::map<std::pair<std::int64_t, std::int64_t>, std::string> partMime;
  std::map<std::int64_t, std::int64_t> firstPart;
  if (db.TableExists("msg_pieces")) {
    sqlite::Statement pieces = db.Prepare("SELECT message_id, part_id, content_type FROM msg_pieces ORDER BY message_id, part_id");
    while (pieces.Step()) {
      const std::string mime = pieces.Text(2);
      partMime[{pieces.Int64(0), pieces.Int64(1)}] = mime;
      if (!StartsWith(mime, "text/") && !StartsWith(mime, "application/smil")) {
        firstPart.emplace(pieces.Int64(0), pieces.Int64(1));
      }
    }
  }
  struct Part {
    std::int64_t rowid, part;
    const std::string* path;
  };
  std::vector<Part> parts;
  for (const std::string& path : partPaths_) {
    Part p{0, 0, &path};
    const std::string name = path.substr(path.rfind('/') + 1);
    if (ParsePartFileName(name, p.rowid, p.part)) parts.push_back(p);
  }
  std::sort(parts.begin(), parts.end(),
            [](const Part& a, const Part& b) { return std::tie(a.rowid, a.part) < std::tie(b.rowid, b.part); });
  for (const Part& p : parts) {
    const StoredFile& file = files_[*p.path];
    SmsAttachment attachment;
    attachment.FileName = LastComponent(*p.path);
    attachment.BackupFile = file.path;
    const auto mime = partMime.find({p.rowid, p.part});
    if (mime != partMime.end()) attachment.MimeType = mime->second;
    attachment.RelativePath = *p.path;
    attachment.Key = file.key;
    attachment.ModifiedTime = file.modifiedTime;
    const auto first = firstPart.find(p.rowid);
    const bool isFirst = first != firstPart.end() ? first->second == p.part : attachmentOfMessage_.count(p.rowid) == 0;
    if (isFirst) attachmentOfMessage_[p.rowid] = attachments_.size();
    attachments_.push_back(std::move(attachment));
  }
  // A message whose first picture part has no file falls back to its first file.
  for (const Part& p : parts) {
    if (attachmentOfMessage_.count(p.rowid) != 0) continue;
    for (std::size_t i = 0; i < attachments_.size(); ++i) {
      if (attachments_[i].RelativePath == *p.path) attachmentOfMessage_[p.rowid] = i;
    }
  }
}

int CSmsInfo::ReadOlder(sqlite::Database& db) {
  const bool madrid = db.HasColumn("message", "is_madrid") && db.HasColumn("message", "madrid_handle") &&
                      db.HasColumn("message", "madrid_flags");
  sqlite::Statement messages = db.Prepare(
      madrid ? "SELECT ROWID, address, date, text, flags, is_madrid, madrid_handle, madrid_flags FROM message ORDER BY ROWID"
             : "SELECT ROWID, address, date, text, flags, 0, NULL, 0 FROM message ORDER BY ROWID");
  if (!messages.Ok()) return messages.Result() != SQLITE_OK ? messages.Result() : SQLITE_ERROR;
  CollectOlderParts(db);
  while (messages.Step()) {
    // iMessages keep their party, direction and date (since 2001) in the madrid columns.
    const bool iMessage = messages.Int64(5) != 0;
    const std::string address = messages.Text(iMessage ? 6 : 1);
    SmsMessage message;
    const std::int64_t rowid = messages.Int64(0);
    message.RowId = static_cast<std::int32_t>(rowid);
    message.Text = messages.Text(3);
    message.Date = DateOf(messages, 2, iMessage);
    SetDirection(message, iMessage ? (messages.Int64(7) & kMadridFromMe) != 0 : messages.Int64(4) != 2);
    if (const auto attachment = attachmentOfMessage_.find(rowid); attachment != attachmentOfMessage_.end()) {
      const SmsAttachment& file = attachments_[attachment->second];
      message.AttachmentPath = file.BackupFile;
      message.AttachmentName = file.FileName;
      message.AttachmentKey = file.Key;
      message.MimeType = file.MimeType;
      if (OnlyStandsForAttachment(message.Text)) message.Text = file.FileName;
    }
    ConversationFor("a:" + address, address, 0).Messages.push_back(std::move(message));
  }
  return SQLITE_OK;
}

void CSmsInfo::RecoverDeleted(const std::string& path, SmsLayout layout) {
  CSmsSqlite engine(layout);
  if (engine.Load(path) != 0 || engine.scan() < 0) return;
  const std::map<std::int64_t, std::string> recoveredHandles =
      layout == SmsLayout::Newer ? RecoveredHandles(engine) : std::map<std::int64_t, std::string>{};
  std::map<std::string, std::size_t> liveByAddress;
  for (std::size_t i = 0; i < conversations_.size(); ++i) liveByAddress.emplace(conversations_[i].Address, i);

  for (const RecoveredSmsMessage& recovered : engine.Messages()) {
    std::string address = recovered.address;
    if (layout == SmsLayout::Newer) {
      if (const auto live = liveHandles_.find(recovered.handleId); live != liveHandles_.end()) {
        address = live->second;
      } else if (const auto gone = recoveredHandles.find(recovered.handleId); gone != recoveredHandles.end()) {
        address = gone->second;
      }
    }
    SmsMessage message;
    message.Deleted = 1;
    message.Edited = recovered.edited ? 1 : 0;
    message.Unsent = recovered.unsent ? 1 : 0;
    message.IsAudio = recovered.audio ? 1 : 0;
    message.Text = recovered.text;
    message.Date = recovered.dateSince2001 ? MacTimeText(recovered.date) : UnixTimeText(recovered.date);
    SetDirection(message, recovered.isFromMe != 0);

    if (const auto live = liveByAddress.find(address); live != liveByAddress.end()) {
      SmsConversation& conversation = conversations_[live->second];
      const bool duplicate = std::any_of(conversation.Messages.begin(), conversation.Messages.end(),
                                         [&](const SmsMessage& m) { return m.Text == message.Text && m.Date == message.Date; });
      if (!duplicate) conversation.Messages.push_back(std::move(message));
      continue;
    }
    ConversationFor("d:" + address, address, 1).Messages.push_back(std::move(message));
  }
  conversationIndex_.clear();
  AddDeletedAttachments(engine);
}

// Deleting a message deletes its attachment row; the file can outlive it in the backup.
void CSmsInfo::AddDeletedAttachments(const CSmsSqlite& engine) {
  std::set<std::string> listed;
  for (const SmsAttachment& attachment : attachments_) listed.insert(attachment.RelativePath);
  for (const RecoveredSmsAttachment& row : engine.Attachments()) {
    const std::string relative = DevicePathOfAttachment(row.filename);
    if (relative.empty() || !listed.insert(relative).second) continue;
    const auto file = files_.find(relative);
    if (file == files_.end()) continue;
    attachments_.push_back(AttachmentOf(relative, file->second, row.mimeType));
    attachments_.back().Deleted = 1;
  }
}

std::map<std::int64_t, std::string> CSmsInfo::RecoveredHandles(const CSmsSqlite& engine) const {
  std::map<std::int64_t, std::string> byRowid;
  std::vector<const RecoveredSmsHandle*> lost;
  std::set<std::pair<std::string, std::string>> seenLost;
  for (const RecoveredSmsHandle& handle : engine.Handles()) {
    if (handle.rowid >= 0) {
      byRowid.emplace(handle.rowid, handle.id);
    } else if (!handle.service.empty() && seenLost.insert({handle.id, handle.service}).second) {
      lost.push_back(&handle);
    }
  }
  // Messages that name a handle neither live nor recovered with its rowid.
  std::set<std::int64_t> orphans;
  for (const RecoveredSmsMessage& message : engine.Messages()) {
    if (message.handleId > 0 && liveHandles_.count(message.handleId) == 0 && byRowid.count(message.handleId) == 0) {
      orphans.insert(message.handleId);
    }
  }
  if (orphans.empty() || lost.empty()) return byRowid;
  // A handle whose cell lost its rowid is still named by its entry in the (id, service) index.
  std::vector<std::set<std::int64_t>> indexed;
  for (const RecoveredSmsHandle* handle : lost) {
    indexed.push_back(RowidsIndexedUnder(engine.Bytes(), handle->id + handle->service,
                                         [&](std::int64_t rowid) { return orphans.count(rowid) != 0; }));
  }
  const std::vector<std::int64_t> assigned = AssignLostRowids(indexed, orphans);
  for (std::size_t i = 0; i < lost.size(); ++i) {
    if (assigned[i] >= 0) byRowid.emplace(assigned[i], lost[i]->id);
  }
  return byRowid;
}

void CSmsInfo::FillContactNames(const ContactNameLookup& lookup) {
  if (!lookup) return;
  for (SmsConversation& conversation : conversations_) {
    if (!conversation.ContactName.empty()) continue;
    const auto group = conversation.Deleted == 0 ? groupMembers_.find(conversation.Address) : groupMembers_.end();
    if (group == groupMembers_.end()) {
      conversation.ContactName = lookup(conversation.Address);
      continue;
    }
    std::string names;
    for (const std::string& member : group->second) {
      const std::string name = lookup(member);
      if (name.empty()) continue;
      if (!names.empty()) names += ", ";
      names += name;
    }
    conversation.ContactName = names;
  }
}

}  // namespace sieve
