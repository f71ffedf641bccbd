// A tiny argument parser: positional words, flags ("--json") and options with
// a value ("--root DIR" or "--root=DIR"). Anything else is a usage error.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sieve::cli {

class Options {
 public:
  // Throws a usage error for an unknown option, a missing value or a repeated
  // option. "--" ends the options; later words are positional.
  Options(const std::vector<std::string>& args, std::initializer_list<std::string_view> flags,
          std::initializer_list<std::string_view> valued);

  bool Has(std::string_view flag) const;
  std::optional<std::string> Value(std::string_view name) const;
  const std::vector<std::string>& Positional() const { return positional_; }
  // Throws a usage error naming `usage` unless there are exactly `count` positional words.
  void RequirePositional(std::size_t count, std::string_view usage) const;

 private:
  struct Given {
    std::string name;
    std::optional<std::string> value;
  };
  const Given* Find(std::string_view name) const;

  std::vector<Given> given_;
  std::vector<std::string> positional_;
};

}  // namespace sieve::cli
