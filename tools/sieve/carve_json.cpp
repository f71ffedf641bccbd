#include "tools/sieve/carve_json.h"

#include <cstring>

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

// A row's short pieces (names, numbers, punctuation) gather in a buffer on the stack and go
// into the output a buffer at a time: appended one by one, each cost a call and a check of
// the string's room, more than writing it, and a carve writes millions of rows. Texts and
// blobs are written straight into the output after what was gathered.
class RowPieces {
 public:
  explicit RowPieces(std::string& out) : out_(out) {}
  ~RowPieces() { Flush(); }
  RowPieces(const RowPieces&) = delete;
  RowPieces& operator=(const RowPieces&) = delete;

  void Add(std::string_view text) {
    if (text.size() > sizeof buffer_ - used_) {
      Flush();
      if (text.size() > sizeof buffer_) {
        out_.append(text);
        return;
      }
    }
    std::memcpy(buffer_ + used_, text.data(), text.size());
    used_ += text.size();
  }
  void Add(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
  }
  // `write` is one of the WriteJson number writers.
  template <typename Number>
  void AddNumber(char* (*write)(char*, Number), Number value) {
    if (sizeof buffer_ - used_ < kJsonNumberRoom) Flush();
    used_ = static_cast<std::size_t>(write(buffer_ + used_, value) - buffer_);
  }
  // The output, with everything gathered so far in it.
  std::string& Out() {
    Flush();
    return out_;
  }

 private:
  void Flush() {
    out_.append(buffer_, used_);
    used_ = 0;
  }
  char buffer_[256];
  std::size_t used_ = 0;
  std::string& out_;
};

void AddValue(RowPieces& pieces, const sqlite::CarvedValue& value) {
  using sqlite::ValueKind;
  switch (value.kind) {
    case ValueKind::kNull: pieces.Add("null"); break;
    case ValueKind::kInteger: pieces.AddNumber(WriteJsonInt, value.integer); break;
    case ValueKind::kReal: pieces.AddNumber(WriteJsonDouble, value.real); break;
    case ValueKind::kText: AppendJsonString(pieces.Out(), value.bytes); break;
    case ValueKind::kBlob:
      // Base64 needs no escaping.
      pieces.Add("{\"base64\":\"");
      AppendBase64(pieces.Out(), value.bytes);
      pieces.Add("\"}");
      break;
  }
}

// A source's name is one of the program's plain words.
void AddSource(RowPieces& pieces, sqlite::CarveSource source) {
  pieces.Add('"');
  pieces.Add(sqlite::CarveSourceName(source));
  pieces.Add('"');
}

}  // namespace

// Written in one piece: the members and their order never change, and going through the
// writer member by member cost more than the values (a carve writes millions of rows).
void WriteCarvedRow(JsonWriter& json, const sqlite::CarvedRow& row) {
  RowPieces pieces(json.RawValue());
  pieces.Add("{\"table\":");
  if (row.table.empty()) {
    pieces.Add("null");
  } else {
    AppendJsonString(pieces.Out(), row.table);
  }
  pieces.Add(",\"source\":");
  AddSource(pieces, row.source);
  pieces.Add(",\"page\":");
  pieces.AddNumber<std::uint64_t>(WriteJsonUint, row.page);
  pieces.Add(",\"offset\":");
  pieces.AddNumber<std::uint64_t>(WriteJsonUint, row.offset);
  pieces.Add(",\"rowid\":");
  if (row.rowid) {
    pieces.AddNumber<std::int64_t>(WriteJsonInt, *row.rowid);
  } else {
    pieces.Add("null");
  }
  pieces.Add(",\"values\":[");
  for (std::size_t i = 0; i < row.values.size(); ++i) {
    if (i > 0) pieces.Add(',');
    AddValue(pieces, row.values[i]);
  }
  pieces.Add(']');
  if (!row.alsoIn.empty()) {
    pieces.Add(",\"also_in\":[");
    for (std::size_t i = 0; i < row.alsoIn.size(); ++i) {
      if (i > 0) pieces.Add(',');
      AddSource(pieces, row.alsoIn[i]);
    }
    pieces.Add(']');
  }
  if (row.partial) pieces.Add(",\"partial\":true");
  pieces.Add('}');
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
