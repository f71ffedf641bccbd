#include "sieve/extractors/html_text.h"

#include <cctype>
#include <cstdint>
#include <optional>

#include "sieve/reader/text.h"

namespace sieve {
namespace {

bool IsAsciiLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  AppendCodePoint(out, cp);
}

// The code point of a numeric reference body ("#169", "#xA9"); nullopt when malformed.
std::optional<std::uint32_t> NumericReference(std::string_view body) {
  if (body.size() < 2 || body[0] != '#') return std::nullopt;
  const bool hex = body[1] == 'x' || body[1] == 'X';
  std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * (hex ? 16u : 10u) + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// Decodes the reference starting at html[i] == '&' into out; returns the bytes it used, or 0
// when it is not a reference (the "&" is then text).
std::size_t DecodeReference(std::string_view html, std::size_t i, std::string& out) {
  constexpr std::size_t kLongestReference = 12;  // "&#x0010FFFF;"
  const std::size_t semicolon = html.find(';', i + 1);
  if (semicolon == std::string_view::npos || semicolon - i > kLongestReference) return 0;
  const std::string_view body = html.substr(i + 1, semicolon - i - 1);
  struct Named {
    std::string_view name;
    std::string_view text;
  };
  static constexpr Named kNamed[] = {{"amp", "&"},  {"lt", "<"},    {"gt", ">"},
                                     {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
  for (const Named& named : kNamed) {
    if (body == named.name) {
      out.append(named.text);
      return semicolon - i + 1;
    }
  }
  if (const auto cp = NumericReference(body)) {
    AppendUtf8(out, *cp);
    return semicolon - i + 1;
  }
  return 0;
}

void LineBreak(std::string& out) {
  if (!out.empty() && out.back() != '\n') out.push_back('\n');
}

// Lower-case name of the tag in html[start, end) ("div" of "</DIV class=x>").
std::string TagName(std::string_view tag) {
  std::size_t i = 0;
  if (i < tag.size() && tag[i] == '/') ++i;
  std::string name;
  while (i < tag.size() && (IsAsciiLetter(tag[i]) || std::isdigit(static_cast<unsigned char>(tag[i])))) {
    name.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(tag[i]))));
    ++i;
  }
  return name;
}

bool IsBlock(const std::string& name) {
  static constexpr std::string_view kBlocks[] = {"div", "p", "li", "tr", "h1", "h2", "h3",
                                                 "h4", "h5", "h6", "ul", "ol", "table", "blockquote"};
  for (std::string_view block : kBlocks) {
    if (name == block) return true;
  }
  return false;
}

// Where the element whose contents are not text (script, style) ends; npos when never.
std::size_t SkipRawElement(std::string_view html, std::size_t from, const std::string& name) {
  const std::string lower = ToLowerAscii(html.substr(from));
  const std::size_t close = lower.find("</" + name);
  if (close == std::string::npos) return std::string_view::npos;
  const std::size_t end = html.find('>', from + close);
  return end == std::string_view::npos ? end : end + 1;
}

void Trim(std::string& text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
  std::size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && isSpace(text[begin])) ++begin;
  text = text.substr(begin, end - begin);
}

}  // namespace

std::string HtmlToText(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  std::size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    if (c == '&') {
      const std::size_t used = DecodeReference(html, i, out);
      if (used > 0) {
        i += used;
        continue;
      }
      out.push_back(c);
      ++i;
      continue;
    }
    const bool opensTag = c == '<' && i + 1 < html.size() &&
                          (IsAsciiLetter(html[i + 1]) || html[i + 1] == '/' || html[i + 1] == '!');
    if (!opensTag) {
      if (c != '\r') out.push_back(c);
      ++i;
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const std::size_t end = html.find("-->", i + 4);
      i = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const std::size_t close = html.find('>', i + 1);
    if (close == std::string_view::npos) {
      // Not a tag after all: what follows the last tag is the user's text.
      out.append(html.substr(i));
      break;
    }
    const std::string_view tag = html.substr(i + 1, close - i - 1);
    const std::string name = TagName(tag);
    const bool closing = !tag.empty() && tag[0] == '/';
    i = close + 1;
    if (!closing && (name == "script" || name == "style")) {
      const std::size_t end = SkipRawElement(html, i, name);
      i = end == std::string_view::npos ? html.size() : end;
    } else if (name == "br" || name == "hr") {
      out.push_back('\n');
    } else if (IsBlock(name)) {
      LineBreak(out);
    }
  }
  Trim(out);
  return SanitizeUtf8(out);
}

}  // namespace sieve
