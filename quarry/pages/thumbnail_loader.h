// Thumbnails of a backup's pictures, made on worker threads and kept in a bounded
// cache by stored path. Only what is asked for is made: the picture grid asks while
// it paints a cell, so a list of tens of thousands of pictures costs only the ones
// on screen. The newest request is served first (the cells just scrolled to), and
// requests pile up only to a bound: older ones, long scrolled past, are dropped and
// asked for again if their cells come back.
#pragma once

#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QThreadPool>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "quarry/views/file_source.h"

namespace quarry {

class CThumbnailLoader : public QObject {
  Q_OBJECT

 public:
  // `files` reads the pictures (decrypted private copies for an encrypted backup);
  // null reads them as they are. `capacity` is the number of thumbnails kept.
  explicit CThumbnailLoader(std::shared_ptr<const views::FileSource> files, int side = 128, int capacity = 600,
                            QObject* parent = nullptr);
  ~CThumbnailLoader() override;

  // The thumbnail once made (a null pixmap for a picture that cannot be read);
  // std::nullopt while it is being made, in which case it is asked for.
  std::optional<QPixmap> Thumbnail(const std::string& storedPath, const sieve::OptionalFileKey& key);
  // The same without asking.
  std::optional<QPixmap> Cached(const std::string& storedPath) const;

  int Side() const { return side_; }
  int Capacity() const { return cache_.maxCost(); }
  int CachedCount() const { return cache_.count(); }
  // Every picture asked for so far (for a check that only visible cells ask).
  qint64 Requested() const { return requested_; }
  // Blocks until no thumbnail is being made (tests; the window never waits).
  void WaitIdle();

 signals:
  void Ready();

 private:
  struct Request {
    std::string path;
    sieve::OptionalFileKey key;
  };
  void Work();
  void Deliver(const std::string& path, const QImage& image);

  std::shared_ptr<const views::FileSource> files_;
  const int side_;
  QCache<QString, QPixmap> cache_;  // by stored path
  qint64 requested_ = 0;

  std::mutex mutex_;            // guards the queue and the asked set
  std::deque<Request> queue_;   // newest at the back
  std::set<std::string> asked_; // queued or being made
  int workers_ = 0;
  QThreadPool pool_;
};

}  // namespace quarry
