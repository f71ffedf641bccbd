#include "quarry/views/picture_file.h"

#include <libheif/heif.h>

#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <memory>

namespace quarry::views {

namespace {

// Far larger than any phone's picture; a header claiming more is not decoded.
constexpr int kMaxHeifSide = 16384;
constexpr qint64 kMaxHeifBytes = 256LL << 20;

bool IsHeifName(const QString& fileName) {
  return fileName.endsWith(QLatin1String(".heic"), Qt::CaseInsensitive) ||
         fileName.endsWith(QLatin1String(".heif"), Qt::CaseInsensitive);
}

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
using HandlePtr = std::unique_ptr<heif_image_handle, HandleFree>;

// The picture's own small rendering, when one is at least `side` on its longer edge.
HandlePtr SmallRendering(heif_image_handle* primary, int side) {
  heif_item_id ids[4];
  const int count = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, 4);
  for (int i = 0; i < count; ++i) {
    heif_image_handle* thumbnail = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[i], &thumbnail).code != heif_error_Ok) continue;
    HandlePtr held(thumbnail);
    if (std::max(heif_image_handle_get_width(thumbnail), heif_image_handle_get_height(thumbnail)) >= side) return held;
  }
  return nullptr;
}

QImage Decode(heif_image_handle* handle) {
  const int width = heif_image_handle_get_width(handle);
  const int height = heif_image_handle_get_height(handle);
  if (width <= 0 || height <= 0 || width > kMaxHeifSide || height > kMaxHeifSide) return {};
  heif_image* decoded = nullptr;
  if (heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code !=
      heif_error_Ok) {
    return {};
  }
  const std::unique_ptr<heif_image, ImageFree> image(decoded);
  int stride = 0;
  const uint8_t* pixels = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
  const int w = heif_image_get_width(decoded, heif_channel_interleaved);
  const int h = heif_image_get_height(decoded, heif_channel_interleaved);
  if (pixels == nullptr || w <= 0 || h <= 0 || stride < 3 * w) return {};
  // Copied out: the plane belongs to the decoded image, released on return.
  return QImage(pixels, w, h, stride, QImage::Format_RGB888).copy();
}

}  // namespace

bool LooksLikeHeif(const QByteArray& head) {
  if (head.size() < 12 || head.mid(4, 4) != "ftyp") return false;
  const QByteArray brands = head.mid(8, 24);
  for (const char* brand : {"heic", "heix", "mif1", "msf1", "heim", "heis"}) {
    if (brands.contains(brand)) return true;
  }
  return false;
}

bool IsDrawablePicture(const QString& fileName) {
  static const QList<QByteArray> formats = QImageReader::supportedImageFormats();
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  return dot >= 0 && (IsHeifName(fileName) || formats.contains(fileName.mid(dot + 1).toLower().toLatin1()));
}

QImage DecodeHeif(const QByteArray& data, int side) {
  if (data.isEmpty()) return {};
  const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context || heif_context_read_from_memory_without_copy(context.get(), data.constData(),
                                                             static_cast<size_t>(data.size()), nullptr)
                          .code != heif_error_Ok) {
    return {};
  }
  heif_image_handle* primary = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok) return {};
  const HandlePtr held(primary);
  const HandlePtr small = SmallRendering(primary, side);
  QImage image = Decode(small ? small.get() : primary);
  if (image.isNull() && small) image = Decode(primary);
  return image;
}

QImage ReadPictureScaled(const QString& path, int side) {
  if (path.isEmpty()) return {};
  QImage image;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  // By content: a decrypted copy in the private folder may carry a name of its own.
  if (LooksLikeHeif(file.peek(32))) {
    if (file.size() > kMaxHeifBytes) return {};
    image = DecodeHeif(file.readAll(), side);
  } else {
    QImageReader reader(&file);
    reader.setAutoTransform(true);  // the Exif orientation, so portraits stand upright
    const QSize size = reader.size();
    // Decoded at the small size directly where the format can (JPEG): a 12-megapixel
    // picture is never held whole.
    if (size.isValid()) reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    image = reader.read();
  }
  if (image.isNull()) return {};
  if (image.width() > side || image.height() > side) {
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace quarry::views
