#include "quarry/pages/thumbnail_loader.h"

#include <QMetaObject>

#include "quarry/views/picture_file.h"

namespace quarry {

namespace {

// Twice a screenful or so; a request older than that is for a cell long gone.
constexpr std::size_t kMaxQueued = 256;

}  // namespace

CThumbnailLoader::CThumbnailLoader(std::shared_ptr<const views::FileSource> files, int side, int capacity,
                                   QObject* parent)
    : QObject(parent), files_(files ? std::move(files) : views::PlainFileSource()), side_(side), cache_(capacity) {
  pool_.setMaxThreadCount(2);
}

CThumbnailLoader::~CThumbnailLoader() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
  }
  pool_.waitForDone();  // a worker still running finishes its picture and stops
}

std::optional<QPixmap> CThumbnailLoader::Cached(const std::string& storedPath) const {
  if (const QPixmap* made = cache_.object(QString::fromStdString(storedPath))) return *made;
  return std::nullopt;
}

std::optional<QPixmap> CThumbnailLoader::Thumbnail(const std::string& storedPath, const sieve::OptionalFileKey& key) {
  if (auto made = Cached(storedPath)) return made;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!asked_.insert(storedPath).second) return std::nullopt;
  ++requested_;
  queue_.push_back({storedPath, key});
  if (queue_.size() > kMaxQueued) {
    asked_.erase(queue_.front().path);
    queue_.pop_front();
  }
  if (workers_ < pool_.maxThreadCount()) {
    ++workers_;
    pool_.start([this] { Work(); });
  }
  return std::nullopt;
}

void CThumbnailLoader::Work() {
  for (;;) {
    Request request;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (queue_.empty()) {
        --workers_;
        return;
      }
      request = std::move(queue_.back());
      queue_.pop_back();
    }
    const QImage image = views::ReadPictureScaled(files_->ReadablePath(request.path, request.key), side_);
    // The cache lives on the window's thread; a loader gone by then drops the call.
    QMetaObject::invokeMethod(this, [this, path = request.path, image] { Deliver(path, image); },
                              Qt::QueuedConnection);
  }
}

void CThumbnailLoader::Deliver(const std::string& path, const QImage& image) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    asked_.erase(path);
  }
  cache_.insert(QString::fromStdString(path), new QPixmap(QPixmap::fromImage(image)));
  emit Ready();
}

void CThumbnailLoader::WaitIdle() { pool_.waitForDone(); }

}  // namespace quarry
