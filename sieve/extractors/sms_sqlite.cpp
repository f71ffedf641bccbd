#include "sieve/extractors/sms_sqlite.h"

#include "sieve/sqlite/carve_toolkit.h"

namespace sieve {
namespace {

using namespace sqlite;

constexpr std::uint32_t kLongestGuid = 128;
constexpr std::uint32_t kLongestHandle = 512;

// madrid_flags: the 0x8000 bit marks an iMessage the owner sent (36869, 45061 sent;
// 12289, 77825 received).
constexpr std::int64_t kMadridFromMe = 0x8000;

}  // namespace

CSmsSqlite::~CSmsSqlite() = default;

int CSmsSqlite::scan() {
  handles_.clear();
  messages_.clear();
  if (!Searchable()) return CSqliteDelete::scan();
  columns_ = Columns{};
  const auto message = TableColumns("message");
  const auto handle = TableColumns("handle");
  const auto ColumnOf = [&](std::string_view table, const char* name) {
    return StoredColumnIndex(table == "message" ? message : handle, name);
  };
  columns_.text = ColumnOf("message", "text");
  columns_.date = ColumnOf("message", "date");
  if (layout_ == SmsLayout::Newer) {
    columns_.guid = ColumnOf("message", "guid");
    columns_.handleId = ColumnOf("message", "handle_id");
    columns_.isFromMe = ColumnOf("message", "is_from_me");
    columns_.handleIdText = ColumnOf("handle", "id");
    columns_.handleService = ColumnOf("handle", "service");
  } else {
    columns_.address = ColumnOf("message", "address");
    columns_.flags = ColumnOf("message", "flags");
    columns_.isMadrid = ColumnOf("message", "is_madrid");
    columns_.madridHandle = ColumnOf("message", "madrid_handle");
    columns_.madridFlags = ColumnOf("message", "madrid_flags");
  }
  return CSqliteDelete::scan();
}

std::vector<RecordShape> CSmsSqlite::Shapes() const {
  std::vector<RecordShape> shapes;
  std::optional<RecordShape> message = ShapeForTable("message");
  if (!message || columns_.date < 0 || columns_.text < 0) return shapes;
  NarrowColumn(*message, columns_.date, kInteger | kNull);
  if (layout_ == SmsLayout::Newer) {
    if (columns_.guid < 0 || columns_.handleId < 0) return shapes;
    NarrowColumn(*message, columns_.guid, kText, kLongestGuid);  // NOT NULL
    NarrowColumn(*message, columns_.handleId, kInteger | kNull);
    NarrowColumn(*message, columns_.isFromMe, kInteger | kNull);
  } else {
    NarrowColumn(*message, columns_.address, kText | kNull, kLongestHandle);
    NarrowColumn(*message, columns_.flags, kInteger | kNull);
    NarrowColumn(*message, columns_.madridHandle, kText | kNull, kLongestHandle);
  }
  shapes.push_back(*message);
  if (layout_ == SmsLayout::Newer) {
    std::optional<RecordShape> handle = ShapeForTable("handle");
    if (handle && columns_.handleIdText >= 0) {
      NarrowColumn(*handle, columns_.handleIdText, kText, kLongestHandle);
      shapes.push_back(*handle);
    }
  }
  return shapes;
}

// A message is named by its guid where the layout has one, otherwise by its party, date and
// text together; a handle by its address and service.
CSqliteDelete::ShapeTable CSmsSqlite::TableOf(std::size_t shapeIndex) const {
  if (shapeIndex == kHandleShape) return {"handle", {{columns_.handleIdText, columns_.handleService}}};
  if (layout_ == SmsLayout::Newer) return {"message", {{columns_.guid}}};
  return {"message", {{columns_.address, columns_.madridHandle, columns_.date, columns_.text}}};
}

bool CSmsSqlite::Accept(std::size_t shapeIndex, const CarvedRecord& record) const {
  if (shapeIndex == kHandleShape) return !TextAt(record.values, columns_.handleIdText).empty();
  const Value* date = ValueAt(record.values, columns_.date);
  if (date == nullptr || (date->kind != ValueKind::kInteger && date->kind != ValueKind::kNull)) return false;
  if (layout_ == SmsLayout::Newer) return !TextAt(record.values, columns_.guid).empty();
  const bool madrid = IntegerAt(record.values, columns_.isMadrid).value_or(0) != 0;
  const std::string party = TextAt(record.values, madrid ? columns_.madridHandle : columns_.address);
  const Value* text = ValueAt(record.values, columns_.text);
  return !party.empty() || (text != nullptr && text->kind == ValueKind::kText);
}

void CSmsSqlite::OnRecord(std::size_t shapeIndex, const CarvedRecord& record, const RecordOrigin&) {
  if (shapeIndex == kHandleShape) {
    handles_.push_back({record.rowid, TextAt(record.values, columns_.handleIdText),
                        TextAt(record.values, columns_.handleService)});
    return;
  }
  RecoveredSmsMessage message;
  message.rowid = record.rowid;
  message.date = IntegerAt(record.values, columns_.date).value_or(0);
  message.text = TextAt(record.values, columns_.text);
  if (layout_ == SmsLayout::Newer) {
    message.handleId = IntegerAt(record.values, columns_.handleId).value_or(0);
    message.isFromMe = IntegerAt(record.values, columns_.isFromMe).value_or(0) != 0 ? 1 : 0;
  } else if (IntegerAt(record.values, columns_.isMadrid).value_or(0) != 0) {
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
