#include "args.h"

#include <cerrno>
#include <cstdlib>

#include "com.h"

namespace cvrtool {

Args::Args(const std::vector<std::string>& words, std::initializer_list<OptionSpec> options) {
  bool options_done = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (options_done || word.size() < 2 || word[0] != '-') {
      positional_.push_back(word);
      continue;
    }
    if (word == "--") {
      options_done = true;
      continue;
    }
    if (word == "-h" || word == "--help") {
      help_ = true;
      continue;
    }
    if (word.compare(0, 2, "--") != 0) {
      // A lone "-5" is a (negative) positional number, not an option.
      if (word.find_first_not_of("-0123456789") == std::string::npos) {
        positional_.push_back(word);
        continue;
      }
      throw UsageError("unknown option '" + word + "'");
    }
    const size_t eq = word.find('=');
    const std::string name = word.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    const OptionSpec* known = nullptr;
    for (const OptionSpec& o : options) {
      if (name == o.name) known = &o;
    }
    if (!known) throw UsageError("unknown option '--" + name + "'");
    if (values_.count(name)) throw UsageError("option '--" + name + "' given twice");
    if (!known->takes_value) {
      if (eq != std::string::npos) throw UsageError("option '--" + name + "' takes no value");
      values_[name] = "";
    } else if (eq != std::string::npos) {
      values_[name] = word.substr(eq + 1);
    } else if (i + 1 < words.size()) {
      values_[name] = words[++i];
    } else {
      throw UsageError("option '--" + name + "' needs a value");
    }
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
