#include "sieve/extractors/sms_sqlite.h"

#include "sieve/extractors/typedstream.h"
#include "sieve/reader/text.h"

namespace sieve {
namespace {

using sqlite::kBlob;
using sqlite::kInteger;
using sqlite::kNull;
using sqlite::kText;

constexpr std::uint32_t kLongestGuid = 128;
constexpr std::uint32_t kLongestHandle = 512;
constexpr std::uint32_t kLongestPath = 1024;

void Narrow(RecordShape& shape, int column, std::uint8_t kinds, std::uint32_t maxBytes = 0) {
  if (column < 0 || static_cast<std::size_t>(column) >= shape.columns.size()) return;
  shape.columns[static_cast<std::size_t>(column)] = kinds;
  if (maxBytes != 0) {
    if (shape.maxBytes.size() < shape.columns.size()) shape.maxBytes.resize(shape.columns.size(), 0);
    shape.maxBytes[static_cast<std::size_t>(column)] = maxBytes;
  }
}

bool Holds(const std::vector<sqlite::Value>& values, int column, sqlite::ValueKind kind) {
  return column >= 0 && static_cast<std::size_t>(column) < values.size() &&
         values[static_cast<std::size_t>(column)].kind == kind;
}

// madrid_flags: the 0x8000 bit marks an iMessage the owner sent (36869, 45061 sent;
// 12289, 77825 received).
constexpr std::int64_t kMadridFromMe = 0x8000;

// associated_message_type of tapbacks (2000-2005) and of their removal (3000-3005).
bool IsTapback(std::int64_t type) { return type >= 2000 && type < 4000; }

}  // namespace

CSmsSqlite::~CSmsSqlite() = default;

int CSmsSqlite::ColumnOf(const std::string& table, const std::string& name) const {
  int position = 0;
  const std::string wanted = ToLowerAscii(name);
  for (const sqlite::TableColumn& column : TableColumns(table)) {
    if (!column.stored) continue;
    if (ToLowerAscii(column.name) == wanted) return position;
    ++position;
  }
  return -1;
}

std::int64_t CSmsSqlite::IntegerAt(const std::vector<sqlite::Value>& values, int column) const {
  if (!Holds(values, column, sqlite::ValueKind::kInteger)) return 0;
  return values[static_cast<std::size_t>(column)].integer;
}

// The message's words: the text column, else the string of the archived attributedBody
// (newer systems leave text empty). A body cut short by a lost overflow page gives nothing.
std::string CSmsSqlite::BodyText(const std::vector<sqlite::Value>& values) const {
  std::string text = TextAt(values, columns_.text);
  if (!text.empty() || !Holds(values, columns_.body, sqlite::ValueKind::kBlob)) return text;
  const std::string_view blob = values[static_cast<std::size_t>(columns_.body)].bytes;
  const auto body = typedstream::AttributedText(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
  return body ? *body : std::string();
}

std::string CSmsSqlite::TextAt(const std::vector<sqlite::Value>& values, int column) const {
  if (column < 0 || static_cast<std::size_t>(column) >= values.size()) return {};
  const sqlite::Value& value = values[static_cast<std::size_t>(column)];
  if (value.kind != sqlite::ValueKind::kText) return {};
  return Text(value);
}

// What makes two message rows the same message: the guid where the layout has one,
// otherwise the party, the date and the text together.
std::string CSmsSqlite::MessageKey(const std::vector<sqlite::Value>& values) const {
  const std::string guid = TextAt(values, columns_.guid);
  if (!guid.empty()) return "g:" + guid;
  std::string party = TextAt(values, columns_.address);
  if (IntegerAt(values, columns_.isMadrid) != 0) party = TextAt(values, columns_.madridHandle);
  return "r:" + party + '\x1f' + std::to_string(IntegerAt(values, columns_.date)) + '\x1f' +
         TextAt(values, columns_.text);
}

void CSmsSqlite::LearnLiveRows() {
  liveMessageRowids_ = LiveRowids("message");
  liveHandleRowids_ = LiveRowids("handle");
  liveAttachmentRowids_ = LiveRowids("attachment");
  ForEachLiveRow("message", [&](std::int64_t, const std::vector<sqlite::Value>& values) {
    knownMessages_.insert(MessageKey(values));
  });
}

int CSmsSqlite::scan() {
  handles_.clear();
  messages_.clear();
  attachments_.clear();
  knownMessages_.clear();
  if (!Searchable()) return CSqliteDelete::scan();
  columns_ = Columns{};
  columns_.text = ColumnOf("message", "text");
  columns_.date = ColumnOf("message", "date");
  if (layout_ == SmsLayout::Newer) {
    columns_.guid = ColumnOf("message", "guid");
    columns_.handleId = ColumnOf("message", "handle_id");
    columns_.isFromMe = ColumnOf("message", "is_from_me");
    columns_.handleIdText = ColumnOf("handle", "id");
    columns_.handleService = ColumnOf("handle", "service");
    columns_.body = ColumnOf("message", "attributedBody");
    columns_.associatedType = ColumnOf("message", "associated_message_type");
    columns_.edited = ColumnOf("message", "date_edited");
    columns_.retracted = ColumnOf("message", "date_retracted");
    columns_.audio = ColumnOf("message", "is_audio_message");
    columns_.attachmentFile = ColumnOf("attachment", "filename");
    columns_.attachmentMime = ColumnOf("attachment", "mime_type");
  } else {
    columns_.address = ColumnOf("message", "address");
    columns_.flags = ColumnOf("message", "flags");
    columns_.isMadrid = ColumnOf("message", "is_madrid");
    columns_.madridHandle = ColumnOf("message", "madrid_handle");
    columns_.madridFlags = ColumnOf("message", "madrid_flags");
  }
  LearnLiveRows();
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

std::vector<RecordShape> CSmsSqlite::BuildShapes(std::vector<Shape>& order) const {
  order.clear();
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> message = ShapeForTable("message");
  if (!message || columns_.date < 0 || columns_.text < 0) return shapes;
  Narrow(*message, columns_.date, kInteger | kNull);
  if (layout_ == SmsLayout::Newer) {
    if (columns_.guid < 0 || columns_.handleId < 0) return shapes;
    Narrow(*message, columns_.guid, kText, kLongestGuid);  // NOT NULL
    Narrow(*message, columns_.handleId, kInteger | kNull);
    Narrow(*message, columns_.isFromMe, kInteger | kNull);
    Narrow(*message, columns_.body, kBlob | kNull);
  } else {
    Narrow(*message, columns_.address, kText | kNull, kLongestHandle);
    Narrow(*message, columns_.flags, kInteger | kNull);
    Narrow(*message, columns_.madridHandle, kText | kNull, kLongestHandle);
  }
  shapes.push_back(*message);
  order.push_back(Shape::kMessage);
  if (layout_ != SmsLayout::Newer) return shapes;
  std::optional<RecordShape> handle = ShapeForTable("handle");
  if (handle && columns_.handleIdText >= 0) {
    Narrow(*handle, columns_.handleIdText, kText, kLongestHandle);
    shapes.push_back(*handle);
    order.push_back(Shape::kHandle);
  }
  std::optional<RecordShape> attachment = ShapeForTable("attachment");
  if (attachment && columns_.attachmentFile >= 0) {
    Narrow(*attachment, ColumnOf("attachment", "guid"), kText, kLongestGuid);  // NOT NULL
    Narrow(*attachment, columns_.attachmentFile, kText, kLongestPath);
    Narrow(*attachment, columns_.attachmentMime, kText | kNull, kLongestGuid);
    shapes.push_back(*attachment);
    order.push_back(Shape::kAttachment);
  }
  return shapes;
}

bool CSmsSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  const Shape shape = ShapeAt(shapeIndex);
  if (shape == Shape::kHandle) {
    if (record.rowid >= 0 && liveHandleRowids_.count(record.rowid) != 0) return false;
    return !TextAt(record.values, columns_.handleIdText).empty();
  }
  if (shape == Shape::kAttachment) {
    if (record.rowid >= 0 && liveAttachmentRowids_.count(record.rowid) != 0) return false;
    return !TextAt(record.values, columns_.attachmentFile).empty();
  }
  if (record.rowid >= 0 && liveMessageRowids_.count(record.rowid) != 0) return false;
  if (!Holds(record.values, columns_.date, sqlite::ValueKind::kInteger) &&
      !Holds(record.values, columns_.date, sqlite::ValueKind::kNull)) {
    return false;
  }
  if (layout_ == SmsLayout::Newer) return !TextAt(record.values, columns_.guid).empty();
  const bool madrid = IntegerAt(record.values, columns_.isMadrid) != 0;
  const std::string party = TextAt(record.values, madrid ? columns_.madridHandle : columns_.address);
  return !party.empty() || Holds(record.values, columns_.text, sqlite::ValueKind::kText);
}

void CSmsSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record) {
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
  if (IsTapback(IntegerAt(record.values, columns_.associatedType))) return;
  // A live row, a stale copy of one, or a row already reported elsewhere in the file.
  if (!knownMessages_.insert(MessageKey(record.values)).second) return;
  RecoveredSmsMessage message;
  message.rowid = record.rowid;
  message.date = IntegerAt(record.values, columns_.date);
  message.text = TextAt(record.values, columns_.text);
  if (layout_ == SmsLayout::Newer) {
    message.handleId = IntegerAt(record.values, columns_.handleId);
    message.isFromMe = IntegerAt(record.values, columns_.isFromMe) != 0 ? 1 : 0;
    message.edited = IntegerAt(record.values, columns_.edited) != 0;
    message.unsent = IntegerAt(record.values, columns_.retracted) != 0;
    message.audio = IntegerAt(record.values, columns_.audio) != 0;
    message.text = message.unsent ? std::string() : BodyText(record.values);
  } else if (IntegerAt(record.values, columns_.isMadrid) != 0) {
    message.address = TextAt(record.values, columns_.madridHandle);
    message.isFromMe = (IntegerAt(record.values, columns_.madridFlags) & kMadridFromMe) != 0 ? 1 : 0;
  } else {
    message.address = TextAt(record.values, columns_.address);
    message.dateSince2001 = false;
    message.isFromMe = IntegerAt(record.values, columns_.flags) == 2 ? 0 : 1;
  }
  messages_.push_back(std::move(message));
}

}  // namespace sieve
