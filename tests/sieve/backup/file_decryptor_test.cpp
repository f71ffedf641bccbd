// Stored files are checked against OpenSSL's own encryption: AES-256-CBC with a zero
// initial value, and its "CS2" ciphertext stealing for lengths that are not whole blocks.
#include "sieve/backup/file_decryptor.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace sieve {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kChunk = kDecryptBufferSize;

using test::RandomBytes;

FileKey Key(unsigned seed) {
  FileKey key;
  const Bytes random = RandomBytes(32, seed);
  std::copy(random.begin(), random.end(), key.begin());
  return key;
}

// "CS2" swaps the last two blocks only when the length is not whole blocks: the device's layout.
Bytes Encrypt(const FileKey& key, const Bytes& plain, bool stealing = true) {
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, stealing ? "AES-256-CBC-CTS" : "AES-256-CBC", nullptr);
  EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {};
  char mode[] = "CS2";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_CIPHER_PARAM_CTS_MODE, mode, 0),
                               OSSL_PARAM_construct_end()};
  Bytes out(plain.size() + 32);
  int written = 0;
  int last = 0;
  EXPECT_TRUE(EVP_EncryptInit_ex2(context, cipher, key.data(), iv, stealing ? params : nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
              EVP_EncryptUpdate(context, out.data(), &written, plain.data(), static_cast<int>(plain.size())) == 1 &&
              EVP_EncryptFinal_ex(context, out.data() + written, &last) == 1);
  EVP_CIPHER_CTX_free(context);
  EVP_CIPHER_free(cipher);
  out.resize(static_cast<std::size_t>(written + last));
  return out;
}

Bytes Padded(Bytes plain) {
  const std::size_t count = 16 - plain.size() % 16;
  plain.insert(plain.end(), count, static_cast<std::uint8_t>(count));
  return plain;
}

Bytes Decrypted(const Bytes& cipher, const FileKey& key) { return DecryptBuffer(cipher.data(), cipher.size(), key); }

class FileDecryptorTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Join(name); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    test::WriteFile(Path(name), std::string(bytes.begin(), bytes.end()));
    return Path(name);
  }
  static Bytes Read(const std::string& path) {
    std::error_code missing;
    if (!fs::exists(path, missing)) return {};
    const std::string text = test::ReadFile(path);
    return Bytes(text.begin(), text.end());
  }
  // In memory and through files must agree; returns the file result.
  Bytes BothWays(const Bytes& cipher, const FileKey& key) const {
    EXPECT_EQ(DecryptFile(Write("cipher", cipher), Path("plain"), key), DecryptStatus::Ok);
    const Bytes fromFile = Read(Path("plain"));
    EXPECT_TRUE(fromFile == Decrypted(cipher, key)) << cipher.size() << " bytes";
    return fromFile;
  }

  test::TempDir dir_;
};

// Stolen-ciphertext files and padded ones come back whole at every length, also where the
// last blocks or the padding straddle the read buffer.
TEST_F(FileDecryptorTest, RoundTripsAtBlockAndBufferBoundaries) {
  const FileKey key = Key(1);
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{16}, std::size_t{17}, std::size_t{31},
                                 std::size_t{32}, std::size_t{40}, std::size_t{48}, std::size_t{63}, kChunk - 33,
                                 kChunk - 32, kChunk - 16, kChunk - 1, kChunk, kChunk + 1, kChunk + 17, kChunk + 40,
                                 2 * kChunk - 49, 3 * kChunk + 5}) {
    Bytes plain = RandomBytes(size, static_cast<unsigned>(size));
    EXPECT_TRUE(BothWays(Encrypt(key, Padded(plain), false), key) == plain) << size << " bytes, padded";
    if (size < 16) continue;
    plain.back() = 0;  // never a valid padding, so every byte must come back
    EXPECT_TRUE(BothWays(Encrypt(key, plain), key) == plain) << size << " bytes";
  }
  // Less than one block cannot be decrypted: no output, but no failure either.
  for (const std::size_t size : {0, 5, 15}) EXPECT_TRUE(BothWays(RandomBytes(size, 7), key).empty()) << size;
}

TEST_F(FileDecryptorTest, OddEndingsAreNotedAndIndexPagesKeptWhole) {
  const FileKey key = Key(5);
  Bytes page = RandomBytes(64, 9);
  page.back() = 1;  // looks like one byte of padding
  const auto ending = [](Bytes end, std::size_t size = 48) {  // `size` bytes ending in these
    Bytes text = RandomBytes(size - end.size(), 6);
    text.insert(text.end(), end.begin(), end.end());
    return text;
  };
  struct Case {
    const char* name;
    Bytes cipher;
    Padding padding;
    std::size_t keptSize;
    bool notWhole, noPadding;
  };
  const Case cases[] = {
      {"valid padding", Encrypt(key, Padded(RandomBytes(20, 1)), false), Padding::RemoveWhenValid, 20, false, false},
      {"no padding", Encrypt(key, page, false), Padding::RemoveWhenValid, 63, false, false},
      {"zero ending", Encrypt(key, Bytes(48, 0), false), Padding::RemoveWhenValid, 48, false, true},
      {"padding of a whole block", Encrypt(key, ending(Bytes(16, 0x10)), false), Padding::RemoveWhenValid, 32, false, false},
      {"ending past a block", Encrypt(key, ending({0x11}), false), Padding::RemoveWhenValid, 48, false, true},
      {"ending of unequal bytes", Encrypt(key, ending({0x02, 0x03, 0x03}), false), Padding::RemoveWhenValid, 48, false, true},
      // A stolen-ciphertext file carries no padding, even when it seems to end in one.
      {"stolen tail", Encrypt(key, ending({1}, 40)), Padding::RemoveWhenValid, 40, true, false},
      {"under a block", RandomBytes(9, 3), Padding::RemoveWhenValid, 0, true, false},
      {"index pages", Encrypt(key, page, false), Padding::Keep, 64, false, false},
      {"empty", Bytes{}, Padding::RemoveWhenValid, 0, false, false},
  };
  for (const Case& c : cases) {
    DecryptNotes notes;
    ASSERT_EQ(DecryptFile(Write("cipher", c.cipher), Path("plain"), key, c.padding, &notes), DecryptStatus::Ok);
    EXPECT_EQ(Read(Path("plain")).size(), c.keptSize) << c.name;
    EXPECT_EQ(notes.notWholeBlocks, c.notWhole) << c.name;
    EXPECT_EQ(notes.noValidPadding, c.noPadding) << c.name;
  }
}

TEST_F(FileDecryptorTest, FailuresLeaveNoTarget) {
  const FileKey key = Key(8);
  const Bytes plain = RandomBytes(4 * kChunk, 9);
  const std::string source = Write("source", Encrypt(key, plain, false));
  const std::string target = Path("target");
  EXPECT_EQ(DecryptFile(Path("missing"), target, key), DecryptStatus::OpenFailed);
  EXPECT_EQ(DecryptFile(dir_.Path(), target, key), DecryptStatus::OpenFailed);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(DecryptFile(source, Path("no-such-folder/target"), key), DecryptStatus::CreateFailed);

  // The stored file is never the target, by its own name or through another link.
  const Bytes stored = Read(source);
  EXPECT_EQ(DecryptFile(source, source, key), DecryptStatus::CreateFailed);
  fs::create_hard_link(source, Path("alias"));
  EXPECT_EQ(DecryptFile(source, Path("alias"), key), DecryptStatus::CreateFailed);
  EXPECT_TRUE(Read(source) == stored);

  // An older, longer target is replaced; a new one is private to its owner.
  Write("target", RandomBytes(5 * kChunk, 10));
  EXPECT_EQ(DecryptFile(source, target, key), DecryptStatus::Ok);
  EXPECT_TRUE(Read(target) == plain);
  EXPECT_EQ(DecryptFile(source, Path("fresh"), key), DecryptStatus::Ok);
  struct stat info {};
  ASSERT_EQ(::stat(Path("fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // A write that fails part-way (a file-size limit, in a child process) removes the partial target.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kChunk, kChunk};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const bool ok = DecryptFile(source, Path("partial"), key) == DecryptStatus::WriteFailed &&
                    !fs::exists(Path("partial"));
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace sieve
