// Date texts of the file views: seconds since 1970 on the records' clock, and the
// Exif form turned into the same shape.
#pragma once

#include <QString>
#include <cstdint>

namespace quarry::views {

// "YYYY-MM-DD hh:mm:ss" on the clock the records' dates use (local or UTC); "" for 0.
QString DateTextOfSeconds(std::int64_t seconds);
// "YYYY:MM:DD hh:mm:ss" (Exif) as "YYYY-MM-DD hh:mm:ss".
QString DateTextOfExif(const QString& exif);

}  // namespace quarry::views
