#include "sieve/sqlite/spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sieve/sqlite/fetch_line.h"

namespace sieve::sqlite {

SpillFile::~SpillFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool SpillFile::Create(const std::string& folder) {
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string pattern = folder + "/carve-XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) ::unlink(pattern.c_str());
  }
  if (fd_ < 0) Fail("create", errno);
  return fd_ >= 0;
}

void SpillFile::Fail(const char* what, int error) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!ok()) return;
  error_ = std::string("cannot ") + what + " a temporary file of the carve: " + std::strerror(error);
  failed_.store(true, std::memory_order_relaxed);
}

void SpillFile::MarkUnreadable() { Fail("read", EIO); }

unsigned SpillFile::ClassOf(std::size_t size) {
  constexpr unsigned kSmallest = 12;
  unsigned room = kSmallest;
  while (room < 63 && (std::uint64_t{1} << room) < size) ++room;
  return room;
}

std::uint64_t SpillFile::Write(const void* data, std::size_t size) {
  std::uint64_t at = 0;
  {
    // Only the room is taken under the lock; the bytes go out beside other writers'.
    const std::lock_guard<std::mutex> lock(mutex_);
    const unsigned room = ClassOf(size);
    // The smallest released room that holds the write; a larger one is halved down to it,
    // the halves not taken kept for later writes (the rounds write blocks of other sizes
    // than they read).
    unsigned from = room;
    while (from < released_.size() && released_[from].empty()) ++from;
    if (from < released_.size()) {
      at = released_[from].back();
      released_[from].pop_back();
      for (unsigned half = from; half-- > room;) released_[half].push_back(at + (std::uint64_t{1} << half));
    } else {
      at = end_;
      end_ += std::uint64_t{1} << room;
    }
  }
  if (!ok()) return at;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(at + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("write", n < 0 ? errno : ENOSPC);
      return at;
    }
    done += static_cast<std::size_t>(n);
  }
  return at;
}

bool SpillFile::Read(std::uint64_t offset, void* data, std::size_t size) {
  if (!ok()) return false;
  auto* bytes = static_cast<std::uint8_t*>(data);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::pread(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("read", n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SpillFile::Release(std::uint64_t offset, std::size_t size) {
  const unsigned room = ClassOf(size);
  const std::lock_guard<std::mutex> lock(mutex_);
  if (released_.size() <= room) released_.resize(room + 1);
  released_[room].push_back(offset);
}

SpillStreams::SpillStreams(SpillFile& file, std::size_t count, std::size_t blockBytes)
    : file_(file), blockBytes_(blockBytes), streams_(count) {}

void SpillStreams::Flush(Stream& stream) {
  if (stream.buffer.empty()) return;
  const std::uint64_t at = file_.Write(stream.buffer.data(), stream.buffer.size());
  stream.blocks.push_back({at, static_cast<std::uint32_t>(stream.buffer.size())});
  stream.buffer.clear();
}

void SpillStreams::Append(std::size_t index, const void* data, std::size_t size) {
  Stream& stream = streams_[index];
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    if (stream.buffer.capacity() < blockBytes_) stream.buffer.reserve(blockBytes_);
    const std::size_t room = std::min(size, blockBytes_ - stream.buffer.size());
    stream.buffer.insert(stream.buffer.end(), bytes, bytes + room);
    bytes += room;
    size -= room;
    if (stream.buffer.size() == blockBytes_) Flush(stream);
  }
}

void SpillStreams::Finish() {
  for (Stream& stream : streams_) {
    Flush(stream);
    std::vector<std::uint8_t>().swap(stream.buffer);
  }
}

bool SpillStreams::Reader::NextBlock() {
  const std::vector<Block>& blocks = streams_->streams_[stream_].blocks;
  if (block_ == blocks.size()) return false;
  const Block block = blocks[block_++];
  bytes_.resize(block.size);
  at_ = 0;
  if (!streams_->file_.Read(block.offset, bytes_.data(), block.size)) return false;
  streams_->file_.Release(block.offset, block.size);
  return true;
}

void SpillStreams::PrefetchAppend(std::size_t index, std::size_t size) const {
  const std::vector<std::uint8_t>& buffer = streams_[index].buffer;
  if (buffer.capacity() == 0) return;
  FetchLines(buffer.data() + buffer.size(), buffer.data() + std::min(buffer.capacity(), buffer.size() + size));
}

void SpillStreams::Reader::Prefetch(std::size_t size) const {
  FetchLines(bytes_.data() + at_, bytes_.data() + std::min(bytes_.size(), at_ + size));
}

bool SpillStreams::Reader::Read(void* data, std::size_t size) {
  auto* out = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    if (at_ == bytes_.size() && !NextBlock()) return false;
    const std::size_t part = std::min(size, bytes_.size() - at_);
    std::memcpy(out, bytes_.data() + at_, part);
    at_ += part;
    out += part;
    size -= part;
  }
  return true;
}

}  // namespace sieve::sqlite
