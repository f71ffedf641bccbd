#include "tether/device/helper_lines.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tether {

namespace {

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A small reader for exactly the shapes we write: {"key": value} where value is a
// number, true/false, a string, or {"kind": s, "code": n, "text": s}.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    Space();
    return at_ == text_.size();
  }
  bool Peek(char c) {
    Space();
    return at_ < text_.size() && text_[at_] == c;
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char e = text_[at_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) return std::nullopt;
          const unsigned long code = std::strtoul(std::string(text_.substr(at_, 4)).c_str(), nullptr, 16);
          at_ += 4;
          // Only the control characters we escape ourselves come this way.
          out += code < 0x80 ? static_cast<char>(code) : '?';
          break;
        }
        default: out += e;
      }
    }
    return std::nullopt;
  }
  std::optional<double> Number() {
    Space();
    const std::string rest(text_.substr(at_, 40));
    char* end = nullptr;
    const double value = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str() || !std::isfinite(value)) return std::nullopt;
    at_ += static_cast<std::size_t>(end - rest.c_str());
    return value;
  }
  std::optional<bool> Bool() {
    Space();
    if (text_.substr(at_, 4) == "true") {
      at_ += 4;
      return true;
    }
    if (text_.substr(at_, 5) == "false") {
      at_ += 5;
      return false;
    }
    return std::nullopt;
  }

 private:
  void Space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) ++at_;
  }
  std::string_view text_;
  std::size_t at_ = 0;
};

std::optional<DeviceError> ReadError(Reader& in) {
  if (!in.Take('{')) return std::nullopt;
  DeviceError error;
  error.kind = DeviceErrorKind::Failed;
  bool first = true;
  while (!in.Take('}')) {
    if (!first && !in.Take(',')) return std::nullopt;
    first = false;
    const auto key = in.String();
    if (!key || !in.Take(':')) return std::nullopt;
    if (*key == "code") {
      const auto code = in.Number();
      if (!code) return std::nullopt;
      error.code = static_cast<int>(*code);
    } else {
      const auto text = in.String();
      if (!text) return std::nullopt;
      if (*key == "kind") error.kind = KindFromName(*text);
      if (*key == "text") error.text = *text;
    }
  }
  // An error line always means failure, whatever word it names.
  if (error.kind == DeviceErrorKind::None) error.kind = DeviceErrorKind::Failed;
  return error;
}

}  // namespace

std::string FormatHelperLine(const HelperEvent& event) {
  switch (event.type) {
    case HelperEvent::Type::Progress: {
      char number[32];
      std::snprintf(number, sizeof number, "%.2f", event.progress);
      return std::string("{\"progress\": ") + number + "}";
    }
    case HelperEvent::Type::Passcode:
      return std::string("{\"passcode\": ") + (event.passcode ? "true" : "false") + "}";
    case HelperEvent::Type::Waiting:
      return "{\"waiting\": " + Quoted(event.text) + "}";
    case HelperEvent::Type::Error:
      return "{\"error\": {\"kind\": " + Quoted(KindName(event.error.kind)) +
             ", \"code\": " + std::to_string(ErrorNumber(event.error)) + ", \"text\": " + Quoted(event.error.text) +
             "}}";
    case HelperEvent::Type::Done:
      return "{\"done\": " + Quoted(event.text) + "}";
  }
  return "{}";
}

std::optional<HelperEvent> ParseHelperLine(std::string_view line) {
  Reader in(line);
  if (!in.Take('{')) return std::nullopt;
  const auto key = in.String();
  if (!key || !in.Take(':')) return std::nullopt;
  HelperEvent event;
  if (*key == "progress") {
    const auto value = in.Number();
    if (!value || *value < 0 || *value > 100) return std::nullopt;
    event.type = HelperEvent::Type::Progress;
    event.progress = *value;
  } else if (*key == "passcode") {
    const auto value = in.Bool();
    if (!value) return std::nullopt;
    event.type = HelperEvent::Type::Passcode;
    event.passcode = *value;
  } else if (*key == "waiting" || *key == "done") {
    const auto value = in.String();
    if (!value) return std::nullopt;
    event.type = *key == "done" ? HelperEvent::Type::Done : HelperEvent::Type::Waiting;
    event.text = *value;
  } else if (*key == "error") {
    auto error = ReadError(in);
    if (!error) return std::nullopt;
    event.type = HelperEvent::Type::Error;
    event.error = std::move(*error);
  } else {
    return std::nullopt;
  }
  if (!in.Take('}') || !in.AtEnd()) return std::nullopt;
  return event;
}

}  // namespace tether
