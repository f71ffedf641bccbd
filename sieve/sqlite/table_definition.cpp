#include "sieve/sqlite/table_definition.h"

#include <cctype>

#include "sieve/reader/text.h"
#include "sieve/sqlite/record_shape.h"

namespace sieve::sqlite {

namespace {

struct Token {
  std::string text;     // unquoted form
  bool quoted = false;  // quoted identifiers and strings are never keywords
};

bool IsWordByte(unsigned char c) { return std::isalnum(c) || c == '_' || c == '$' || c >= 0x80; }

// Splits SQL into words, quoted names, strings and single punctuation characters; comments
// and white space are dropped.
std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < sql.size()) {
    const auto c = static_cast<unsigned char>(sql[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      const auto eol = sql.find('\n', i);
      i = eol == std::string_view::npos ? sql.size() : eol + 1;
    } else if (sql.substr(i, 2) == "/*") {
      const auto close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? sql.size() : close + 2;
    } else if (c == '"' || c == '`' || c == '\'' || c == '[') {
      const char closer = c == '[' ? ']' : static_cast<char>(c);
      Token token{{}, true};
      ++i;
      while (i < sql.size()) {
        if (sql[i] == closer) {
          // A doubled quote stands for one; brackets have no escape.
          if (closer != ']' && i + 1 < sql.size() && sql[i + 1] == closer) {
            token.text.push_back(closer);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text.push_back(sql[i++]);
      }
      tokens.push_back(std::move(token));
    } else if (IsWordByte(c)) {
      const std::size_t start = i;
      while (i < sql.size() && IsWordByte(static_cast<unsigned char>(sql[i]))) ++i;
      tokens.push_back({std::string(sql.substr(start, i - start)), false});
    } else {
      tokens.push_back({std::string(1, sql[i]), false});
      ++i;
    }
  }
  return tokens;
}

bool IsKeyword(const Token& token, std::string_view upper) {
  if (token.quoted || token.text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(token.text[i])) != upper[i]) return false;
  }
  return true;
}

bool IsPunct(const Token& token, char c) {
  return !token.quoted && token.text.size() == 1 && token.text[0] == c;
}

bool StartsColumnConstraint(const Token& token) {
  for (const std::string_view word : {"CONSTRAINT", "PRIMARY", "NOT", "NULL", "UNIQUE", "CHECK",
                                      "DEFAULT", "COLLATE", "REFERENCES", "GENERATED", "AS"}) {
    if (IsKeyword(token, word)) return true;
  }
  return false;
}

bool StartsTableConstraint(const Token& token) {
  for (const std::string_view word : {"CONSTRAINT", "PRIMARY", "UNIQUE", "CHECK", "FOREIGN"}) {
    if (IsKeyword(token, word)) return true;
  }
  return false;
}

using TokenRange = std::vector<Token>;

// The comma-separated parts inside the parenthesis that opens at `open`; `close` receives
// the index of the matching ')'.
std::vector<TokenRange> SplitDefinitions(const std::vector<Token>& tokens, std::size_t open,
                                         std::size_t& close) {
  std::vector<TokenRange> parts(1);
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (IsPunct(token, '(')) {
      if (depth++ == 0) continue;
    } else if (IsPunct(token, ')')) {
      if (--depth == 0) {
        close = i;
        return parts;
      }
    } else if (depth == 1 && IsPunct(token, ',')) {
      parts.emplace_back();
      continue;
    }
    parts.back().push_back(token);
  }
  close = tokens.size();
  return {};  // unbalanced
}

std::string TypeText(const TokenRange& part, std::size_t& i) {
  std::string type;
  while (i < part.size() && !StartsColumnConstraint(part[i])) {
    if (IsPunct(part[i], '(')) {
      int depth = 0;
      do {
        if (IsPunct(part[i], '(')) ++depth;
        if (IsPunct(part[i], ')')) --depth;
        type += part[i].text;
        ++i;
      } while (i < part.size() && depth > 0);
      continue;
    }
    if (!type.empty()) type.push_back(' ');
    type += part[i].text;
    ++i;
  }
  return type;
}

TableColumn ParseColumn(const TokenRange& part, bool& primaryKey) {
  TableColumn column;
  column.name = part[0].text;
  std::size_t i = 1;
  column.declaredType = TypeText(part, i);
  primaryKey = false;
  bool descending = false;
  bool generated = false;
  bool storedGenerated = false;
  for (; i < part.size(); ++i) {
    if (IsKeyword(part[i], "PRIMARY") && i + 1 < part.size() && IsKeyword(part[i + 1], "KEY")) {
      primaryKey = true;
      descending = i + 2 < part.size() && IsKeyword(part[i + 2], "DESC");
    }
    if (IsKeyword(part[i], "AS")) generated = true;
    if (IsKeyword(part[i], "STORED")) storedGenerated = true;
  }
  // The one quirk of the format: INTEGER PRIMARY KEY DESC is an ordinary column.
  column.rowidAlias = primaryKey && !descending && ToLowerAscii(column.declaredType) == "integer";
  column.stored = !generated || storedGenerated;
  return column;
}

// PRIMARY KEY (a, b DESC, ...) as a table constraint: the named columns in key order.
std::vector<std::string> TablePrimaryKeyColumns(const TokenRange& part) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i + 3 < part.size(); ++i) {
    if (!IsKeyword(part[i], "PRIMARY") || !IsKeyword(part[i + 1], "KEY") || !IsPunct(part[i + 2], '(')) continue;
    bool expectName = true;
    for (std::size_t k = i + 3; k < part.size() && !IsPunct(part[k], ')'); ++k) {
      if (IsPunct(part[k], ',')) {
        expectName = true;
      } else if (expectName) {
        names.push_back(part[k].text);
        expectName = false;
      }
    }
    break;
  }
  return names;
}

bool Contains(const std::string& upperText, std::string_view word) {
  return upperText.find(word) != std::string::npos;
}

}  // namespace

std::optional<TableDefinition> ParseCreateTable(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  std::size_t i = 0;
  if (i >= tokens.size() || !IsKeyword(tokens[i], "CREATE")) return std::nullopt;
  ++i;
  if (i < tokens.size() && (IsKeyword(tokens[i], "TEMP") || IsKeyword(tokens[i], "TEMPORARY"))) ++i;
  if (i >= tokens.size() || !IsKeyword(tokens[i], "TABLE")) return std::nullopt;
  while (i < tokens.size() && !IsPunct(tokens[i], '(')) {
    if (IsKeyword(tokens[i], "AS")) return std::nullopt;
    ++i;
  }
  if (i >= tokens.size()) return std::nullopt;
  std::size_t close = 0;
  const std::vector<TokenRange> parts = SplitDefinitions(tokens, i, close);
  if (parts.empty()) return std::nullopt;

  TableDefinition table;
  bool keyFromConstraint = false;  // a column's own PRIMARY KEY already settled its alias status
  for (const TokenRange& part : parts) {
    if (part.empty()) return std::nullopt;
    if (StartsTableConstraint(part[0])) {
      std::vector<std::string> named = TablePrimaryKeyColumns(part);
      if (!named.empty()) {
        table.primaryKey = std::move(named);
        keyFromConstraint = true;
      }
      continue;
    }
    bool columnKey = false;
    table.columns.push_back(ParseColumn(part, columnKey));
    if (columnKey) table.primaryKey = {table.columns.back().name};
  }
  for (std::size_t k = close + 1; k + 1 < tokens.size(); ++k) {
    if (IsKeyword(tokens[k], "WITHOUT") && IsKeyword(tokens[k + 1], "ROWID")) table.withoutRowid = true;
  }
  if (keyFromConstraint && table.primaryKey.size() == 1) {
    for (TableColumn& column : table.columns) {
      if (ToLowerAscii(column.name) == ToLowerAscii(table.primaryKey[0]) &&
          ToLowerAscii(column.declaredType) == "integer") {
        column.rowidAlias = true;
      }
    }
  }
  if (table.withoutRowid) {
    for (TableColumn& column : table.columns) column.rowidAlias = false;
  }
  if (table.columns.empty()) return std::nullopt;
  return table;
}

std::uint8_t KindsForDeclaredType(std::string_view declaredType) {
  std::string upper(declaredType);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (Contains(upper, "INT")) return kNull | kInteger;
  if (Contains(upper, "CHAR") || Contains(upper, "CLOB") || Contains(upper, "TEXT")) {
    return kNull | kText;
  }
  if (upper.empty() || Contains(upper, "BLOB")) return kAny;
  if (Contains(upper, "REAL") || Contains(upper, "FLOA") || Contains(upper, "DOUB")) {
    return kNull | kReal | kInteger;
  }
  return kNull | kInteger | kReal | kText;
}

}  // namespace sieve::sqlite
