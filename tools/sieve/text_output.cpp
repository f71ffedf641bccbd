#include "tools/sieve/text_output.h"

#include <algorithm>
#include <chrono>

#include "tools/sieve/utf8.h"

namespace sieve::cli {

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += kReplacementCharacter;
      ++i;
    } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      out += '?';  // U+0080 to U+009F: C1 controls
      i += 2;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
  return out;
}

namespace {

Verbosity verbosity = Verbosity::Normal;
const auto programStart = std::chrono::steady_clock::now();

void ErrorLine(std::string_view prefix, std::string_view message) {
  std::fflush(stdout);
  std::fprintf(stderr, "sieve: %.*s%.*s\n", static_cast<int>(prefix.size()), prefix.data(),
               static_cast<int>(message.size()), message.data());
}

}  // namespace

void SetVerbosity(Verbosity v) { verbosity = v; }
bool Quiet() { return verbosity == Verbosity::Quiet; }
bool Verbose() { return verbosity == Verbosity::Verbose; }

void Warn(std::string_view message) {
  if (!Quiet()) ErrorLine("warning: ", message);
}

void Note(std::string_view message) {
  if (!Quiet()) ErrorLine("", message);
}

void Detail(std::string_view message) {
  if (!Verbose()) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%.3f s] ",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - programStart).count());
  ErrorLine(stamp, message);
}

std::size_t DisplayWidth(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

TextTable::TextTable(std::vector<std::string> header)
    : columns_(header.size()), right_(header.size(), false) {
  rows_.push_back(std::move(header));
}

TextTable::TextTable(std::size_t columns) : columns_(columns), right_(columns, false) {}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_);
  for (std::string& cell : cells) cell = Printable(cell);
  if (streamTo_ != nullptr && !widths_.empty()) {
    PrintRow(streamTo_, cells);
    return;
  }
  rows_.push_back(std::move(cells));
  if (streamTo_ != nullptr && rows_.size() >= sample_) Print(streamTo_);
}

void TextTable::AlignRight(std::size_t column) {
  if (column < right_.size()) right_[column] = true;
}

void TextTable::PrintAsAdded(std::FILE* out, std::size_t sample) {
  streamTo_ = out;
  sample_ = std::max<std::size_t>(sample, 1);
}

void TextTable::Print(std::FILE* out) {
  if (widths_.empty()) {
    widths_.assign(columns_, 0);
    for (const auto& row : rows_) {
      for (std::size_t c = 0; c < columns_; ++c) widths_[c] = std::max(widths_[c], DisplayWidth(row[c]));
    }
  }
  for (const auto& row : rows_) PrintRow(out, row);
  rows_.clear();
}

void TextTable::PrintRow(std::FILE* out, const std::vector<std::string>& row) const {
  std::string line;
  for (std::size_t c = 0; c < columns_; ++c) {
    const std::size_t width = DisplayWidth(row[c]);
    const std::size_t pad = widths_[c] > width ? widths_[c] - width : 0;
    const bool last = c + 1 == columns_;
    if (c > 0) line += "  ";
    if (right_[c]) line.append(pad, ' ');
    line += row[c];
    if (!right_[c] && !last) line.append(pad, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace sieve::cli
