// Text and iMessage conversations of sms.db, with their attachment files and the
// messages recovered from the file's free space.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "sieve/extractors/database_info.h"
#include "sieve/extractors/sms_sqlite.h"
#include "sieve/records.h"

namespace sieve::sqlite {
class Database;
}

namespace sieve {

class CSmsInfo : public CDatabaseInfo {
 public:
  CSmsInfo();
  ~CSmsInfo() override;

  int read(std::string backupFolder) override;
  void Register(const FileRegistration& file) override;
  std::size_t RecordCount(_InfoType type) const override;
  void* RecordAt(_InfoType type, std::size_t index) override;
  // Group conversations get their members' names; others the name of their address.
  void FillContactNames(const ContactNameLookup& lookup) override;

  const std::vector<SmsConversation>& Conversations() const { return conversations_; }
  const std::vector<SmsAttachment>& Attachments() const { return attachments_; }

 private:
  int ReadNewer(sqlite::Database& db);
  int ReadOlder(sqlite::Database& db);
  void RecoverDeleted(const std::string& path, SmsLayout layout);
  void AddDeletedAttachments(const CSmsSqlite& engine);
  // Handle rowid -> id of the handles recovered from free space, lost rowids found again.
  std::map<std::int64_t, std::string> RecoveredHandles(const CSmsSqlite& engine) const;
  SmsConversation& ConversationFor(const std::string& key, const std::string& address, int deleted);
  void ReadAttachmentTable(sqlite::Database& db);
  void LinkAttachments();
  void CollectOlderParts(sqlite::Database& db);
  void Finish();

  std::unordered_map<std::string, StoredFile> files_;  // device path -> stored file
  std::vector<std::string> partPaths_;                 // device paths under Library/SMS/Parts, in index order
  std::vector<SmsConversation> conversations_;
  std::vector<SmsAttachment> attachments_;
  std::map<std::string, std::size_t> conversationIndex_;         // key -> position (while reading)
  std::map<std::string, std::vector<std::string>> groupMembers_;  // chat identifier -> member addresses
  std::map<std::int64_t, std::string> liveHandles_;              // handle rowid -> id
  std::map<std::int64_t, std::size_t> attachmentOfMessage_;      // older layout: rowid -> attachment
};

}  // namespace sieve
