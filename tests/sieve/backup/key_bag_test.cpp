// Key bags are built here the way a device writes them: a header, then one block per
// protection class whose key is wrapped with the password key.
#include "sieve/backup/key_bag.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "sieve/backup/crypto.h"

namespace sieve {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = CBackupKeyBag::OpenResult;

Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

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

Bytes Int(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v)};
}

// Writes tag-length-value items and remembers where each one ends.
struct Tlv {
  Bytes bytes;
  std::vector<std::size_t> itemEnds;

  Tlv& Add(const char* tag, const Bytes& value) {
    bytes.insert(bytes.end(), tag, tag + 4);
    const Bytes length = Int(static_cast<std::uint32_t>(value.size()));
    bytes.insert(bytes.end(), length.begin(), length.end());
    bytes.insert(bytes.end(), value.begin(), value.end());
    itemEnds.push_back(bytes.size());
    return *this;
  }
  Tlv& Add(const char* tag, std::uint32_t value) { return Add(tag, Int(value)); }
};

struct BagMaker {
  std::string password = "alpine";
  std::uint32_t type = 1;
  std::uint32_t iterations = 10;
  Bytes salt = RandomBytes(20, 100);
  Bytes doubleSalt;  // empty: no double protection
  std::uint32_t doubleIterations = 3;
  Tlv tlv;
  unsigned nextSeed = 200;

  FileKey PasswordKey(std::uint32_t rounds) const {
    Bytes secret(password.begin(), password.end());
    if (!doubleSalt.empty()) {
      Bytes stretched(32);
      EXPECT_TRUE(crypto::Pbkdf2HmacSha256(secret.data(), secret.size(), doubleSalt.data(), doubleSalt.size(),
                                           doubleIterations, stretched.data(), stretched.size()));
      secret = stretched;
    }
    FileKey key;
    EXPECT_TRUE(crypto::Pbkdf2HmacSha1(secret.data(), secret.size(), salt.data(), salt.size(), rounds, key.data(),
                                       key.size()));
    return key;
  }
  FileKey PasswordKey() const { return PasswordKey(iterations); }

  BagMaker& Header() {
    tlv.Add("VERS", 3).Add("TYPE", type).Add("UUID", RandomBytes(16, 1)).Add("HMCK", RandomBytes(40, 2));
    tlv.Add("WRAP", 1).Add("SALT", salt).Add("ITER", iterations);
    if (!doubleSalt.empty()) tlv.Add("DPWT", 1).Add("DPIC", doubleIterations).Add("DPSL", doubleSalt);
    return *this;
  }

  // Appends a class block wrapped with `kek` and returns its class key.
  FileKey Class(std::uint32_t protectionClass, const FileKey& kek, std::uint32_t wrap = 3,
                const char* keyTypeTag = "KTYP") {
    const FileKey classKey = RandomKey(nextSeed++);
    tlv.Add("UUID", RandomBytes(16, nextSeed++)).Add("CLAS", protectionClass).Add("WRAP", wrap);
    tlv.Add(keyTypeTag, 0).Add("WPKY", Wrap(kek, classKey.data(), classKey.size()));
    return classKey;
  }
  FileKey Class(std::uint32_t protectionClass) { return Class(protectionClass, PasswordKey()); }

  Result Open(CBackupKeyBag& bag) const { return bag.Open(tlv.bytes.data(), tlv.bytes.size(), password); }
};

Bytes IndexField(std::uint32_t protectionClass, const Bytes& wrapped) {
  Bytes field = {static_cast<std::uint8_t>(protectionClass), static_cast<std::uint8_t>(protectionClass >> 8),
                 static_cast<std::uint8_t>(protectionClass >> 16), static_cast<std::uint8_t>(protectionClass >> 24)};
  field.insert(field.end(), wrapped.begin(), wrapped.end());
  return field;
}

// A file key wrapped with classKey must come back from the opened bag, by both routes.
void ExpectFileKeyUnwraps(const CBackupKeyBag& bag, const FileKey& classKey, std::uint32_t protectionClass,
                          unsigned seed) {
  const FileKey fileKey = RandomKey(seed);
  const Bytes wrapped = Wrap(classKey, fileKey.data(), fileKey.size());
  FileKey out{};
  EXPECT_TRUE(bag.UnwrapFileKey(wrapped.data(), wrapped.size(), out));
  EXPECT_EQ(out, fileKey);
  out = {};
  EXPECT_TRUE(bag.FileKeyFromIndexField(IndexField(protectionClass, wrapped), out));
  EXPECT_EQ(out, fileKey);
  // An entry labelled with another class still finds its key.
  out = {};
  EXPECT_TRUE(bag.FileKeyFromIndexField(IndexField(protectionClass + 100, wrapped), out));
  EXPECT_EQ(out, fileKey);
}

TEST(KeyBag, OpensDeviceLayoutAndUnwrapsFileKeys) {
  BagMaker maker;
  maker.Header();
  const FileKey a = maker.Class(1);
  maker.tlv.Add("PBKY", RandomBytes(32, 5));  // extra items inside a block are allowed
  const FileKey b = maker.Class(2, maker.PasswordKey(), 3, "KYPT");
  const FileKey c = maker.Class(3);
  const Bytes original = maker.tlv.bytes;

  CBackupKeyBag bag;
  ASSERT_EQ(maker.Open(bag), Result::Opened);
  EXPECT_TRUE(bag.IsOpen());
  EXPECT_EQ(bag.ClassKeyCount(), 3u);
  EXPECT_EQ(maker.tlv.bytes, original);  // the input is left as it was
  ExpectFileKeyUnwraps(bag, a, 1, 11);
  ExpectFileKeyUnwraps(bag, b, 2, 12);
  ExpectFileKeyUnwraps(bag, c, 3, 13);

  // A key of no class, and fields of the wrong size, give no key and a zeroed output.
  const FileKey stranger = RandomKey(14);
  const FileKey fileKey = RandomKey(15);
  const Bytes foreign = Wrap(stranger, fileKey.data(), fileKey.size());
  FileKey out;
  out.fill(0xAA);
  EXPECT_FALSE(bag.UnwrapFileKey(foreign.data(), foreign.size(), out));
  EXPECT_EQ(out, FileKey{});
  const Bytes good = Wrap(a, fileKey.data(), fileKey.size());
  EXPECT_FALSE(bag.UnwrapFileKey(good.data(), 32, out));
  Bytes field = IndexField(1, good);
  EXPECT_FALSE(bag.FileKeyFromIndexField(Bytes(field.begin(), field.end() - 1), out));
  EXPECT_FALSE(bag.FileKeyFromIndexField({}, out));
  field.push_back(0);
  EXPECT_FALSE(bag.FileKeyFromIndexField(field, out));

  bag.Clear();
  EXPECT_FALSE(bag.IsOpen());
  EXPECT_EQ(bag.ClassKeyCount(), 0u);
  EXPECT_FALSE(bag.UnwrapFileKey(good.data(), good.size(), out));
}

TEST(KeyBag, ClassesThatCannotBeOpenedHaveNoKey) {
  BagMaker maker;
  maker.Header();
  const FileKey passwordKey = maker.PasswordKey();
  const FileKey kept = maker.Class(1);
  maker.Class(2, passwordKey, 1);   // wrapped with the device key only: skipped
  maker.Class(3, RandomKey(77));     // fails its integrity check: no key, never garbage
  const FileKey classKey = RandomKey(78);
  const Bytes longer = [&] {
    Bytes material(classKey.begin(), classKey.end());
    material.resize(40, 0x5A);
    return Wrap(passwordKey, material.data(), material.size());
  }();
  maker.tlv.Add("UUID", RandomBytes(16, 79)).Add("CLAS", 4).Add("WRAP", 2).Add("KTYP", 0).Add("WPKY", longer);
  maker.tlv.Add("UUID", RandomBytes(16, 80)).Add("CLAS", 5).Add("WRAP", 2);  // no wrapped key at all

  CBackupKeyBag bag;
  ASSERT_EQ(maker.Open(bag), Result::Opened);
  EXPECT_EQ(bag.ClassKeyCount(), 1u);
  ExpectFileKeyUnwraps(bag, kept, 1, 21);

  // When only device-wrapped classes exist, a password cannot open anything.
  BagMaker deviceOnly;
  deviceOnly.Header();
  deviceOnly.Class(1, deviceOnly.PasswordKey(), 1);
  EXPECT_EQ(deviceOnly.Open(bag), Result::Malformed);
}

TEST(KeyBag, PasswordsAndDerivationRules) {
  BagMaker maker;
  maker.Header();
  maker.Class(1);
  maker.Class(2);
  CBackupKeyBag bag;
  ASSERT_EQ(maker.Open(bag), Result::Opened);
  // A wrong password fails and leaves nothing of the earlier opening.
  EXPECT_EQ(bag.Open(maker.tlv.bytes.data(), maker.tlv.bytes.size(), "alpine "), Result::WrongPassword);
  EXPECT_FALSE(bag.IsOpen());
  EXPECT_EQ(bag.ClassKeyCount(), 0u);
  EXPECT_EQ(bag.Open(maker.tlv.bytes.data(), maker.tlv.bytes.size(), ""), Result::WrongPassword);

  // The password is raw bytes: empty, or with an embedded zero byte.
  for (const std::string& password : {std::string(), std::string("pa\0ss", 5)}) {
    BagMaker raw;
    raw.password = password;
    raw.Header();
    raw.Class(1);
    EXPECT_EQ(raw.Open(bag), Result::Opened) << password.size();
    EXPECT_EQ(bag.Open(raw.tlv.bytes.data(), raw.tlv.bytes.size(), "pa"), Result::WrongPassword);
  }

  // Bags of another type take one round whatever ITER says; type 1 honours ITER.
  for (const std::uint32_t type : {0u, 2u, 1u}) {
    BagMaker other;
    other.type = type;
    other.iterations = 1000;
    other.Header();
    other.Class(1, other.PasswordKey(1));
    EXPECT_EQ(other.Open(bag), type == 1 ? Result::WrongPassword : Result::Opened) << "type " << type;
  }

  // Double protection: SHA-256 stretching first, its output is the password of the SHA-1 step.
  BagMaker doubled;
  doubled.doubleSalt = RandomBytes(20, 50);
  doubled.Header();
  const FileKey classKey = doubled.Class(1);
  ASSERT_EQ(doubled.Open(bag), Result::Opened);
  ExpectFileKeyUnwraps(bag, classKey, 1, 31);
  BagMaker plainDerivation;
  plainDerivation.doubleSalt = doubled.doubleSalt;
  plainDerivation.Header();
  Bytes secret(plainDerivation.password.begin(), plainDerivation.password.end());
  FileKey oldStyle;
  ASSERT_TRUE(crypto::Pbkdf2HmacSha1(secret.data(), secret.size(), plainDerivation.salt.data(),
                                     plainDerivation.salt.size(), plainDerivation.iterations, oldStyle.data(),
                                     oldStyle.size()));
  plainDerivation.Class(1, oldStyle);
  EXPECT_EQ(plainDerivation.Open(bag), Result::WrongPassword);
}

TEST(KeyBag, MalformedBytesAreRefused) {
  BagMaker maker;
  maker.Header();
  maker.Class(1);
  maker.Class(2);
  const Bytes valid = maker.tlv.bytes;
  CBackupKeyBag bag;
  auto open = [&](const Bytes& bytes) { return bag.Open(bytes.data(), bytes.size(), maker.password); };
  ASSERT_EQ(open(valid), Result::Opened);

  EXPECT_EQ(bag.Open(nullptr, 0, maker.password), Result::Malformed);
  EXPECT_EQ(open({}), Result::Malformed);
  EXPECT_FALSE(bag.IsOpen());

  // Every cut inside an item is malformed; cuts between items may leave a smaller bag.
  const auto& ends = maker.tlv.itemEnds;
  for (std::size_t size = 1; size < valid.size(); ++size) {
    const bool onBoundary = std::find(ends.begin(), ends.end(), size) != ends.end();
    const Result result = bag.Open(valid.data(), size, maker.password);
    if (!onBoundary) {
      EXPECT_EQ(result, Result::Malformed) << "cut at " << size;
    }
  }
  // Lengths that run past the data, from just past it to the largest value.
  for (const std::uint32_t extra : {1u, 8u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    Bytes lying = valid;
    const std::size_t lastItem = ends[ends.size() - 2];
    const Bytes length = Int(static_cast<std::uint32_t>(valid.size() - lastItem - 8) + extra);
    std::copy(length.begin(), length.end(), lying.begin() + static_cast<std::ptrdiff_t>(lastItem) + 4);
    EXPECT_EQ(open(lying), Result::Malformed) << extra;
    Bytes first = valid;
    std::copy(length.begin(), length.end(), first.begin() + 4);
    EXPECT_EQ(open(first), Result::Malformed) << extra;
  }
  Bytes trailing = valid;
  trailing.insert(trailing.end(), {'W', 'P', 'K'});
  EXPECT_EQ(open(trailing), Result::Malformed);

  // Header rules: a salt is required, rounds must be present (for type 1) and non-zero,
  // and a field given twice or with a wrong width is ambiguous.
  auto headerCase = [&](auto edit) {
    BagMaker variant;
    Tlv header;
    edit(header, variant);
    variant.tlv = header;
    variant.Class(1);
    return variant.Open(bag);
  };
  auto standardHeader = [](Tlv& t, const BagMaker& m, bool salt, bool iter, std::uint32_t rounds) {
    t.Add("VERS", 3).Add("TYPE", m.type).Add("UUID", RandomBytes(16, 1));
    if (salt) t.Add("SALT", m.salt);
    if (iter) t.Add("ITER", rounds);
  };
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) { standardHeader(t, m, true, true, m.iterations); }), Result::Opened);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) { standardHeader(t, m, false, true, m.iterations); }),
            Result::Malformed);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) { standardHeader(t, m, true, false, m.iterations); }),
            Result::Malformed);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) { standardHeader(t, m, true, true, 0); }), Result::Malformed);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) {
              standardHeader(t, m, true, true, m.iterations);
              t.Add("SALT", m.salt);
            }),
            Result::Malformed);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) {
              standardHeader(t, m, true, false, 0);
              t.Add("ITER", Bytes{0, 0, 10});
            }),
            Result::Malformed);
  EXPECT_EQ(headerCase([&](Tlv& t, BagMaker& m) {
              standardHeader(t, m, true, true, m.iterations);
              t.Add("DPSL", RandomBytes(20, 3));  // stretching salt without its rounds
            }),
            Result::Malformed);

  // No class block at all, or a block naming its key type twice.
  Tlv headerOnly;
  standardHeader(headerOnly, maker, true, true, maker.iterations);
  EXPECT_EQ(open(headerOnly.bytes), Result::Malformed);
  BagMaker twice;
  twice.Header();
  twice.Class(1);
  twice.tlv.Add("KYPT", 0);
  EXPECT_EQ(twice.Open(bag), Result::Malformed);
}

}  // namespace
}  // namespace sieve
