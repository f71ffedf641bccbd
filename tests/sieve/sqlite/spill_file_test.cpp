// Streams set aside in blocks of one temporary file come back byte for byte, however their
// records fall across blocks; a file that cannot be written says so. The filter that lets a
// set-aside carve's copies skip the live-row check never turns away a live key.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sieve/sqlite/live_key_filter.h"
#include "sieve/sqlite/spill_file.h"
#include "support/test_support.h"

namespace sieve::sqlite {
namespace {

std::vector<std::uint8_t> Record(std::size_t stream, std::size_t index, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(stream * 131 + index * 17 + i);
  return bytes;
}

TEST(SpillStreams, RecordsComeBackInOrderAcrossBlocks) {
  constexpr std::size_t kBlock = 16;
  // Record sizes that end inside a block, exactly at its end, and run over one or several.
  const std::vector<std::vector<std::size_t>> cases = {
      {1, 7, 3}, {kBlock - 1, 1, kBlock}, {kBlock + 1, 2 * kBlock}, {3 * kBlock + 5, 0, 9}, {}};
  for (const auto& sizes : cases) {
    test::TempDir dir;
    SpillFile file;
    ASSERT_TRUE(file.Create(dir.Path())) << file.error();
    SpillStreams streams(file, 3, kBlock);
    // Streams written interleaved, as the partitions of a carve are.
    for (std::size_t index = 0; index < sizes.size(); ++index) {
      for (std::size_t stream = 0; stream < 3; ++stream) {
        const auto record = Record(stream, index, sizes[index] + stream);
        streams.Append(stream, record.data(), record.size());
      }
    }
    streams.Finish();
    for (std::size_t stream = 0; stream < 3; ++stream) {
      SpillStreams::Reader reader(streams, stream);
      for (std::size_t index = 0; index < sizes.size(); ++index) {
        std::vector<std::uint8_t> back(sizes[index] + stream);
        ASSERT_TRUE(reader.Read(back.data(), back.size())) << "stream " << stream << " record " << index;
        EXPECT_EQ(back, Record(stream, index, back.size())) << "stream " << stream << " record " << index;
      }
      std::uint8_t more;
      EXPECT_FALSE(reader.Read(more)) << "stream " << stream << " reads past its end";
    }
    EXPECT_TRUE(file.ok()) << file.error();
  }
}

// Room read back for the last time takes later writes (a carve's rounds write about what
// they read), also writes of smaller blocks, and nothing still unread is written over.
TEST(SpillStreams, RoomReadBackIsWrittenOverAndNothingElse) {
  constexpr std::size_t kRecord = 1000;  // blocks of nine records, then of three: parts of their room
  constexpr std::size_t kRecords = 100;
  test::TempDir dir;
  SpillFile file;
  ASSERT_TRUE(file.Create(dir.Path())) << file.error();
  const auto fileSize = [&] {
    struct stat st {};
    EXPECT_EQ(::fstat(file.fd(), &st), 0);
    return st.st_size;
  };
  const auto write = [&](SpillStreams& streams, std::size_t stream, std::size_t tag) {
    for (std::size_t index = 0; index < kRecords; ++index) streams.Append(stream, Record(tag, index, kRecord).data(), kRecord);
  };
  const auto readBack = [&](SpillStreams& streams, std::size_t stream, std::size_t tag) {
    SpillStreams::Reader reader(streams, stream);
    std::vector<std::uint8_t> back(kRecord);
    for (std::size_t index = 0; index < kRecords; ++index) {
      ASSERT_TRUE(reader.Read(back.data(), back.size())) << "tag " << tag << " record " << index;
      ASSERT_EQ(back, Record(tag, index, kRecord)) << "tag " << tag << " record " << index;
    }
  };
  SpillStreams first(file, 2, 9 * kRecord);
  write(first, 0, 0);
  write(first, 1, 1);
  first.Finish();
  const auto written = fileSize();
  readBack(first, 0, 0);
  SpillStreams second(file, 1, 3 * kRecord);
  write(second, 0, 2);
  second.Finish();
  EXPECT_EQ(fileSize(), written) << "the second stream did not take the first one's room";
  readBack(first, 1, 1);
  readBack(second, 0, 2);
  EXPECT_TRUE(file.ok()) << file.error();
}

TEST(SpillStreams, AFullDiskIsAnError) {
  SpillFile file;
  const int fd = ::open("/dev/full", O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  file.Adopt(fd);
  SpillStreams streams(file, 2, 8);
  const std::uint64_t value = 42;
  streams.Append(1, value);
  streams.Finish();
  EXPECT_FALSE(file.ok());
  EXPECT_NE(file.error().find("write"), std::string::npos) << file.error();
  SpillStreams::Reader reader(streams, 1);
  std::uint64_t back = 0;
  EXPECT_FALSE(reader.Read(back));

  SpillFile nowhere;
  EXPECT_FALSE(nowhere.Create("/nonexistent-folder/for/sure"));
  EXPECT_FALSE(nowhere.error().empty());
}

// Every key put in is a "maybe" (a miss would report a live row as deleted); keys never put
// in are mostly a "no", also for keys that differ from one put in by a single bit, as the
// fingerprints of two near records may.
TEST(LiveKeyFilter, NeverMissesAKeyAndRarelyClaimsOne) {
  const auto key = [](std::uint64_t i) { return (i + 1) * 0x9e3779b97f4a7c15ull; };
  for (const std::uint64_t keys : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{3'000'000}}) {
    LiveKeyFilter filter;
    for (std::uint64_t i = 0; i < keys; ++i) filter.Insert(key(i));
    std::uint64_t missed = 0;
    for (std::uint64_t i = 0; i < keys; ++i) missed += filter.MayContain(key(i)) ? 0 : 1;
    EXPECT_EQ(missed, 0u) << keys << " keys";
    std::uint64_t claimed = 0;
    constexpr std::uint64_t kAsked = 1'000'000;
    for (std::uint64_t i = 0; i < kAsked; ++i) {
      const std::uint64_t other = i % 2 ? key(keys + i) : key(i % (keys + 1)) ^ (std::uint64_t{1} << (i % 64));
      claimed += filter.MayContain(other) ? 1 : 0;
    }
    EXPECT_LT(claimed, kAsked / 100) << keys << " keys";
  }
}

}  // namespace
}  // namespace sieve::sqlite
