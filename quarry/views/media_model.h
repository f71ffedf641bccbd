// The views of files found in the backup: camera roll and photo stream (single
// files), and the pictures, videos and documents of apps and the music (groups of
// files, one item per file). Columns: name, group, date, size, deleted. The camera
// roll's group is the day the picture was taken (YYYY/MM/DD: the photo library's date,
// else the Exif date, else the file's), or "unknown date"; no picture is left out for
// its date. A file in the library's "Recently Deleted" is marked as such.
#pragma once

#include <string>
#include <type_traits>
#include <vector>

#include "quarry/views/list_model.h"
#include "sieve/records.h"

namespace quarry::views {

struct MediaItem {
  QString Name;
  QString Group;
  QString Date;         // "YYYY-MM-DD hh:mm:ss" ("" unknown)
  qint64 Size = 0;      // of the stored file
  bool Deleted = false;
  QString DeletedMark;  // the list's word for a deleted file, "" for others
  std::string StoredPath;
  sieve::OptionalFileKey Key;
  std::int64_t ModifiedTime = 0;
  // What the picture grid draws: the file itself when it is a picture this program
  // draws, else the thumbnail the device made of it (a video's), else "" (an icon).
  std::string PictureSource;
  sieve::OptionalFileKey PictureKey;
  // From the camera roll's photo library ("" without one).
  QString Albums;      // titles joined by ", "
  QString Dimensions;  // "4032 × 3024"
  QString TrashedDate;
};

enum class MediaKind { CameraRoll, PhotoStream, AppPictures, AppVideos, AppDocuments, Music };

// The dictionary key of a kind's category (also its export folder).
const char* MediaCaptionKey(MediaKind kind);
// True for the kinds whose page is a picture grid.
bool IsPictureKind(MediaKind kind);

// One file made an item; `group` is the group's name (ignored for the camera roll,
// whose group is the day).
MediaItem MediaItemOf(const sieve::MediaFile& file, std::int64_t modifiedTime, MediaKind kind, const QString& group,
                      const ViewContext& context);
// Bytes as whole kilobytes, "12 KB".
QString SizeText(qint64 bytes);
// "YYYY/MM/DD" of a date text, or the unknown-date text.
QString DayGroup(const QString& date, const ViewContext& context);

// The parts every media kind shares.
struct MediaTraitsBase {
  using Item = MediaItem;
  static QStringList Headers(const ViewContext& context);
  static QString Cell(const Item& item, int column);
  static bool Matches(const Item& item, const QString& lowerText);
  static qint64 Size(const Item& item) { return item.Size; }
  static DetailRows Detail(const Item& item, const ViewContext& context);
  static std::unique_ptr<CategoryExport> ExportOf(MediaKind kind, std::vector<Item> checked,
                                                  const ViewContext& context);
};

template <MediaKind K>
struct MediaTraits : MediaTraitsBase {
  static constexpr bool kSingleFiles = K == MediaKind::CameraRoll || K == MediaKind::PhotoStream;
  using Record = std::conditional_t<kSingleFiles, sieve::MediaFile, sieve::MediaGroup>;

  static void Take(const Record& record, const ViewContext& context, std::vector<Item>& out) {
    if constexpr (kSingleFiles) {
      out.push_back(MediaItemOf(record, record.ModifiedTime, K, context.Text(MediaCaptionKey(K)), context));
    } else {
      const QString group = QString::fromStdString(record.Name);
      for (const sieve::MediaFile& file : record.Files) {
        out.push_back(MediaItemOf(file, file.ModifiedTime, K, group, context));
      }
    }
  }
  static std::unique_ptr<CategoryExport> Export(std::vector<Item> checked, const ViewContext& context) {
    return ExportOf(K, std::move(checked), context);
  }
};

// What the picture grid reads of any media model.
class MediaItems {
 public:
  virtual ~MediaItems() = default;
  virtual const MediaItem& MediaAt(qsizetype item) const = 0;
  virtual MediaKind Kind() const = 0;
  virtual const ViewContext& MediaContext() const = 0;
};

template <MediaKind K>
class MediaModel : public ListModel<MediaTraits<K>>, public MediaItems {
 public:
  explicit MediaModel(ViewContext context, QObject* parent = nullptr)
      : ListModel<MediaTraits<K>>(std::move(context), parent) {}

  const MediaItem& MediaAt(qsizetype item) const override { return this->Item(item); }
  MediaKind Kind() const override { return K; }
  const ViewContext& MediaContext() const override { return this->Context(); }
};

using CameraRollModel = MediaModel<MediaKind::CameraRoll>;
using PhotoStreamModel = MediaModel<MediaKind::PhotoStream>;
using AppPicturesModel = MediaModel<MediaKind::AppPictures>;
using AppVideosModel = MediaModel<MediaKind::AppVideos>;
using AppDocumentsModel = MediaModel<MediaKind::AppDocuments>;
using MusicModel = MediaModel<MediaKind::Music>;

}  // namespace quarry::views
