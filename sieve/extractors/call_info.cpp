#include "sieve/extractors/call_info.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <set>
#include <utility>

#include "sieve/extractors/call_sqlite.h"
#include "sieve/reader/time_text.h"
#include "sieve/reader/version.h"
#include "sieve/sqlite/database.h"

namespace sieve {
namespace {

// The store took over the call log with system 8.
constexpr char kFirstStoreVersion[] = "8";

// The older database keeps the direction in bit 0 of its flags (5 placed, 4 taken); the
// store has ZORIGINATED, 0 or 1.
std::string DirectionOf(std::int64_t flags, bool store) {
  const std::int64_t outgoing = store ? flags : (flags & 1);
  return outgoing != 0 ? "OUT" : "IN";
}

}  // namespace

std::string CallDurationText(double seconds) {
  const long long whole = std::isfinite(seconds) && seconds > 0 && seconds < 1e15 ? static_cast<long long>(seconds) : 0;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

std::string CallServiceName(const CallRecord& call) {
  constexpr std::string_view kFaceTime = "com.apple.FaceTime";
  constexpr std::int32_t kFaceTimeVideo = 8;
  constexpr std::int32_t kFaceTimeAudio = 16;
  if (call.CallType == kFaceTimeVideo) return "FaceTime Video";
  if (call.CallType == kFaceTimeAudio) return "FaceTime Audio";
  if (call.Service == kFaceTime) return "FaceTime";
  if (call.Service.empty() || call.Service.starts_with("com.apple.")) return {};
  const std::size_t dot = call.Service.rfind('.');
  return dot == std::string::npos || dot + 1 == call.Service.size() ? call.Service : call.Service.substr(dot + 1);
}

namespace {

std::int32_t ToInt32(std::int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::string DateText(double value, bool store) {
  return store ? MacTimeTextFromDouble(value) : UnixTimeTextFromDouble(value);
}

// Calls are the same call when party and time agree.
std::string CallKey(const std::string& address, const std::string& date) { return address + '\x1f' + date; }

}  // namespace

int CCallInfo::read(std::string /*backupFolder*/) {
  calls_.clear();
  const bool hasOld = MainDatabase.IsSet();
  const bool hasStore = SecondDatabase.IsSet();
  if (!hasOld && !hasStore) return SQLITE_CANTOPEN;
  const std::string version = context_ != nullptr ? context_->productVersion : std::string();
  // A backup that holds only one of the files is read from that one, whatever its version.
  const bool store = hasStore && (!hasOld || CompareVersions(version, kFirstStoreVersion) >= 0);
  const OpenableDatabase db =
      PrepareDatabase(store ? SecondDatabase : MainDatabase, store ? "callDB.storedata" : "call_history.db");
  if (!db.ok) return SQLITE_CANTOPEN;
  const int result = ReadLive(db.path, db.immutable, store);
  if (result != SQLITE_OK) return result;
  AddRecovered(db.path, store);
  return SQLITE_OK;
}

int CCallInfo::ReadLive(const std::string& path, bool immutable, bool store) {
  sqlite::Database db;
  const int opened = db.Open(path, immutable);
  if (opened != SQLITE_OK) return opened;
  // Only the older database of system 7 and the store say whether a call was answered.
  const char* table = store ? "ZCALLRECORD" : "call";
  const char* answered = store ? "ZANSWERED" : "answered";
  std::string sql = store ? "SELECT ZADDRESS, ZDATE, ZDURATION, ZORIGINATED, ZNAME, "
                          : "SELECT address, date, duration, flags, NULL, ";
  sql += db.HasColumn(table, answered) ? answered : "NULL";
  // The store names the service and the kind of call from system 10 on (the kind from 8).
  sql += store && db.HasColumn(table, "ZSERVICE_PROVIDER") ? ", ZSERVICE_PROVIDER" : ", NULL";
  sql += store && db.HasColumn(table, "ZCALLTYPE") ? ", ZCALLTYPE" : ", NULL";
  sql += std::string(" FROM ") + table;
  sqlite::Statement query = db.Prepare(sql);
  if (!query.Ok()) return query.Result() != SQLITE_OK ? query.Result() : SQLITE_ERROR;
  while (query.Step()) {
    auto call = std::make_unique<CallRecord>();
    call->Address = query.Text(0);
    call->Date = DateText(query.Double(1), store);
    const std::int64_t flags = query.Int64(3);
    // The older database counts whole seconds; the store keeps fractions.
    const double seconds = store ? query.Double(2) : static_cast<double>(query.Int64(2));
    call->Seconds = static_cast<float>(seconds);
    call->Duration = CallDurationText(seconds);
    call->Name = query.Text(4);
    call->Direction = DirectionOf(flags, store);
    call->Flags = ToInt32(flags);
    if (!query.IsNull(5)) call->Answered = query.Int64(5) != 0 ? 1 : 0;
    call->Service = query.Text(6);
    call->CallType = ToInt32(query.Int64(7));
    calls_.push_back(std::move(call));
  }
  return SQLITE_OK;
}

void CCallInfo::AddRecovered(const std::string& path, bool store) {
  CCallSqlite engine;
  if (engine.Load(path) != 0) return;
  engine.scan();
  std::set<std::string> known;
  for (const auto& call : calls_) known.insert(CallKey(call->Address, call->Date));
  for (const RecoveredCall& found : engine.Calls()) {
    std::string date = DateText(found.date, store);
    // Old copies of live rows, and a second copy of a call already recovered, add nothing.
    if (!known.insert(CallKey(found.address, date)).second) continue;
    auto call = std::make_unique<CallRecord>();
    call->Deleted = 1;
    call->Address = found.address;
    call->Date = std::move(date);
    call->Seconds = found.duration > 0 ? static_cast<float>(found.duration) : 0.0f;
    call->Duration = CallDurationText(found.duration);
    call->Direction = DirectionOf(found.flags, store);
    call->Flags = ToInt32(found.flags);
    call->Answered = found.answered;
    call->Name = found.name;
    call->Service = found.service;
    call->CallType = ToInt32(found.callType);
    calls_.push_back(std::move(call));
  }
}

void CCallInfo::FillContactNames(const ContactNameLookup& lookup) {
  if (!lookup) return;
  for (const auto& call : calls_) {
    std::string name = lookup(call->Address);
    if (!name.empty()) call->Name = std::move(name);
  }
}

std::size_t CCallInfo::RecordCount(_InfoType type) const { return type == INFO_CALL ? calls_.size() : 0; }

void* CCallInfo::RecordAt(_InfoType type, std::size_t index) {
  if (type != INFO_CALL || index >= calls_.size()) return nullptr;
  return calls_[index].get();
}

}  // namespace sieve
