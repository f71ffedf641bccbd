// Feeds arbitrary bytes to the picture-date reader of the media views: as a JPEG whose
// segments are walked to the Exif block, and as the TIFF structure of an Exif block itself;
// a date found is turned into the views' date text.
#include <QBuffer>
#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "quarry/views/exif_date.h"
#include "quarry/views/media_dates.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QBuffer jpeg;
  jpeg.setData(bytes);
  if (!jpeg.open(QIODevice::ReadOnly)) return 0;
  qsizetype sink = quarry::views::DateTextOfExif(quarry::views::ExifDateTaken(jpeg)).size();
  sink += quarry::views::DateTextOfExif(quarry::views::ExifDateFromTiff(QByteArrayView(bytes))).size();
  return sink < 0 ? 1 : 0;
}
