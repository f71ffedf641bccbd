#include "tools/sieve/carve_json.h"

namespace sieve::cli {

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  // Sized once and written in place: blobs are many and long.
  std::string out((bytes.size() + 2) / 3 * 4, '=');
  char* to = out.data();
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3, to += 4) {
    const auto n = (std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << 16) |
                   (std::uint32_t{static_cast<std::uint8_t>(bytes[i + 1])} << 8) |
                   static_cast<std::uint8_t>(bytes[i + 2]);
    to[0] = kAlphabet[(n >> 18) & 63];
    to[1] = kAlphabet[(n >> 12) & 63];
    to[2] = kAlphabet[(n >> 6) & 63];
    to[3] = kAlphabet[n & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = std::uint32_t{static_cast<std::uint8_t>(bytes[i])} << 16;
    if (rest == 2) n |= std::uint32_t{static_cast<std::uint8_t>(bytes[i + 1])} << 8;
    to[0] = kAlphabet[(n >> 18) & 63];
    to[1] = kAlphabet[(n >> 12) & 63];
    if (rest == 2) to[2] = kAlphabet[(n >> 6) & 63];
  }
  return out;
}

namespace {

void WriteValue(JsonWriter& json, const sqlite::CarvedValue& value) {
  using sqlite::ValueKind;
  switch (value.kind) {
    case ValueKind::kNull: json.Null(); break;
    case ValueKind::kInteger: json.Int(value.integer); break;
    case ValueKind::kReal: json.Double(value.real); break;
    case ValueKind::kText: json.String(value.bytes); break;
    case ValueKind::kBlob: json.BeginObject().Field("base64", Base64(value.bytes)).EndObject(); break;
  }
}

}  // namespace

void WriteCarvedRow(JsonWriter& json, const sqlite::CarvedRow& row) {
  json.BeginObject().Key("table");
  if (row.table.empty()) {
    json.Null();
  } else {
    json.String(row.table);
  }
  json.Field("source", sqlite::CarveSourceName(row.source)).Field("page", row.page).Field("offset", row.offset);
  json.Key("rowid");
  if (row.rowid) {
    json.Int(*row.rowid);
  } else {
    json.Null();
  }
  json.Key("values").BeginArray();
  for (const sqlite::CarvedValue& value : row.values) WriteValue(json, value);
  json.EndArray();
  if (!row.alsoIn.empty()) {
    json.Key("also_in").BeginArray();
    for (const sqlite::CarveSource source : row.alsoIn) json.String(sqlite::CarveSourceName(source));
    json.EndArray();
  }
  if (row.partial) json.Field("partial", true);
  json.EndObject();
}

void WriteCarveSummary(JsonWriter& json, const CarveCounts& counts, const sqlite::CarveResult& result,
                       double seconds) {
  json.BeginObject().Key("summary").BeginObject().Key("counts").BeginObject();
  std::uint64_t records = 0;
  for (const auto& [table, bySource] : counts) {
    json.Key(table).BeginObject();
    for (const auto& [source, count] : bySource) {
      json.Field(source, count);
      records += count;
    }
    json.EndObject();
  }
  json.EndObject()
      .Field("records", records)
      .Field("pages_read", result.pagesRead)
      .Field("seconds", seconds)
      .Field("stopped", result.status == sqlite::CarveStatus::kStopped)
      .EndObject()
      .EndObject();
}

}  // namespace sieve::cli
