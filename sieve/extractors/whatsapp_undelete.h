// Deleted WhatsApp messages carved out of the free space of ChatStorage.sqlite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sieve/sqlite/sqlite_delete.h"

namespace sieve {

// What a recovered ZWAMESSAGE cell tells: enough to put it into its chat.
struct RecoveredWaMessage {
  std::string chatJid;  // ZFROMJID for an incoming message, else ZTOJID
  bool incoming = false;
  std::int32_t messageType = 0;
  std::string text;
  double date = 0.0;    // ZMESSAGEDATE, seconds since 2001 as stored
  std::optional<std::int64_t> groupEventType;  // ZGROUPEVENTTYPE
  std::optional<std::int64_t> groupMember;     // ZGROUPMEMBER: Z_PK of the member in a group
  std::string pushName;                        // ZPUSHNAME: the name the sender chose
  bool truncated = false;
};

class CWhatAppUndelete : public CSqliteDelete {
 public:
  // Carves messages that are not live (the base leaves out copies of live rows); of one
  // message found with its text whole in one place and cut in another, the whole one is
  // kept. Returns the number kept, or the base's failure codes.
  int scan() override;
  const std::vector<RecoveredWaMessage>& Messages() const { return messages_; }

 protected:
  std::vector<RecordShape> Shapes() const override;
  ShapeTable TableOf(std::size_t shapeIndex) const override;
  bool Accept(std::size_t shapeIndex, const CarvedRecord& record) const override;
  void OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin& origin) override;

 private:
  // Positions of the columns read, in the stored record; -1 when the table lacks one.
  struct Columns {
    int ent = -1, type = -1, date = -1, from = -1, to = -1, text = -1, event = -1, member = -1, push = -1;
  };
  Columns Locate() const;
  bool Decode(const std::vector<sqlite::Value>& values, RecoveredWaMessage& out) const;

  Columns columns_;
  std::vector<RecoveredWaMessage> found_;
  std::vector<RecoveredWaMessage> messages_;
};

}  // namespace sieve
