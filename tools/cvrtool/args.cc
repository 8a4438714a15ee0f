#include "args.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <CLI/CLI.hpp>

#include "com.h"

namespace cvrtool {

Args::Args(const std::vector<std::string>& words, std::initializer_list<OptionDef> options) {
  CLI::App app;
  app.allow_extras(false);
  // Options are "--name" everywhere; a word starting with "/" is a path
  // (CLI11 would take it for a Windows-style option on Windows).
  app.allow_windows_style_options(false);
  std::map<std::string, std::string> given;
  std::vector<std::pair<std::string, CLI::Option*>> added;
  for (const OptionDef& o : options) {
    const std::string name = o.name;
    CLI::Option* option = o.takes_value ? app.add_option("--" + name, given[name])
                                        : app.add_flag("--" + name);
    added.emplace_back(name, option);
  }
  // Whatever is no option lands here, "-5" included (a negative number);
  // the commands check the count themselves.
  app.add_option("positional", positional_);
  // CLI11 takes the words in reverse order, last first.
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    help_ = true;
    return;
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  for (const auto& [name, option] : added) {
    if (option->count() > 0) values_[name] = given[name];
  }
}

std::string Args::Value(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

int64_t Args::Int(const std::string& name, int64_t fallback, int64_t min, int64_t max) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  return ParseInt(it->second, "--" + name, min, max);
}

void Args::ExpectPositional(size_t min, size_t max) const {
  if (positional_.size() < min) throw UsageError("missing arguments");
  if (positional_.size() > max) throw UsageError("unexpected argument '" + positional_[max] + "'");
}

int64_t ParseInt(const std::string& text, const std::string& what, int64_t min, int64_t max) {
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) {
    throw UsageError(what + " must be a whole number, not '" + text + "'");
  }
  if (value < min || value > max) {
    throw UsageError(what + " must lie between " + std::to_string(min) + " and " +
                     std::to_string(max) + ", not " + text);
  }
  return value;
}

}  // namespace cvrtool
