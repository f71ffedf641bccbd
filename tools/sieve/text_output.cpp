#include "tools/sieve/text_output.h"

#include <algorithm>

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

void Warn(std::string_view message) {
  std::fflush(stdout);
  std::fprintf(stderr, "sieve: warning: %.*s\n", static_cast<int>(message.size()), message.data());
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
  rows_.push_back(std::move(cells));
}

void TextTable::AlignRight(std::size_t column) {
  if (column < right_.size()) right_[column] = true;
}

void TextTable::Print(std::FILE* out) const {
  const std::size_t columns = columns_;
  std::vector<std::size_t> widths(columns, 0);
  for (const auto& row : rows_) {
    for (std::size_t c = 0; c < columns; ++c) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  std::string line;
  for (const auto& row : rows_) {
    line.clear();
    for (std::size_t c = 0; c < columns; ++c) {
      const std::size_t pad = widths[c] - DisplayWidth(row[c]);
      const bool last = c + 1 == columns;
      if (c > 0) line += "  ";
      if (right_[c]) line.append(pad, ' ');
      line += row[c];
      if (!right_[c] && !last) line.append(pad, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out);
  }
}

}  // namespace sieve::cli
