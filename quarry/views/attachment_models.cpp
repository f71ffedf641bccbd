#include "quarry/views/attachment_models.h"

#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>

#include "quarry/views/attachments_export.h"
#include "quarry/views/export_text.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

qint64 StoredSize(const std::string& path) {
  const QFileInfo info(FromUtf8(path));
  return info.isFile() ? info.size() : 0;
}

// The record's own file name, cleaned for the copy; the name also tells the stored
// file's messages what to call it and which key opens it.
AttachmentItem ItemOf(const std::string& name, const std::string& storedPath, const sieve::OptionalFileKey& key,
                      const ViewContext& context) {
  context.Files().NoteStoredFile(storedPath, {name, key});
  AttachmentItem item;
  item.Name = CleanFileName(FromUtf8(name), QStringLiteral("attachment"));
  item.StoredPath = storedPath;
  item.Key = key;
  item.Size = StoredSize(storedPath);
  return item;
}

}  // namespace


QStringList AttachmentTraitsBase::Headers(const ViewContext& context) {
  return {context.Text("IDS_ATTACHMENT_HEADER_NAME"), context.Text("IDS_ATTACHMENT_HEADER_TYPE"),
          context.Text("IDS_ATTACHMENT_HEADER_DATE"), context.Text("IDS_ATTACHMENT_HEADER_SIZE")};
}

QString AttachmentTraitsBase::Cell(const Item& item, int column) {
  switch (column) {
    case 0: return item.Name;
    case 1: return item.Type;
    case 2: return item.Date;
    case 3: return QLocale::c().formattedDataSize(item.Size);
    default: return {};
  }
}

bool AttachmentTraitsBase::Matches(const Item& item, const QString& lowerText) {
  return AnyContains(lowerText, item.Name, item.Type, item.Date);
}

void SmsAttachmentTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  AttachmentItem item = ItemOf(record.FileName, record.BackupFile, record.Key, context);
  item.Type = FromUtf8(record.MimeType);
  item.ModifiedTime = record.ModifiedTime;
  item.Deleted = record.Deleted != 0;
  out.push_back(std::move(item));
}

std::unique_ptr<CategoryExport> SmsAttachmentTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  return std::make_unique<AttachmentsExport>(QStringLiteral("Message Attachments"), std::move(checked), context);
}

void WaAttachmentTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  AttachmentItem item = ItemOf(record.Text, record.FilePath, record.Key, context);
  // WhatsApp keeps no type with the file: its name tells it.
  const QMimeType type = QMimeDatabase().mimeTypeForFile(item.Name, QMimeDatabase::MatchExtension);
  if (type.isValid() && !type.isDefault()) item.Type = type.name();
  item.Date = FromUtf8(record.Date);
  item.ModifiedTime = record.ModifiedTime;
  out.push_back(std::move(item));
}

std::unique_ptr<CategoryExport> WaAttachmentTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  return std::make_unique<AttachmentsExport>(QStringLiteral("WhatsApp Attachments"), std::move(checked), context);
}

}  // namespace quarry::views
