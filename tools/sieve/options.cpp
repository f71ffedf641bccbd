#include "tools/sieve/options.h"

#include <algorithm>

#include "tools/sieve/exit_codes.h"

namespace sieve::cli {
namespace {

bool Contains(std::initializer_list<std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool LooksLikePasswordValue(std::string_view name) {
  return name == "--password" || name == "--pass" || name == "-p";
}

}  // namespace

Options::Options(const std::vector<std::string>& args,
                 std::initializer_list<std::string_view> flags,
                 std::initializer_list<std::string_view> valued) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& word = args[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      positional_.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    // Only the part before "=" is ever echoed: the rest may be a secret typed by mistake.
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    if (LooksLikePasswordValue(name)) {
      throw UsageError("a password is never taken as an argument; use --password-file FILE or "
                       "--password-stdin");
    }
    if (Find(name) != nullptr) throw UsageError(name + " given twice");
    if (Contains(flags, name)) {
      if (equals != std::string::npos) throw UsageError(name + " takes no value");
      given_.push_back({name, std::nullopt});
    } else if (Contains(valued, name)) {
      if (equals != std::string::npos) {
        given_.push_back({name, word.substr(equals + 1)});
      } else if (i + 1 < args.size()) {
        given_.push_back({name, args[++i]});
      } else {
        throw UsageError(name + " needs a value");
      }
    } else {
      throw UsageError("unknown option " + name);
    }
  }
}

const Options::Given* Options::Find(std::string_view name) const {
  for (const Given& g : given_) {
    if (g.name == name) return &g;
  }
  return nullptr;
}

bool Options::Has(std::string_view flag) const { return Find(flag) != nullptr; }

std::optional<std::string> Options::Value(std::string_view name) const {
  const Given* g = Find(name);
  return g != nullptr ? g->value : std::nullopt;
}

void Options::RequirePositional(std::size_t count, std::string_view usage) const {
  if (positional_.size() < count) throw UsageError("missing arguments; usage: " + std::string(usage));
  if (positional_.size() > count) {
    throw UsageError("unexpected argument; usage: " + std::string(usage));
  }
}

}  // namespace sieve::cli
