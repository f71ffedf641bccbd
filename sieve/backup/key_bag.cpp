#include "sieve/backup/key_bag.h"

#include <cstring>
#include <optional>

#include "sieve/backup/crypto.h"

namespace sieve {
namespace {

constexpr std::size_t kWrappedKeySize = 40;
constexpr std::size_t kIndexKeyFieldSize = 4 + kWrappedKeySize;
constexpr std::uint32_t kWrapWithPassword = 2;
constexpr std::uint32_t kBackupKeyBagType = 1;

struct Item {
  const std::uint8_t* tag;
  const std::uint8_t* value;
  std::size_t length;

  bool Is(const char (&name)[5]) const { return std::memcmp(tag, name, 4) == 0; }
};

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Splits the bytes into tag-length-value items; false when a length runs past the
// data or bytes too few for an item header are left over.
bool SplitItems(const std::uint8_t* data, std::size_t size, std::vector<Item>& items) {
  std::size_t offset = 0;
  while (offset < size) {
    if (size - offset < 8) return false;
    const std::size_t length = BigEndian32(data + offset + 4);
    if (length > size - offset - 8) return false;
    items.push_back({data + offset, data + offset + 8, length});
    offset += 8 + length;
  }
  return true;
}

// A field that may appear once; a second copy makes the key bag ambiguous.
struct Bytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool present = false;
};

bool TakeBytes(const Item& item, Bytes& field) {
  if (field.present) return false;
  field = {item.value, item.length, true};
  return true;
}

bool TakeInteger(const Item& item, std::optional<std::uint32_t>& field) {
  if (field || item.length != 4) return false;
  field = BigEndian32(item.value);
  return true;
}

struct Header {
  std::optional<std::uint32_t> type;
  std::optional<std::uint32_t> iterations;
  std::optional<std::uint32_t> doubleIterations;
  Bytes salt;
  Bytes doubleSalt;
};

struct Block {
  std::optional<std::uint32_t> protectionClass;
  std::optional<std::uint32_t> wrap;
  std::optional<std::uint32_t> keyType;
  Bytes wrappedKey;

  // Only these can be opened with the password; others are wrapped with the device's own key.
  bool NeedsPassword() const {
    return wrappedKey.present && wrappedKey.size == kWrappedKeySize && wrap && (*wrap & kWrapWithPassword) != 0;
  }
};

bool ReadHeaderItem(const Item& item, Header& header) {
  if (item.Is("TYPE")) return TakeInteger(item, header.type);
  if (item.Is("ITER")) return TakeInteger(item, header.iterations);
  if (item.Is("DPIC")) return TakeInteger(item, header.doubleIterations);
  if (item.Is("SALT")) return TakeBytes(item, header.salt);
  if (item.Is("DPSL")) return TakeBytes(item, header.doubleSalt);
  return true;  // version, header UUID, HMAC key and the like play no part here
}

bool ReadBlockItem(const Item& item, Block& block) {
  if (item.Is("CLAS")) return TakeInteger(item, block.protectionClass);
  if (item.Is("WRAP")) return TakeInteger(item, block.wrap);
  // Devices write "KTYP"; older descriptions call it "KYPT". Either, but not both.
  if (item.Is("KTYP") || item.Is("KYPT")) return TakeInteger(item, block.keyType);
  if (item.Is("WPKY")) return TakeBytes(item, block.wrappedKey);
  return true;  // public keys ("PBKY") and other additions are not needed
}

// The header runs up to the second "UUID"; each "UUID" from there on opens a class block.
bool ReadKeyBag(const std::vector<Item>& items, Header& header, std::vector<Block>& blocks) {
  int uuidCount = 0;
  for (const Item& item : items) {
    if (item.Is("UUID") && ++uuidCount >= 2) blocks.emplace_back();
    const bool ok = blocks.empty() ? ReadHeaderItem(item, header) : ReadBlockItem(item, blocks.back());
    if (!ok) return false;
  }
  return !blocks.empty();
}

// Counts no device writes: refused before any work, whatever the rest says.
bool RoundsAbsurd(const Header& header) {
  return (header.iterations && *header.iterations > CBackupKeyBag::kMaxIterations) ||
         (header.doubleIterations && *header.doubleIterations > CBackupKeyBag::kMaxStretchIterations);
}

// The checks that make a parsed key bag derivable; false means malformed.
bool HeaderUsable(const Header& header) {
  if (!header.salt.present || header.salt.size == 0) return false;
  if (header.iterations && *header.iterations == 0) return false;
  if (header.type == kBackupKeyBagType && !header.iterations) return false;
  if (header.doubleSalt.present != header.doubleIterations.has_value()) return false;
  if (header.doubleSalt.present && (header.doubleSalt.size == 0 || *header.doubleIterations == 0)) return false;
  return true;
}

// Derives the key that unwraps the class keys; newer devices first stretch the
// password with SHA-256 and feed that to the classic SHA-1 derivation.
bool DerivePasswordKey(const Header& header, const std::string& password, FileKey& out,
                       const std::atomic<int>* stop) {
  const auto* passwordBytes = reinterpret_cast<const std::uint8_t*>(password.data());
  // Key bags of other types take a single round whatever "ITER" says.
  const std::uint32_t iterations = header.type == kBackupKeyBagType ? *header.iterations : 1;
  if (!header.doubleSalt.present) {
    return crypto::Pbkdf2HmacSha1(passwordBytes, password.size(), header.salt.data, header.salt.size, iterations,
                                  out.data(), out.size(), stop);
  }
  FileKey stretched{};
  const bool ok = crypto::Pbkdf2HmacSha256(passwordBytes, password.size(), header.doubleSalt.data,
                                           header.doubleSalt.size, *header.doubleIterations, stretched.data(),
                                           stretched.size(), stop) &&
                  crypto::Pbkdf2HmacSha1(stretched.data(), stretched.size(), header.salt.data, header.salt.size,
                                         iterations, out.data(), out.size(), stop);
  crypto::SecureZero(stretched.data(), stretched.size());
  return ok;
}

// Parses and checks a bag; Opened when it can be derived and opened.
CBackupKeyBag::OpenResult Parse(const std::uint8_t* data, std::size_t size, Header& header,
                                std::vector<Block>& blocks) {
  if (data == nullptr || size == 0) return CBackupKeyBag::OpenResult::Malformed;
  std::vector<Item> items;
  if (!SplitItems(data, size, items) || !ReadKeyBag(items, header, blocks)) {
    return CBackupKeyBag::OpenResult::Malformed;
  }
  if (RoundsAbsurd(header)) return CBackupKeyBag::OpenResult::Refused;
  if (!HeaderUsable(header)) return CBackupKeyBag::OpenResult::Malformed;
  bool anyNeedsPassword = false;
  for (const Block& block : blocks) anyNeedsPassword = anyNeedsPassword || block.NeedsPassword();
  // Nothing a password could open.
  return anyNeedsPassword ? CBackupKeyBag::OpenResult::Opened : CBackupKeyBag::OpenResult::Malformed;
}

}  // namespace

CBackupKeyBag::~CBackupKeyBag() { Clear(); }

bool CBackupKeyBag::Rounds(const std::uint8_t* data, std::size_t size, std::uint32_t& iterations,
                           std::uint32_t& stretchIterations) {
  iterations = stretchIterations = 0;
  Header header;
  std::vector<Block> blocks;
  std::vector<Item> items;
  if (data == nullptr || !SplitItems(data, size, items) || !ReadKeyBag(items, header, blocks)) return false;
  iterations = header.iterations.value_or(0);
  stretchIterations = header.doubleIterations.value_or(0);
  return true;
}

CBackupKeyBag::OpenResult CBackupKeyBag::Derive(const std::uint8_t* data, std::size_t size,
                                                const std::string& password, FileKey& passwordKey,
                                                const std::atomic<int>* stop) {
  passwordKey.fill(0);
  Header header;
  std::vector<Block> blocks;
  const OpenResult parsed = Parse(data, size, header, blocks);
  if (parsed != OpenResult::Opened) return parsed;
  if (!DerivePasswordKey(header, password, passwordKey, stop)) {
    crypto::SecureZero(passwordKey.data(), passwordKey.size());
    return stop != nullptr && stop->load() != 0 ? OpenResult::Stopped : OpenResult::Malformed;
  }
  return OpenResult::Opened;
}

CBackupKeyBag::OpenResult CBackupKeyBag::Open(const std::uint8_t* data, std::size_t size,
                                              const std::string& password) {
  Clear();
  FileKey passwordKey{};
  OpenResult result = Derive(data, size, password, passwordKey);
  if (result == OpenResult::Opened) result = OpenWithKey(data, size, passwordKey);
  crypto::SecureZero(passwordKey.data(), passwordKey.size());
  return result;
}

CBackupKeyBag::OpenResult CBackupKeyBag::OpenWithKey(const std::uint8_t* data, std::size_t size,
                                                     const FileKey& passwordKey) {
  Clear();
  Header header;
  std::vector<Block> blocks;
  const OpenResult parsed = Parse(data, size, header, blocks);
  if (parsed != OpenResult::Opened) return parsed;
  classKeys_.reserve(blocks.size());  // no reallocation leaves unwiped copies behind
  for (const Block& block : blocks) {
    if (!block.NeedsPassword()) continue;
    ClassKey classKey;
    classKey.wrap = *block.wrap;
    classKey.protectionClass = block.protectionClass.value_or(0);
    classKey.keyType = block.keyType.value_or(0);
    if (crypto::AesKeyUnwrap(passwordKey.data(), block.wrappedKey.data, block.wrappedKey.size,
                             classKey.key.data())) {
      classKeys_.push_back(classKey);
    }
    crypto::SecureZero(classKey.key.data(), classKey.key.size());
  }
  if (classKeys_.empty()) return OpenResult::WrongPassword;
  open_ = true;
  return OpenResult::Opened;
}

bool CBackupKeyBag::IsOpen() const { return open_; }

std::size_t CBackupKeyBag::ClassKeyCount() const { return classKeys_.size(); }

bool CBackupKeyBag::TryUnwrap(const ClassKey& classKey, const std::uint8_t* wrapped, FileKey& out) const {
  return crypto::AesKeyUnwrap(classKey.key.data(), wrapped, kWrappedKeySize, out.data());
}

bool CBackupKeyBag::UnwrapFileKey(const std::uint8_t* wrapped, std::size_t size, FileKey& out) const {
  out.fill(0);
  if (wrapped == nullptr || size != kWrappedKeySize) return false;
  for (const ClassKey& classKey : classKeys_) {
    if (TryUnwrap(classKey, wrapped, out)) return true;
  }
  return false;
}

bool CBackupKeyBag::FileKeyFromIndexField(const std::vector<std::uint8_t>& field, FileKey& out) const {
  out.fill(0);
  if (field.size() != kIndexKeyFieldSize) return false;
  const std::uint32_t entryClass = std::uint32_t{field[0]} | (std::uint32_t{field[1]} << 8) |
                                   (std::uint32_t{field[2]} << 16) | (std::uint32_t{field[3]} << 24);
  const std::uint8_t* wrapped = field.data() + 4;
  // The entry's own class almost always holds its key, which saves the other unwraps;
  // the rest are still tried so that a mislabelled entry gives the same key as before.
  for (const ClassKey& classKey : classKeys_) {
    if (classKey.protectionClass == entryClass && TryUnwrap(classKey, wrapped, out)) return true;
  }
  for (const ClassKey& classKey : classKeys_) {
    if (classKey.protectionClass != entryClass && TryUnwrap(classKey, wrapped, out)) return true;
  }
  return false;
}

void CBackupKeyBag::Clear() {
  for (ClassKey& classKey : classKeys_) crypto::SecureZero(classKey.key.data(), classKey.key.size());
  classKeys_.clear();
  open_ = false;
}

}  // namespace sieve
