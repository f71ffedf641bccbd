#include "sieve/extractors/whatsapp_undelete.h"

#include <cmath>
#include <map>
#include <tuple>

#include "sieve/reader/text.h"
#include "sieve/reader/time_text.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr std::string_view kTable = "ZWAMESSAGE";
// JIDs are "<number or group id>@<server>"; longer texts in their place are not JIDs.
constexpr std::uint32_t kMaxJidBytes = 256;
// WhatsApp began in 2009; a message date outside 2009..2100 is not a message date.
constexpr std::int64_t kEarliestUnixSeconds = 1230768000;
constexpr std::int64_t kLatestUnixSeconds = 4102444800;

bool IsJid(std::string_view text) {
  if (text.empty() || text.size() > kMaxJidBytes || text.find('@') == std::string_view::npos) return false;
  for (const char c : text) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

std::optional<double> Number(const Value& value) {
  if (value.truncated) return std::nullopt;
  if (value.kind == ValueKind::kInteger) return static_cast<double>(value.integer);
  if (value.kind == ValueKind::kReal) return value.real;
  return std::nullopt;
}

// Dates compared to the millisecond: a double read back from the page is the stored one.
std::int64_t DateKey(double date) { return std::llround(date * 1000.0); }

using MessageKey = std::tuple<std::string, bool, std::int64_t>;

MessageKey KeyOf(const RecoveredWaMessage& m) { return {m.chatJid, m.incoming, DateKey(m.date)}; }

// The same message when the texts agree, or one is the cut-off start of the other.
bool SameText(const RecoveredWaMessage& a, const RecoveredWaMessage& b) {
  if (a.text == b.text) return true;
  if (a.truncated && b.text.starts_with(a.text)) return true;
  return b.truncated && a.text.starts_with(b.text);
}

}  // namespace

CWhatAppUndelete::Columns CWhatAppUndelete::Locate() const {
  const auto columns = TableColumns(kTable);
  const auto at = [&](const char* name) { return StoredColumnIndex(columns, name); };
  Columns found;
  found.ent = at("Z_ENT");
  found.type = at("ZMESSAGETYPE");
  found.date = at("ZMESSAGEDATE");
  found.from = at("ZFROMJID");
  found.to = at("ZTOJID");
  found.text = at("ZTEXT");
  found.event = at("ZGROUPEVENTTYPE");
  found.member = at("ZGROUPMEMBER");
  found.push = at("ZPUSHNAME");
  return found;
}

std::vector<RecordShape> CWhatAppUndelete::Shapes() const {
  std::optional<RecordShape> shape = ShapeForTable(kTable);
  const Columns& c = columns_;
  if (!shape || c.date < 0 || c.from < 0 || c.to < 0 || c.text < 0) return {};
  // Core Data writes the entity number in every row and the date of every message.
  NarrowColumn(*shape, c.ent, kInteger);
  NarrowColumn(*shape, c.date, kInteger | kReal);
  NarrowColumn(*shape, c.from, kAny, kMaxJidBytes);
  NarrowColumn(*shape, c.to, kAny, kMaxJidBytes);
  return {*shape};
}

// A message is named by its parties, its date and its text.
CSqliteDelete::ShapeTable CWhatAppUndelete::TableOf(std::size_t) const {
  return {std::string(kTable), {{columns_.from, columns_.to, columns_.date, columns_.text}}};
}

bool CWhatAppUndelete::Decode(const std::vector<Value>& values, RecoveredWaMessage& out) const {
  const auto value = [&](int column) { return ValueAt(values, column); };
  const Value* date = value(columns_.date);
  const Value* from = value(columns_.from);
  const Value* to = value(columns_.to);
  const Value* text = value(columns_.text);
  if (!date || !from || !to || !text) return false;
  const std::optional<double> seconds = Number(*date);
  if (!seconds || !std::isfinite(*seconds)) return false;
  const std::int64_t unix = UnixSecondsFromMacValue(*seconds);
  if (unix < kEarliestUnixSeconds || unix >= kLatestUnixSeconds) return false;
  const std::string fromJid = from->kind == ValueKind::kText ? Text(*from) : std::string();
  const std::string toJid = to->kind == ValueKind::kText ? Text(*to) : std::string();
  out.incoming = !fromJid.empty();
  out.chatJid = out.incoming ? fromJid : toJid;
  if (!IsJid(out.chatJid) || from->truncated || to->truncated) return false;
  const Value* type = value(columns_.type);
  out.messageType = type && type->kind == ValueKind::kInteger ? static_cast<std::int32_t>(type->integer) : 0;
  out.text = text->kind == ValueKind::kText ? Text(*text) : std::string();
  out.truncated = text->truncated;
  out.groupEventType = IntegerAt(values, columns_.event);
  out.groupMember = IntegerAt(values, columns_.member);
  out.pushName = HasText(values, columns_.push) ? TextAt(values, columns_.push) : std::string();
  out.date = *seconds;
  return true;
}

bool CWhatAppUndelete::Accept(std::size_t, const CarvedRecord& record) const {
  RecoveredWaMessage message;
  return Decode(record.values, message);
}

void CWhatAppUndelete::OnRecord(std::size_t, const CarvedRecord& record, const RecordOrigin&) {
  RecoveredWaMessage message;
  if (Decode(record.values, message)) found_.push_back(std::move(message));
}

int CWhatAppUndelete::scan() {
  found_.clear();
  messages_.clear();
  columns_ = Searchable() ? Locate() : Columns{};
  const int carved = CSqliteDelete::scan();
  if (carved < 0) return carved;
  std::map<MessageKey, std::vector<std::size_t>> kept;  // key -> positions in messages_
  for (RecoveredWaMessage& message : found_) {
    std::vector<std::size_t>& same = kept[KeyOf(message)];
    bool repeat = false;
    for (const std::size_t index : same) {
      RecoveredWaMessage& earlier = messages_[index];
      if (!SameText(earlier, message)) continue;
      // Of two copies keep the one with more of the text.
      if (message.text.size() > earlier.text.size()) earlier = message;
      repeat = true;
      break;
    }
    if (repeat) continue;
    same.push_back(messages_.size());
    messages_.push_back(std::move(message));
  }
  found_.clear();
  return static_cast<int>(messages_.size());
}

}  // namespace sieve
