// Key bags are built here the way a device writes them: a header, then one block per
// protection class whose key is wrapped with the password key.
#include "sieve/backup/key_bag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "sieve/backup/crypto.h"
#include "support/test_support.h"

namespace sieve {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = CBackupKeyBag::OpenResult;

using test::RandomBytes;

FileKey RandomKey(unsigned seed) {
  const Bytes bytes = RandomBytes(32, seed);
  FileKey key;
  std::copy(bytes.begin(), bytes.end(), key.begin());
  return key;
}

Bytes Wrap(const FileKey& kek, const std::uint8_t* plain, std::size_t size) {
  Bytes out(size + 8);
  EXPECT_TRUE(crypto::AesKeyWrap(kek.data(), plain, size, out.data()));
  return out;
}

Bytes BigEndian(std::uint32_t v) { return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }

struct BagMaker {
  std::string password = "alpine";
  std::uint32_t type = 1;
  std::uint32_t iterations = 10;
  Bytes salt = RandomBytes(20, 100);
  Bytes stretchSalt;  // empty: no SHA-256 stretching
  Bytes bytes;
  std::vector<std::size_t> itemEnds;
  unsigned seed = 200;

  BagMaker& Add(const char* tag, const Bytes& value) {
    bytes.insert(bytes.end(), tag, tag + 4);
    const Bytes length = BigEndian(static_cast<std::uint32_t>(value.size()));
    bytes.insert(bytes.end(), length.begin(), length.end());
    bytes.insert(bytes.end(), value.begin(), value.end());
    itemEnds.push_back(bytes.size());
    return *this;
  }
  BagMaker& Add(const char* tag, std::uint32_t value) { return Add(tag, BigEndian(value)); }

  FileKey PasswordKey(std::uint32_t rounds) const {
    Bytes secret(password.begin(), password.end());
    if (!stretchSalt.empty()) {
      Bytes stretched(32);
      crypto::Pbkdf2HmacSha256(secret.data(), secret.size(), stretchSalt.data(), stretchSalt.size(), 3,
                               stretched.data(), stretched.size());
      secret = stretched;
    }
    FileKey key;
    crypto::Pbkdf2HmacSha1(secret.data(), secret.size(), salt.data(), salt.size(), rounds, key.data(), key.size());
    return key;
  }

  BagMaker& Header() {
    Add("VERS", 3).Add("TYPE", type).Add("UUID", RandomBytes(16, 1)).Add("HMCK", RandomBytes(40, 2));
    Add("WRAP", 1).Add("SALT", salt).Add("ITER", iterations);
    if (!stretchSalt.empty()) Add("DPWT", 1).Add("DPIC", 3).Add("DPSL", stretchSalt);
    return *this;
  }

  // Appends a class block wrapped with kek (the password key by default); returns its key.
  FileKey Class(std::uint32_t protectionClass, std::uint32_t wrap = 3, const char* keyTypeTag = "KTYP") {
    return Class(protectionClass, PasswordKey(iterations), wrap, keyTypeTag);
  }
  FileKey Class(std::uint32_t protectionClass, const FileKey& kek, std::uint32_t wrap = 3,
                const char* keyTypeTag = "KTYP") {
    const FileKey classKey = RandomKey(seed++);
    Add("UUID", RandomBytes(16, seed++)).Add("CLAS", protectionClass).Add("WRAP", wrap).Add(keyTypeTag, 0u);
    Add("WPKY", Wrap(kek, classKey.data(), classKey.size()));
    return classKey;
  }

  Result Open(CBackupKeyBag& bag) const { return bag.Open(bytes.data(), bytes.size(), password); }
};

Bytes IndexField(std::uint32_t protectionClass, const Bytes& wrapped) {
  Bytes field(4 + wrapped.size(), 0);
  field[0] = std::uint8_t(protectionClass);
  field[1] = std::uint8_t(protectionClass >> 8);
  std::copy(wrapped.begin(), wrapped.end(), field.begin() + 4);
  return field;
}

// A file key wrapped with classKey comes back by both routes, whatever class the entry names.
void ExpectFileKeyUnwraps(const CBackupKeyBag& bag, const FileKey& classKey, std::uint32_t protectionClass) {
  const FileKey fileKey = RandomKey(protectionClass + 1000);
  const Bytes wrapped = Wrap(classKey, fileKey.data(), fileKey.size());
  FileKey out{};
  EXPECT_TRUE(bag.UnwrapFileKey(wrapped.data(), wrapped.size(), out) && out == fileKey);
  EXPECT_TRUE(bag.FileKeyFromIndexField(IndexField(protectionClass, wrapped), out) && out == fileKey);
  EXPECT_TRUE(bag.FileKeyFromIndexField(IndexField(protectionClass + 100, wrapped), out) && out == fileKey);
}

// Classes the password cannot open (the device key only, a failed integrity check, a key of
// the wrong size, no wrapped key) have no key, never garbage; the others open.
TEST(KeyBag, OpensDeviceLayoutAndUnwrapsFileKeys) {
  BagMaker maker;
  maker.Header();
  const FileKey a = maker.Class(1);
  maker.Add("PBKY", RandomBytes(32, 5));  // extra items inside a block are allowed
  const FileKey b = maker.Class(2, 3, "KYPT");
  const FileKey c = maker.Class(3);
  maker.Class(4, 1);
  maker.Class(5, RandomKey(77));
  const Bytes longer = Wrap(maker.PasswordKey(maker.iterations), RandomBytes(40, 78).data(), 40);
  maker.Add("UUID", RandomBytes(16, 79)).Add("CLAS", 6).Add("WRAP", 2).Add("WPKY", longer);
  maker.Add("UUID", RandomBytes(16, 80)).Add("CLAS", 7).Add("WRAP", 2);
  const Bytes original = maker.bytes;
  CBackupKeyBag bag;
  ASSERT_EQ(maker.Open(bag), Result::Opened);
  EXPECT_TRUE(bag.IsOpen());
  EXPECT_EQ(bag.ClassKeyCount(), 3u);
  EXPECT_EQ(maker.bytes, original);  // the input is not modified
  ExpectFileKeyUnwraps(bag, a, 1);
  ExpectFileKeyUnwraps(bag, b, 2);
  ExpectFileKeyUnwraps(bag, c, 3);

  // A key of no class, and fields of the wrong size, give no key and a zeroed output.
  const FileKey fileKey = RandomKey(15);
  const Bytes foreign = Wrap(RandomKey(14), fileKey.data(), fileKey.size());
  FileKey out;
  out.fill(0xAA);
  EXPECT_FALSE(bag.UnwrapFileKey(foreign.data(), foreign.size(), out));
  EXPECT_EQ(out, FileKey{});
  const Bytes good = Wrap(a, fileKey.data(), fileKey.size());
  EXPECT_FALSE(bag.UnwrapFileKey(good.data(), 32, out));
  Bytes field = IndexField(1, good);
  EXPECT_FALSE(bag.FileKeyFromIndexField(Bytes(field.begin(), field.end() - 1), out));
  EXPECT_FALSE(bag.FileKeyFromIndexField({}, out));

  bag.Clear();
  EXPECT_FALSE(bag.IsOpen() || bag.ClassKeyCount() > 0 || bag.UnwrapFileKey(good.data(), good.size(), out));

  BagMaker deviceOnly;  // nothing a password could open
  deviceOnly.Header().Class(1, 1);
  EXPECT_EQ(deviceOnly.Open(bag), Result::Malformed);
}

TEST(KeyBag, PasswordsAndDerivationRules) {
  BagMaker maker;
  maker.Header().Class(1);
  maker.Class(2);
  CBackupKeyBag bag;
  ASSERT_EQ(maker.Open(bag), Result::Opened);
  // A wrong password fails and leaves nothing of the earlier opening.
  EXPECT_EQ(bag.Open(maker.bytes.data(), maker.bytes.size(), "alpine "), Result::WrongPassword);
  EXPECT_FALSE(bag.IsOpen() || bag.ClassKeyCount() > 0);
  EXPECT_EQ(bag.Open(maker.bytes.data(), maker.bytes.size(), ""), Result::WrongPassword);

  // The password is raw bytes: empty, or holding a zero byte.
  for (const std::string& password : {std::string(), std::string("pa\0ss", 5)}) {
    BagMaker raw;
    raw.password = password;
    raw.Header().Class(1);
    EXPECT_EQ(raw.Open(bag), Result::Opened) << password.size();
    EXPECT_EQ(bag.Open(raw.bytes.data(), raw.bytes.size(), "pa"), Result::WrongPassword);
  }

  // Bags of another type take one round whatever ITER says; type 1 honours ITER.
  for (const std::uint32_t type : {0u, 2u, 1u}) {
    BagMaker other;
    other.type = type;
    other.iterations = 1000;
    other.Header().Class(1, other.PasswordKey(1));
    EXPECT_EQ(other.Open(bag), type == 1 ? Result::WrongPassword : Result::Opened) << "type " << type;
  }

  // With DPSL/DPIC the SHA-256 stretch comes first; a bag wrapped without it does not open.
  // The key derived from the password opens the bag alone; deriving opens nothing by itself.
  BagMaker stretched;
  stretched.stretchSalt = RandomBytes(20, 50);
  stretched.Header();
  const FileKey classKey = stretched.Class(1);
  ASSERT_EQ(stretched.Open(bag), Result::Opened);
  ExpectFileKeyUnwraps(bag, classKey, 1);
  FileKey derived{};
  CBackupKeyBag fromKey;
  ASSERT_EQ(CBackupKeyBag::Derive(stretched.bytes.data(), stretched.bytes.size(), stretched.password, derived),
            Result::Opened);
  EXPECT_FALSE(fromKey.IsOpen());
  ASSERT_EQ(fromKey.OpenWithKey(stretched.bytes.data(), stretched.bytes.size(), derived), Result::Opened);
  ExpectFileKeyUnwraps(fromKey, classKey, 1);
  derived[0] ^= 1;
  EXPECT_EQ(fromKey.OpenWithKey(stretched.bytes.data(), stretched.bytes.size(), derived), Result::WrongPassword);
  EXPECT_FALSE(fromKey.IsOpen());
  std::uint32_t rounds = 0, stretch = 0;
  EXPECT_TRUE(CBackupKeyBag::Rounds(stretched.bytes.data(), stretched.bytes.size(), rounds, stretch));
  EXPECT_EQ(rounds, stretched.iterations);
  EXPECT_EQ(stretch, 3u);
  BagMaker unstretched = stretched;
  unstretched.stretchSalt.clear();
  const FileKey oldStyle = unstretched.PasswordKey(unstretched.iterations);
  stretched.bytes.clear();
  stretched.Header().Class(1, oldStyle);
  EXPECT_EQ(stretched.Open(bag), Result::WrongPassword);
}

TEST(KeyBag, ALongDerivationStopsWhenAsked) {
  BagMaker maker;
  maker.stretchSalt = RandomBytes(20, 61);
  maker.Header();
  maker.Class(1);
  // Ten million rounds, as devices write: seconds of work, stopped after a few milliseconds.
  const std::string dpic = "DPIC";
  const auto at = std::search(maker.bytes.begin(), maker.bytes.end(), dpic.begin(), dpic.end());
  ASSERT_NE(at, maker.bytes.end());
  const Bytes rounds = BigEndian(10000000);
  std::copy(rounds.begin(), rounds.end(), at + 8);
  std::atomic<int> stop{0};
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = 1;
  });
  FileKey key{};
  key.fill(0x77);
  EXPECT_EQ(CBackupKeyBag::Derive(maker.bytes.data(), maker.bytes.size(), maker.password, key, &stop),
            Result::Stopped);
  stopper.join();
  EXPECT_EQ(key, FileKey{}) << "nothing of a half-done derivation is left";
}

TEST(KeyBag, MalformedBytesAreRefused) {
  BagMaker maker;
  maker.Header().Class(1);
  maker.Class(2);
  const Bytes valid = maker.bytes;
  CBackupKeyBag bag;
  auto open = [&](const Bytes& bytes) { return bag.Open(bytes.data(), bytes.size(), maker.password); };
  EXPECT_EQ(bag.Open(nullptr, 0, maker.password), Result::Malformed);
  EXPECT_EQ(open({}), Result::Malformed);

  // Every cut inside an item is malformed (cuts between items may leave a smaller bag).
  const auto& ends = maker.itemEnds;
  for (std::size_t size = 1; size < valid.size(); ++size) {
    if (std::find(ends.begin(), ends.end(), size) != ends.end()) continue;
    EXPECT_EQ(bag.Open(valid.data(), size, maker.password), Result::Malformed) << "cut at " << size;
  }
  // Lengths running past the data, in the first and the last item.
  for (const std::uint32_t extra : {1u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    for (const std::size_t item : {std::size_t{0}, ends[ends.size() - 2]}) {
      Bytes lying = valid;
      const std::size_t next = item == 0 ? ends[0] : ends.back();
      const Bytes length = BigEndian(static_cast<std::uint32_t>(next - item - 8) + extra);
      std::copy(length.begin(), length.end(), lying.begin() + static_cast<std::ptrdiff_t>(item) + 4);
      EXPECT_EQ(open(lying), Result::Malformed) << extra << " at " << item;
    }
  }

  // Header rules: salt required, ITER present (type 1), non-zero and 4 bytes wide, stretching
  // salt only with its rounds, no field twice, at least one class block.
  const Bytes uuid(16, 1), one = BigEndian(1), ten = BigEndian(10), salt = maker.salt;
  using Items = std::vector<std::pair<const char*, Bytes>>;
  const std::pair<Items, Result> headers[] = {
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", ten}}, Result::Opened},
      {{{"UUID", uuid}, {"TYPE", one}, {"ITER", ten}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", BigEndian(0)}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", {0, 0, 10}}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", ten}, {"DPSL", salt}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", ten}, {"SALT", salt}}, Result::Malformed},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", ten}, {"DPIC", BigEndian(0)}, {"DPSL", salt}},
       Result::Malformed},
      // Round counts no device writes are refused at once, before any derivation.
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", BigEndian(0x80000000u)}}, Result::Refused},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", BigEndian(200000000u)}}, Result::Refused},
      {{{"UUID", uuid}, {"TYPE", one}, {"SALT", salt}, {"ITER", ten}, {"DPIC", BigEndian(0x80000000u)},
        {"DPSL", salt}},
       Result::Refused}};
  for (const auto& [items, expected] : headers) {
    BagMaker variant;
    for (const auto& [tag, value] : items) variant.Add(tag, value);
    EXPECT_EQ(open(variant.bytes), Result::Malformed) << "header alone, " << items.size() << " items";
    variant.Class(1);
    EXPECT_EQ(variant.Open(bag), expected) << items.size() << " items";
  }
  BagMaker twice;  // a block naming its key type under both tags
  twice.Header().Class(1);
  twice.Add("KYPT", 0u);
  EXPECT_EQ(twice.Open(bag), Result::Malformed);
}

}  // namespace
}  // namespace sieve
