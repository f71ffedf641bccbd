// What the messages and WhatsApp views keep of one conversation: who it was with,
// and its messages in order, each with its direction, date, deleted mark and the
// stored file it carried.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "quarry/views/file_source.h"

namespace quarry::views {

struct ChatEntry {
  QString Date;
  QString Text;
  bool Outgoing = false;  // written by the device's owner
  bool Deleted = false;   // recovered from the database's free space
  std::string AttachmentPath;  // the stored file (or the device path when it is not in the backup), "" for none
  QString MimeType;
  QString Note;  // what else the message says of itself: edited, unsent, audio, reactions; "" for nothing
  QString Sender{};  // in a group: the member who wrote it; "" otherwise
  bool System = false;  // a line no one wrote (a group event): shown centred, neither sent nor received
  QString Link{};   // a map link for a shared location; "" for none

  // The text with its note on a line of its own, as views and exports show it.
  QString ShownText() const;
};

struct ChatThread {
  QString Name;
  QString Phone;
  QString Email;
  bool Deleted = false;  // the conversation itself exists only in recovered messages
  std::vector<ChatEntry> Entries;

  // The conversation or one of its messages was recovered.
  bool HoldsDeleted() const;
  // Name, else phone number, else e-mail address.
  QString Title() const;
  // Phone number, else e-mail address.
  QString Address() const;
};

// The attachment as the export names and reads it: the name the attachment's own
// record gave (or the stored file's last part with the extension its type implies)
// and the key that opens it in an encrypted backup.
struct ChatAttachment {
  QString Name;
  sieve::OptionalFileKey Key;
};
ChatAttachment ResolveAttachment(const ChatEntry& entry, const FileSource& files);

// True for pictures a page can show inline (by MIME type, else by extension).
bool IsPicture(const QString& mimeType, const QString& fileName);

}  // namespace quarry::views
