#include "quarry/views/exif_date.h"

#include <QFile>
#include <optional>

namespace quarry::views {

namespace {

constexpr quint16 kExifDirectoryTag = 0x8769;
constexpr quint16 kDateTimeOriginalTag = 0x9003;
constexpr quint16 kDateTimeDigitizedTag = 0x9004;
constexpr quint16 kDateTimeTag = 0x0132;
constexpr quint16 kAsciiType = 2;
constexpr quint16 kLongType = 4;
constexpr qsizetype kDateLength = 19;
// A picture has a handful of segments before its image data; a file with endless
// empty ones is not worth walking.
constexpr int kMaxSegments = 256;

class Tiff {
 public:
  explicit Tiff(QByteArrayView data) : data_(data) {}

  bool Open() {
    if (data_.size() < 8) return false;
    if (data_.startsWith("II*\0")) {
      little_ = true;
    } else if (data_.startsWith("MM\0*")) {
      little_ = false;
    } else {
      return false;
    }
    return true;
  }

  std::optional<quint16> U16(qint64 at) const {
    if (at < 0 || at > data_.size() - 2) return std::nullopt;
    const auto b = [&](qint64 i) { return static_cast<quint16>(static_cast<uchar>(data_[i])); };
    return little_ ? static_cast<quint16>(b(at) | b(at + 1) << 8) : static_cast<quint16>(b(at) << 8 | b(at + 1));
  }

  std::optional<quint32> U32(qint64 at) const {
    const auto a = U16(at);
    const auto b = U16(at + 2);
    if (!a || !b) return std::nullopt;
    return little_ ? (static_cast<quint32>(*b) << 16 | *a) : (static_cast<quint32>(*a) << 16 | *b);
  }

  // The position of the 12-byte entry of `tag` in the directory at `ifd`.
  std::optional<qint64> Entry(qint64 ifd, quint16 tag) const {
    const auto count = U16(ifd);
    if (!count) return std::nullopt;
    for (qint64 i = 0; i < *count; ++i) {
      const qint64 entry = ifd + 2 + 12 * i;
      if (entry > data_.size() - 12) return std::nullopt;  // a count that runs past the block
      if (U16(entry) == tag) return entry;
    }
    return std::nullopt;
  }

  std::optional<quint32> FirstDirectory() const { return U32(4); }

  // The directory that a LONG entry points to.
  std::optional<quint32> Pointer(qint64 ifd, quint16 tag) const {
    const auto entry = Entry(ifd, tag);
    if (!entry || U16(*entry + 2) != kLongType || U32(*entry + 4) != 1u) return std::nullopt;
    return U32(*entry + 8);
  }

  QString Date(qint64 ifd, quint16 tag) const {
    const auto entry = Entry(ifd, tag);
    if (!entry || U16(*entry + 2) != kAsciiType) return {};
    const auto count = U32(*entry + 4);
    if (!count || *count < kDateLength) return {};
    // Values longer than four bytes lie elsewhere, at the offset the entry holds.
    const auto at = U32(*entry + 8);
    if (!at || *at > static_cast<quint64>(data_.size()) || data_.size() - *at < kDateLength) return {};
    return Plausible(data_.sliced(*at, kDateLength));
  }

 private:
  static QString Plausible(QByteArrayView text) {
    static constexpr char kShape[] = "dddd:dd:dd dd:dd:dd";
    for (qsizetype i = 0; i < kDateLength; ++i) {
      const char c = text[i];
      if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return {};
    }
    const auto number = [&](qsizetype from, qsizetype length) { return text.sliced(from, length).toInt(); };
    const int month = number(5, 2);
    const int day = number(8, 2);
    if (number(0, 4) == 0 || month < 1 || month > 12 || day < 1 || day > 31 || number(11, 2) > 23 ||
        number(14, 2) > 59 || number(17, 2) > 60) {
      return {};
    }
    return QString::fromLatin1(text.data(), kDateLength);
  }

  QByteArrayView data_;
  bool little_ = true;
};

}  // namespace

QString ExifDateFromTiff(QByteArrayView tiffBytes) {
  Tiff tiff(tiffBytes);
  if (!tiff.Open()) return {};
  const auto first = tiff.FirstDirectory();
  if (!first) return {};
  if (const auto exif = tiff.Pointer(*first, kExifDirectoryTag)) {
    for (const quint16 tag : {kDateTimeOriginalTag, kDateTimeDigitizedTag}) {
      QString date = tiff.Date(*exif, tag);
      if (!date.isEmpty()) return date;
    }
  }
  return tiff.Date(*first, kDateTimeTag);
}

QString ExifDateTaken(QIODevice& jpeg) {
  const auto byte = [&jpeg]() -> int {
    char c = 0;
    return jpeg.getChar(&c) ? static_cast<uchar>(c) : -1;
  };
  if (byte() != 0xFF || byte() != 0xD8) return {};
  for (int segment = 0; segment < kMaxSegments; ++segment) {
    if (byte() != 0xFF) return {};
    int marker = byte();
    for (int fill = 0; marker == 0xFF && fill < 16; ++fill) marker = byte();  // fill bytes before a marker
    if (marker < 0 || marker == 0xFF || marker == 0xD9 || marker == 0xDA) return {};  // end, or image data
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // markers without a length
    const int high = byte();
    const int low = byte();
    if (high < 0 || low < 0) return {};
    const qint64 length = (high << 8 | low) - 2;
    if (length < 0) return {};
    const qint64 start = jpeg.pos();
    if (marker == 0xE1 && length >= 6) {
      const QByteArray payload = jpeg.read(length);
      if (payload.size() != length) return {};
      if (payload.startsWith(QByteArrayView("Exif\0\0", 6))) {
        QString date = ExifDateFromTiff(QByteArrayView(payload).sliced(6));
        if (!date.isEmpty()) return date;
      }
      continue;  // an XMP block, or an Exif block without a date
    }
    if (start + length > jpeg.size() || !jpeg.seek(start + length)) return {};
  }
  return {};
}

QString ExifDateTakenOfFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return ExifDateTaken(file);
}

}  // namespace quarry::views
