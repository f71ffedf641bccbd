#include "tools/sieve/carve_json.h"

namespace sieve::cli {

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  // Sized once and written in place: blobs are many and long.
  const std::size_t start = out.size();
  out.resize(start + (bytes.size() + 2) / 3 * 4, '=');
  char* to = out.data() + start;
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
}

std::string Base64(std::string_view bytes) {
  std::string out;
  AppendBase64(out, bytes);
  return out;
}

namespace {

void AppendValue(std::string& out, const sqlite::CarvedValue& value) {
  using sqlite::ValueKind;
  switch (value.kind) {
    case ValueKind::kNull: out += "null"; break;
    case ValueKind::kInteger: AppendJsonInt(out, value.integer); break;
    case ValueKind::kReal: AppendJsonDouble(out, value.real); break;
    case ValueKind::kText: AppendJsonString(out, value.bytes); break;
    case ValueKind::kBlob:
      // Base64 needs no escaping.
      out += "{\"base64\":\"";
      AppendBase64(out, value.bytes);
      out += "\"}";
      break;
  }
}

// A source's name is one of the program's plain words.
void AppendSource(std::string& out, sqlite::CarveSource source) {
  out += '"';
  out += sqlite::CarveSourceName(source);
  out += '"';
}

}  // namespace

// Written in one piece: the members and their order never change, and going through the
// writer member by member cost more than the values (a carve writes millions of rows).
void WriteCarvedRow(JsonWriter& json, const sqlite::CarvedRow& row) {
  std::string& out = json.RawValue();
  out += "{\"table\":";
  if (row.table.empty()) {
    out += "null";
  } else {
    AppendJsonString(out, row.table);
  }
  out += ",\"source\":";
  AppendSource(out, row.source);
  out += ",\"page\":";
  AppendJsonUint(out, row.page);
  out += ",\"offset\":";
  AppendJsonUint(out, row.offset);
  out += ",\"rowid\":";
  if (row.rowid) {
    AppendJsonInt(out, *row.rowid);
  } else {
    out += "null";
  }
  out += ",\"values\":[";
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    if (i > 0) out += ',';
    AppendValue(out, row.values[i]);
  }
  out += ']';
  if (!row.alsoIn.empty()) {
    out += ",\"also_in\":[";
    for (std::size_t i = 0; i < row.alsoIn.size(); ++i) {
      if (i > 0) out += ',';
      AppendSource(out, row.alsoIn[i]);
    }
    out += ']';
  }
  if (row.partial) out += ",\"partial\":true";
  out += '}';
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
