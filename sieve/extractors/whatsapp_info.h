// WhatsApp chats from ChatStorage.sqlite: every chat session with its messages (group
// members named, group events as system lines, shared locations with their coordinates),
// the media items as attachments linked to their files in the backup, and deleted messages
// recovered from the database's free space and its log's history.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/extractors/whatsapp_media_index.h"
#include "sieve/records.h"

namespace sieve {

namespace sqlite {
class Database;
}
struct RecoveredWaMessage;

class CWhatAppInfo : public CDatabaseInfo {
 public:
  ~CWhatAppInfo() override;

  int read(std::string backupFolder) override;
  void Register(const FileRegistration& file) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;

  const std::vector<WaChat>& Chats() const { return chats_; }
  const std::vector<WaAttachment>& Attachments() const { return attachments_; }

 private:
  void ReadMembers(sqlite::Database& db);
  void ReadChats(sqlite::Database& db);
  void ReadAttachments(sqlite::Database& db);
  void AddRecovered(const std::vector<RecoveredWaMessage>& recovered);
  WaChat* ChatOf(const std::string& jid, bool create);
  // The backup file of a media item: the full file, else its thumbnail; nullptr when neither.
  const WaMediaFile* MediaFileOf(std::string_view localPath, std::string_view xmppThumbPath,
                                 std::string_view thumbnailPath) const;

  CWaMediaIndex media_;
  CWaMediaIndex thumbnails_;
  std::vector<WaChat> chats_;
  std::map<std::string, std::size_t> chatByJid_;
  struct GroupMember {
    std::string contactName, firstName, jid;
  };
  std::map<std::int64_t, GroupMember> members_;  // by ZWAGROUPMEMBER Z_PK
  std::vector<WaAttachment> attachments_;
};

}  // namespace sieve
