// The date a JPEG picture was taken, from its Exif block. Pictures come from
// backups that may hold anything: every length and offset is checked before it
// is used, and a file that lies about them simply has no date.
#pragma once

#include <QByteArrayView>
#include <QIODevice>
#include <QString>

namespace quarry::views {

// From the TIFF structure of an Exif block (what follows "Exif\0\0"):
// DateTimeOriginal of the Exif directory, else DateTimeDigitized, else the
// first directory's DateTime, as "YYYY:MM:DD hh:mm:ss"; "" when none is a
// plausible date.
QString ExifDateFromTiff(QByteArrayView tiff);

// Walks the JPEG's segments up to the image data and answers the date of its
// Exif block; "" for anything that is not a JPEG with such a date. Reads only
// the segments' headers and the Exif segment itself.
QString ExifDateTaken(QIODevice& jpeg);
QString ExifDateTakenOfFile(const QString& path);

}  // namespace quarry::views
