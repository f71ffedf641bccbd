#include "quarry/views/chat_item.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <algorithm>

#include "quarry/views/export_text.h"

namespace quarry::views {

QString ChatEntry::ShownText() const {
  if (Note.isEmpty()) return Text;
  return Text.isEmpty() ? Note : Text + QLatin1Char('\n') + Note;
}

bool ChatThread::HoldsDeleted() const {
  return Deleted || std::any_of(Entries.begin(), Entries.end(), [](const ChatEntry& e) { return e.Deleted; });
}

QString ChatThread::Title() const {
  if (!Name.isEmpty()) return Name;
  return Address();
}

QString ChatThread::Address() const { return Phone.isEmpty() ? Email : Phone; }

ChatAttachment ResolveAttachment(const ChatEntry& entry, const FileSource& files) {
  ChatAttachment out;
  if (entry.AttachmentPath.empty()) return out;
  if (const auto noted = files.NotedFile(entry.AttachmentPath)) {
    out.Key = noted->key;
    out.Name = QString::fromStdString(noted->name);
  }
  if (out.Name.isEmpty()) {
    // Stored files are named by their hash: the type gives the extension back.
    out.Name = QFileInfo(QString::fromStdString(entry.AttachmentPath)).fileName();
    const QMimeType type = QMimeDatabase().mimeTypeForName(entry.MimeType);
    if (type.isValid() && !type.preferredSuffix().isEmpty() && QFileInfo(out.Name).suffix().isEmpty()) {
      out.Name += QLatin1Char('.') + type.preferredSuffix();
    }
  }
  out.Name = CleanFileName(out.Name, QStringLiteral("attachment"));
  return out;
}

bool IsPicture(const QString& mimeType, const QString& fileName) {
  if (!mimeType.isEmpty()) return mimeType.startsWith(QLatin1String("image/"), Qt::CaseInsensitive);
  static const QStringList pictures = {QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("png"),
                                       QStringLiteral("gif"),  QStringLiteral("heic"), QStringLiteral("bmp"),
                                       QStringLiteral("webp"), QStringLiteral("tif"),  QStringLiteral("tiff"),
                                       QStringLiteral("thumb")};  // WhatsApp keeps its pictures as .thumb JPEGs
  return pictures.contains(QFileInfo(fileName).suffix().toLower());
}

}  // namespace quarry::views
