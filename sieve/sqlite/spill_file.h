// What a carve of a large file sets aside on disk so that its memory does not grow with the
// file: streams of bytes (one per partition) kept in blocks of one unnamed temporary file,
// written through a small buffer each and read back in order, whole or block by block.
// Carved records are private data: the file is created in the caller's private folder and
// has no name, so nothing of it outlives the process, not even after a crash. Several
// threads may write and read at once, each its own streams.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sieve::sqlite {

class SpillFile {
 public:
  SpillFile() = default;
  ~SpillFile();
  SpillFile(const SpillFile&) = delete;
  SpillFile& operator=(const SpillFile&) = delete;

  // Creates the file in `folder` (mode 0600). False, with error() set, when it cannot.
  bool Create(const std::string& folder);
  // Takes an open descriptor instead (closed with this object).
  void Adopt(int fd) { fd_ = fd; }
  int fd() const { return fd_; }

  // The first failure, as a sentence; empty while all went well (ask once the threads
  // using the file are done). Every call after a failure does nothing.
  const std::string& error() const { return error_; }
  bool ok() const { return !failed_.load(std::memory_order_relaxed); }

  // What was read back is not what was written: the file is failed like an unreadable one.
  void MarkUnreadable();

  // Writes into room released before, or at the end of the file; the offset written at.
  // Each write takes room of a power of two bytes, 4 KB at least (so a multiple of the
  // system's page wherever its size is too), or half, a quarter... of larger released room.
  std::uint64_t Write(const void* data, std::size_t size);
  bool Read(std::uint64_t offset, void* data, std::size_t size);
  // The bytes of a write at `offset` of `size` bytes were read back for the last time: their
  // room takes a later write. The file's pages stay with it, written over: giving them back
  // (holes punched) and taking new ones cost more than the copies, on a virtual machine
  // several times more, and the file grows no larger than what is set aside at once.
  void Release(std::uint64_t offset, std::size_t size);

 private:
  void Fail(const char* what, int error);

  // The room a write of `size` bytes takes: 2^ClassOf(size).
  static unsigned ClassOf(std::size_t size);

  int fd_ = -1;
  std::mutex mutex_;  // over end_, released_ and error_
  std::uint64_t end_ = 0;
  std::vector<std::vector<std::uint64_t>> released_;  // offsets of released room, by class
  std::string error_;
  std::atomic<bool> failed_{false};
};

class SpillStreams {
 public:
  SpillStreams(SpillFile& file, std::size_t count, std::size_t blockBytes = 32 << 10);

  std::size_t count() const { return streams_.size(); }
  // Nothing was appended to the stream.
  bool Empty(std::size_t stream) const { return streams_[stream].buffer.empty() && streams_[stream].blocks.empty(); }
  void Append(std::size_t stream, const void* data, std::size_t size);
  template <typename T>
  void Append(std::size_t stream, const T& value) {
    Append(stream, &value, sizeof value);
  }
  // `size` bytes will be appended to the stream after appends to others: the lines they
  // will be written to are fetched meanwhile (a block per stream is more than the caches hold).
  void PrefetchAppend(std::size_t stream, std::size_t size) const;
  // Writes out what the buffers still hold and frees them; Append no more after it.
  void Finish();

  // One stream read from its start, its blocks released as they are passed.
  class Reader {
   public:
    Reader(SpillStreams& streams, std::size_t stream) : streams_(&streams), stream_(stream) {}
    // False at the end of the stream or on a read failure (the file's error says which).
    bool Read(void* data, std::size_t size);
    template <typename T>
    bool Read(T& value) {
      return Read(&value, sizeof value);
    }
    // The next `size` bytes (those of the block at hand) will be read later, after reads of
    // other streams: their lines are fetched meanwhile.
    void Prefetch(std::size_t size) const;

   private:
    bool NextBlock();
    SpillStreams* streams_;
    std::size_t stream_;
    std::size_t block_ = 0;  // the next block to load
    std::vector<std::uint8_t> bytes_;
    std::size_t at_ = 0;
  };

 private:
  struct Block {
    std::uint64_t offset;
    std::uint32_t size;
  };
  struct Stream {
    std::vector<std::uint8_t> buffer;
    std::vector<Block> blocks;
  };
  void Flush(Stream& stream);

  SpillFile& file_;
  std::size_t blockBytes_;
  std::vector<Stream> streams_;
};

}  // namespace sieve::sqlite
