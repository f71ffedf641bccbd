#include "quarry/views/voice_memo_model.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "quarry/views/file_copy_export.h"
#include "quarry/views/media_model.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const QString kExtension = QStringLiteral(".m4a");

}  // namespace

QString VoiceMemoName(const sieve::VoiceMemoRecord& record, const QString& unnamed) {
  const QString label = FromUtf8(record.CustomLabel).trimmed();
  if (!label.isEmpty()) return label;
  const QString file = FromUtf8(record.FileName);
  const QString last = file.mid(file.lastIndexOf(QRegularExpression(QStringLiteral("[/\\\\]"))) + 1).trimmed();
  // "x.m4a" alone would be all extension; such a memo is unnamed.
  return last.isEmpty() || last.compare(kExtension, Qt::CaseInsensitive) == 0 ? unnamed : last;
}

QString VoiceMemoFileName(const QString& name) {
  return name.endsWith(kExtension, Qt::CaseInsensitive) ? name : name + kExtension;
}

QString DurationText(const std::string& seconds) {
  bool ok = false;
  const qint64 total = FromUtf8(seconds).toLongLong(&ok);
  if (!ok || total < 0) return {};
  const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
  if (total >= 3600) return QString::number(total / 3600) + QLatin1Char(':') + two(total / 60 % 60) + QLatin1Char(':') + two(total % 60);
  return QString::number(total / 60) + QLatin1Char(':') + two(total % 60);
}

void VoiceMemoTraits::Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
  Item item;
  item.Name = VoiceMemoName(record, context.Text("IDS_VOICE_MEMO_UNNAMED"));
  item.Date = FromUtf8(record.Date);
  item.Duration = DurationText(record.Duration);
  // The library hands over a readable recording: the stored file, or for an encrypted
  // backup its decrypted copy (so its key is not used again).
  item.Path = record.OrgPath;
  item.Size = record.OrgPath.empty() ? 0 : QFileInfo(FromUtf8(record.OrgPath)).size();
  item.ModifiedTime = record.ModifiedTime;
  item.Deleted = record.Deleted != 0;
  out.push_back(std::move(item));
}

QStringList VoiceMemoTraits::Headers(const ViewContext& context) {
  return {context.Text("IDS_MEDIA_HEADER_NAME"), context.Text("IDS_MEDIA_HEADER_DATE"),
          context.Text("IDS_VOICE_MEMO_HEADER_DURATION"), context.Text("IDS_MEDIA_HEADER_SIZE")};
}

QString VoiceMemoTraits::Cell(const Item& item, int column) {
  switch (column) {
    case 0: return item.Name;
    case 1: return item.Date;
    case 2: return item.Duration;
    case 3: return SizeText(item.Size);
    default: return {};
  }
}

bool VoiceMemoTraits::Matches(const Item& item, const QString& lowerText) {
  return AnyContains(lowerText, item.Name, item.Date);
}

std::unique_ptr<CategoryExport> VoiceMemoTraits::Export(std::vector<Item> checked, const ViewContext& context) {
  std::vector<ExportedFile> files;
  files.reserve(checked.size());
  for (Item& item : checked) {
    files.push_back({VoiceMemoFileName(item.Name), QString(), std::move(item.Date), item.Size, item.Deleted,
                     std::move(item.Path), std::nullopt, item.ModifiedTime});
  }
  // Folder names in English, as every category's: a recovery's layout does not change with the language.
  return std::make_unique<FileCopyExport>(EnglishViewText(QStringLiteral("IDS_RECOVERY_MAIN_VOICE_MEMO")),
                                          std::move(files), context.files);
}

}  // namespace quarry::views
