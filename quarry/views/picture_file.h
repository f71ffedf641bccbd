// Pictures of a backup made small for the screen: what Qt's image readers draw (JPEG,
// PNG, GIF...) and HEIC/HEIF through libheif. A file that cannot be read, damaged ones
// included, gives a null image, never a crash.
#pragma once

#include <QImage>
#include <QString>

namespace quarry::views {

// True for a file name whose kind can be drawn (by its extension, without regard to case).
bool IsDrawablePicture(const QString& fileName);
// True for HEIC/HEIF by the file's first bytes (its 'ftyp' brands), whatever its name.
bool LooksLikeHeif(const QByteArray& head);

// The picture scaled to fit a side × side square (upright by its orientation); null when
// it cannot be read.
QImage ReadPictureScaled(const QString& path, int side);
// A HEIF file's primary picture from its bytes; its own small rendering when it has one
// that covers `side`. Null on any error.
QImage DecodeHeif(const QByteArray& data, int side);

}  // namespace quarry::views
