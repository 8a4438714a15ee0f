// Command-line parsing for the subcommands, done by CLI11: long options
// ("--count 5" or "--count=5"), flags, positional arguments, "--" to end the
// options, and "-h"/"--help" everywhere. Every mistake throws UsageError.
#ifndef CVRTOOL_ARGS_H_
#define CVRTOOL_ARGS_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace cvrtool {

struct OptionDef {
  const char* name;  // without the leading "--"
  bool takes_value;
};

class Args {
 public:
  Args(const std::vector<std::string>& words, std::initializer_list<OptionDef> options);

  bool help() const { return help_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::string Value(const std::string& name, const std::string& fallback) const;
  // An integer option within [min, max]; `fallback` when it is absent.
  int64_t Int(const std::string& name, int64_t fallback, int64_t min, int64_t max) const;

  const std::vector<std::string>& positional() const { return positional_; }
  // Fails unless the count of positional arguments lies within [min, max].
  void ExpectPositional(size_t min, size_t max) const;

 private:
  bool help_ = false;
  std::map<std::string, std::string> values_;
  std::vector<std::string> positional_;
};

// Parses a whole decimal number within [min, max]; `what` names it in errors.
int64_t ParseInt(const std::string& text, const std::string& what, int64_t min, int64_t max);

}  // namespace cvrtool

#endif  // CVRTOOL_ARGS_H_
