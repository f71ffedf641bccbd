// Deleted handles, messages and attachment rows of sms.db, carved out of the file's history.
// Shapes follow the columns the file really has, so every system version's layout is found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

enum class SmsLayout { Older, Newer };  // one message table (before iOS 6) / handle and message tables

struct RecoveredSmsHandle {
  std::int64_t rowid = -1;  // -1 when the cell's first bytes were overwritten
  std::string id;
  std::string service;  // "SMS", "iMessage"; with id the key of the handle's index
};

struct RecoveredSmsMessage {
  std::int64_t rowid = -1;
  std::int64_t handleId = 0;  // newer layout: the handle row the message belonged to
  std::string address;        // older layout: the party, from address or madrid_handle
  std::int64_t date = 0;
  bool dateSince2001 = true;  // older SMS rows count from 1970
  int isFromMe = 0;
  bool edited = false;  // date_edited set: text is the latest version
  bool unsent = false;  // date_retracted set
  bool audio = false;
  std::string text;     // from the text column, else from the archived attributedBody
};

// An attachment row of the newer layout that was deleted; its file may still be in the backup.
struct RecoveredSmsAttachment {
  std::string filename;  // as the row names it ("~/Library/SMS/Attachments/...")
  std::string mimeType;
};

class CSmsSqlite : public CSqliteDelete {
 public:
  explicit CSmsSqlite(SmsLayout layout) : layout_(layout) {}
  ~CSmsSqlite() override;

  int scan() override;

  const std::vector<RecoveredSmsHandle>& Handles() const { return handles_; }
  const std::vector<RecoveredSmsMessage>& Messages() const { return messages_; }
  const std::vector<RecoveredSmsAttachment>& Attachments() const { return attachments_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  struct Columns {  // positions in the message / handle shapes; -1 when the file lacks one
    int guid = -1, text = -1, handleId = -1, date = -1, isFromMe = -1;
    int address = -1, flags = -1, isMadrid = -1, madridHandle = -1, madridFlags = -1;
    int handleIdText = -1, handleService = -1;
    int body = -1, associatedType = -1, edited = -1, retracted = -1, audio = -1;  // newer systems' message columns
    int attachmentGuid = -1, attachmentFile = -1, attachmentMime = -1;
  };
  // Which shape a record was carved with: the order Shapes() gives them in.
  enum class Shape { kMessage, kHandle, kAttachment };

  std::vector<RecordShape> BuildShapes(std::vector<Shape>& order) const;
  Shape ShapeAt(std::size_t index) const;
  std::string BodyText(const std::vector<sqlite::Value>& values) const;

  SmsLayout layout_;
  Columns columns_;
  std::vector<Shape> shapes_;  // the shape of each index Shapes() gave
  std::vector<RecoveredSmsHandle> handles_;
  std::vector<RecoveredSmsMessage> messages_;
  std::vector<RecoveredSmsAttachment> attachments_;
};

}  // namespace sieve
