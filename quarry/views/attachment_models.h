// The message and WhatsApp attachment views: one row per stored file (name,
// type, date, size); the export copies the checked files, decrypted, under
// their own names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct AttachmentItem {
  QString Name;  // cleaned, as the copy is called
  QString Type;  // MIME type
  QString Date;
  std::string StoredPath;
  sieve::OptionalFileKey Key;
  qint64 Size = 0;  // of the stored file, 0 when it is not there
  std::int64_t ModifiedTime = 0;  // seconds since 1970, 0 when not known
  bool Deleted = false;           // its database row was deleted; the file was still in the backup
};

// What the two views share; Record and Take are each view's own.
struct AttachmentTraitsBase {
  using Item = AttachmentItem;

  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Deleted(const Item& item) { return item.Deleted; }
  static bool Matches(const Item& item, const QString& lowerText);
  static qint64 Size(const Item& item) { return item.Size; }
};

struct SmsAttachmentTraits : AttachmentTraitsBase {
  using Record = sieve::SmsAttachment;
  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

struct WaAttachmentTraits : AttachmentTraitsBase {
  using Record = sieve::WaAttachment;
  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out);
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context);
};

class MessageAttachmentsModel : public ListModel<SmsAttachmentTraits> {
 public:
  explicit MessageAttachmentsModel(ViewContext context, QObject* parent = nullptr)
      : ListModel(std::move(context), parent) {}
};

class WhatsAppAttachmentsModel : public ListModel<WaAttachmentTraits> {
 public:
  explicit WhatsAppAttachmentsModel(ViewContext context, QObject* parent = nullptr)
      : ListModel(std::move(context), parent) {}
};

}  // namespace quarry::views
