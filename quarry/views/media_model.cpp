#include "quarry/views/media_model.h"

#include <QFileInfo>
#include <algorithm>
#include <map>

#include "quarry/views/exif_date.h"
#include "quarry/views/file_copy_export.h"
#include "quarry/views/media_dates.h"
#include "quarry/views/picture_file.h"

namespace quarry::views {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

enum Column { kName, kGroup, kDate, kSize, kDeleted };

// The date a camera-roll picture was taken: its Exif date, else the time the index
// gives the file. The Exif block is read from plain files only: reading it from an
// encrypted backup would decrypt every picture of the backup while the scan runs.
QString TakenDate(const sieve::MediaFile& file, std::int64_t modifiedTime, const ViewContext& context) {
  if (!file.DateTaken.empty()) return FromUtf8(file.DateTaken);
  if (!file.FileKey) {
    const QString readable = context.Files().ReadablePath(file.FilePath, file.FileKey);
    const QString exif = readable.isEmpty() ? QString() : ExifDateTakenOfFile(readable);
    if (!exif.isEmpty()) return DateTextOfExif(exif);
  }
  return DateTextOfSeconds(modifiedTime);
}

// The camera roll is written day by day, in the order the days first appear.
void OrderByDay(std::vector<MediaItem>& items) {
  std::map<QString, std::size_t> firstSeen;
  for (const MediaItem& item : items) firstSeen.try_emplace(item.Group, firstSeen.size());
  std::stable_sort(items.begin(), items.end(), [&firstSeen](const MediaItem& a, const MediaItem& b) {
    return firstSeen.at(a.Group) < firstSeen.at(b.Group);
  });
}

}  // namespace

QString SizeText(qint64 bytes) {
  // Whole kilobytes in one unit, so that a click on the header sorts by value.
  return QString::number((bytes + 1023) / 1024) + QStringLiteral(" KB");
}

const char* MediaCaptionKey(MediaKind kind) {
  switch (kind) {
    case MediaKind::CameraRoll: return "IDS_RECOVERY_MAIN_CAMERA_ROLL";
    case MediaKind::PhotoStream: return "IDS_RECOVERY_MAIN_PHOTO_STREAM";
    case MediaKind::AppPictures: return "IDS_RECOVERY_MAIN_APP_PHOTO";
    case MediaKind::AppVideos: return "IDS_RECOVERY_MAIN_APP_VIDEO";
    case MediaKind::AppDocuments: return "IDS_RECOVERY_MAIN_APP_DOC";
    case MediaKind::Music: return "IDS_RECOVERY_MAIN_MUSIC";
  }
  return "";
}

bool IsPictureKind(MediaKind kind) {
  return kind == MediaKind::CameraRoll || kind == MediaKind::PhotoStream || kind == MediaKind::AppPictures;
}

QString DayGroup(const QString& date, const ViewContext& context) {
  if (date.size() < 10) return context.Text("IDS_MEDIA_UNKNOWN_DATE");
  QString day = date.left(10);
  day.replace(QLatin1Char('-'), QLatin1Char('/'));
  return day;
}

MediaItem MediaItemOf(const sieve::MediaFile& file, std::int64_t modifiedTime, MediaKind kind, const QString& group,
                      const ViewContext& context) {
  MediaItem item;
  item.Name = FromUtf8(file.FileName);
  item.Deleted = file.Deleted != 0;
  if (item.Deleted) item.DeletedMark = context.Text(file.Trashed != 0 ? "IDS_MEDIA_RECENTLY_DELETED" : "IDS_MEDIA_DELETED_YES");
  item.StoredPath = file.FilePath;
  item.Key = file.FileKey;
  if (IsDrawablePicture(item.Name)) {
    item.PictureSource = file.FilePath;
    item.PictureKey = file.FileKey;
  } else if (!file.ThumbnailPath.empty()) {
    item.PictureSource = file.ThumbnailPath;
    item.PictureKey = file.ThumbnailKey;
  }
  QStringList albums;
  for (const std::string& album : file.Albums) albums << FromUtf8(album);
  item.Albums = albums.join(QStringLiteral(", "));
  if (file.Width > 0 && file.Height > 0) {
    item.Dimensions = QStringLiteral("%1 \u00D7 %2").arg(file.Width).arg(file.Height);
  }
  item.TrashedDate = FromUtf8(file.TrashedDate);
  item.ModifiedTime = modifiedTime;
  item.Size = file.FilePath.empty() ? 0 : QFileInfo(FromUtf8(file.FilePath)).size();
  if (kind == MediaKind::CameraRoll) {
    item.Date = TakenDate(file, modifiedTime, context);
    item.Group = DayGroup(item.Date, context);
  } else {
    item.Date = DateTextOfSeconds(modifiedTime);
    item.Group = group;
  }
  return item;
}

QStringList MediaTraitsBase::Headers(const ViewContext& context) {
  return {context.Text("IDS_MEDIA_HEADER_NAME"), context.Text("IDS_MEDIA_HEADER_GROUP"),
          context.Text("IDS_MEDIA_HEADER_DATE"), context.Text("IDS_MEDIA_HEADER_SIZE"),
          context.Text("IDS_MEDIA_HEADER_DELETED")};
}

QString MediaTraitsBase::Cell(const Item& item, int column) {
  switch (column) {
    case kName: return item.Name;
    case kGroup: return item.Group;
    case kDate: return item.Date;
    case kSize: return SizeText(item.Size);
    case kDeleted: return item.DeletedMark;
    default: return {};
  }
}

bool MediaTraitsBase::Matches(const Item& item, const QString& lowerText) {
  return AnyContains(lowerText, item.Name, item.Group, item.Date, item.Albums);
}

DetailRows MediaTraitsBase::Detail(const Item& item, const ViewContext& context) {
  DetailRows rows = {{context.Text("IDS_MEDIA_HEADER_GROUP"), item.Group},
                     {context.Text("IDS_MEDIA_HEADER_DATE"), item.Date},
                     {context.Text("IDS_MEDIA_HEADER_SIZE"), SizeText(item.Size)},
                     {context.Text("IDS_MEDIA_HEADER_DELETED"), item.DeletedMark}};
  // What only the photo library says, where it says it.
  for (const auto& [key, text] : {std::pair{"IDS_MEDIA_TRASHED_DATE", &item.TrashedDate},
                                  std::pair{"IDS_MEDIA_ALBUMS", &item.Albums},
                                  std::pair{"IDS_MEDIA_DIMENSIONS", &item.Dimensions}}) {
    if (!text->isEmpty()) rows.append({context.Text(key), *text});
  }
  return rows;
}

std::unique_ptr<CategoryExport> MediaTraitsBase::ExportOf(MediaKind kind, std::vector<Item> checked,
                                                          const ViewContext& context) {
  if (kind == MediaKind::CameraRoll) OrderByDay(checked);
  std::vector<ExportedFile> files;
  files.reserve(checked.size());
  for (MediaItem& item : checked) {
    files.push_back({std::move(item.Name), std::move(item.Group), std::move(item.Date), item.Size, item.Deleted,
                     std::move(item.StoredPath), item.Key, item.ModifiedTime});
  }
  // Folder names in English, as every category's: a recovery's layout does not change with the language.
  return std::make_unique<FileCopyExport>(EnglishViewText(QLatin1String(MediaCaptionKey(kind))), std::move(files),
                                          context.files);
}

}  // namespace quarry::views
