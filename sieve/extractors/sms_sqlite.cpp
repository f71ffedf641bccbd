#include "sieve/extractors/sms_sqlite.h"

#include "sieve/extractors/typedstream.h"
#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr std::uint32_t kLongestGuid = 128;
constexpr std::uint32_t kLongestHandle = 512;
constexpr std::uint32_t kLongestPath = 1024;

// madrid_flags: the 0x8000 bit marks an iMessage the owner sent (36869, 45061 sent;
// 12289, 77825 received).
constexpr std::int64_t kMadridFromMe = 0x8000;

// associated_message_type of tapbacks (2000-2005) and of their removal (3000-3005).
bool IsTapback(std::int64_t type) { return type >= 2000 && type < 4000; }

bool IsSet(const std::vector<Value>& values, int column) { return IntegerAt(values, column).value_or(0) != 0; }

}  // namespace

CSmsSqlite::~CSmsSqlite() = default;

// The message's words: the text column, else the string of the archived attributedBody
// (newer systems leave text empty). A body cut short by a lost overflow page gives nothing.
std::string CSmsSqlite::BodyText(const std::vector<Value>& values) const {
  std::string text = TextAt(values, columns_.text);
  const Value* body = ValueAt(values, columns_.body);
  if (!text.empty() || body == nullptr || body->kind != ValueKind::kBlob) return text;
  const auto decoded = typedstream::AttributedText(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body->bytes.data()), body->bytes.size()));
  return decoded ? *decoded : std::string();
}

int CSmsSqlite::scan() {
  handles_.clear();
  messages_.clear();
  attachments_.clear();
  shapes_.clear();
  if (!Searchable()) return CSqliteDelete::scan();
  columns_ = Columns{};
  const auto message = TableColumns("message");
  const auto handle = TableColumns("handle");
  const auto attachment = TableColumns("attachment");
  columns_.text = StoredColumnIndex(message, "text");
  columns_.date = StoredColumnIndex(message, "date");
  if (layout_ == SmsLayout::Newer) {
    columns_.guid = StoredColumnIndex(message, "guid");
    columns_.handleId = StoredColumnIndex(message, "handle_id");
    columns_.isFromMe = StoredColumnIndex(message, "is_from_me");
    columns_.body = StoredColumnIndex(message, "attributedBody");
    columns_.associatedType = StoredColumnIndex(message, "associated_message_type");
    columns_.edited = StoredColumnIndex(message, "date_edited");
    columns_.retracted = StoredColumnIndex(message, "date_retracted");
    columns_.audio = StoredColumnIndex(message, "is_audio_message");
    columns_.handleIdText = StoredColumnIndex(handle, "id");
    columns_.handleService = StoredColumnIndex(handle, "service");
    columns_.attachmentGuid = StoredColumnIndex(attachment, "guid");
    columns_.attachmentFile = StoredColumnIndex(attachment, "filename");
    columns_.attachmentMime = StoredColumnIndex(attachment, "mime_type");
  } else {
    columns_.address = StoredColumnIndex(message, "address");
    columns_.flags = StoredColumnIndex(message, "flags");
    columns_.isMadrid = StoredColumnIndex(message, "is_madrid");
    columns_.madridHandle = StoredColumnIndex(message, "madrid_handle");
    columns_.madridFlags = StoredColumnIndex(message, "madrid_flags");
  }
  BuildShapes(shapes_);
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CSmsSqlite::Shapes() const {
  std::vector<Shape> order;
  return BuildShapes(order);
}

CSmsSqlite::Shape CSmsSqlite::ShapeAt(std::size_t index) const {
  return index < shapes_.size() ? shapes_[index] : Shape::kMessage;
}

// A table the file lacks leaves its shape out, so `order` says which shape each index is.
std::vector<RecordShape> CSmsSqlite::BuildShapes(std::vector<Shape>& order) const {
  order.clear();
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> message = ShapeForTable("message");
  if (!message || columns_.date < 0 || columns_.text < 0) return shapes;
  NarrowColumn(*message, columns_.date, kInteger | kNull);
  if (layout_ == SmsLayout::Newer) {
    if (columns_.guid < 0 || columns_.handleId < 0) return shapes;
    NarrowColumn(*message, columns_.guid, kText, kLongestGuid);  // NOT NULL
    NarrowColumn(*message, columns_.handleId, kInteger | kNull);
    NarrowColumn(*message, columns_.isFromMe, kInteger | kNull);
    NarrowColumn(*message, columns_.body, kBlob | kNull);
  } else {
    NarrowColumn(*message, columns_.address, kText | kNull, kLongestHandle);
    NarrowColumn(*message, columns_.flags, kInteger | kNull);
    NarrowColumn(*message, columns_.madridHandle, kText | kNull, kLongestHandle);
  }
  shapes.push_back(*message);
  order.push_back(Shape::kMessage);
  if (layout_ != SmsLayout::Newer) return shapes;
  std::optional<RecordShape> handle = ShapeForTable("handle");
  if (handle && columns_.handleIdText >= 0) {
    NarrowColumn(*handle, columns_.handleIdText, kText, kLongestHandle);
    shapes.push_back(*handle);
    order.push_back(Shape::kHandle);
  }
  std::optional<RecordShape> attachment = ShapeForTable("attachment");
  if (attachment && columns_.attachmentGuid >= 0 && columns_.attachmentFile >= 0) {
    NarrowColumn(*attachment, columns_.attachmentGuid, kText, kLongestGuid);  // NOT NULL
    NarrowColumn(*attachment, columns_.attachmentFile, kText, kLongestPath);
    NarrowColumn(*attachment, columns_.attachmentMime, kText | kNull, kLongestGuid);
    shapes.push_back(*attachment);
    order.push_back(Shape::kAttachment);
  }
  return shapes;
}

// A message is named by its guid where the layout has one, otherwise by its party, date and
// text together; a handle by its address and service; an attachment by its guid.
CSqliteDelete::ShapeTable CSmsSqlite::TableOf(std::size_t shapeIndex) const {
  switch (ShapeAt(shapeIndex)) {
    case Shape::kHandle: return {"handle", {{columns_.handleIdText, columns_.handleService}}};
    case Shape::kAttachment: return {"attachment", {{columns_.attachmentGuid}}};
    case Shape::kMessage: break;
  }
  if (layout_ == SmsLayout::Newer) return {"message", {{columns_.guid}}};
  return {"message", {{columns_.address, columns_.madridHandle, columns_.date, columns_.text}}};
}

bool CSmsSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  switch (ShapeAt(shapeIndex)) {
    case Shape::kHandle: return !TextAt(record.values, columns_.handleIdText).empty();
    case Shape::kAttachment: return !TextAt(record.values, columns_.attachmentFile).empty();
    case Shape::kMessage: break;
  }
  const Value* date = ValueAt(record.values, columns_.date);
  if (date == nullptr || (date->kind != ValueKind::kInteger && date->kind != ValueKind::kNull)) return false;
  if (layout_ == SmsLayout::Newer) return !TextAt(record.values, columns_.guid).empty();
  const bool madrid = IsSet(record.values, columns_.isMadrid);
  const std::string party = TextAt(record.values, madrid ? columns_.madridHandle : columns_.address);
  const Value* text = ValueAt(record.values, columns_.text);
  return !party.empty() || (text != nullptr && text->kind == ValueKind::kText);
}

void CSmsSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin&) {
  const Shape shape = ShapeAt(shapeIndex);
  if (shape == Shape::kHandle) {
    handles_.push_back({record.rowid, TextAt(record.values, columns_.handleIdText),
                        TextAt(record.values, columns_.handleService)});
    return;
  }
  if (shape == Shape::kAttachment) {
    attachments_.push_back({TextAt(record.values, columns_.attachmentFile), TextAt(record.values, columns_.attachmentMime)});
    return;
  }
  // A tapback answers another message and is no message of its own.
  if (IsTapback(IntegerAt(record.values, columns_.associatedType).value_or(0))) return;
  RecoveredSmsMessage message;
  message.rowid = record.rowid;
  message.date = IntegerAt(record.values, columns_.date).value_or(0);
  message.text = TextAt(record.values, columns_.text);
  if (layout_ == SmsLayout::Newer) {
    message.handleId = IntegerAt(record.values, columns_.handleId).value_or(0);
    message.isFromMe = IsSet(record.values, columns_.isFromMe) ? 1 : 0;
    message.edited = IsSet(record.values, columns_.edited);
    message.unsent = IsSet(record.values, columns_.retracted);
    message.audio = IsSet(record.values, columns_.audio);
    message.text = message.unsent ? std::string() : BodyText(record.values);
  } else if (IsSet(record.values, columns_.isMadrid)) {
    message.address = TextAt(record.values, columns_.madridHandle);
    message.isFromMe = (IntegerAt(record.values, columns_.madridFlags).value_or(0) & kMadridFromMe) != 0 ? 1 : 0;
  } else {
    message.address = TextAt(record.values, columns_.address);
    message.dateSince2001 = false;
    message.isFromMe = IntegerAt(record.values, columns_.flags).value_or(0) == 2 ? 0 : 1;
  }
  messages_.push_back(std::move(message));
}

}  // namespace sieve
