// A small parser for "command ARG... [--option VALUE] [-x]" command lines.
#pragma once

#include <map>
#include <stdexcept>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kestrella::cli {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  std::set<std::string> withValue;  // "--prefix", "-o", ...
  std::set<std::string> flags;      // "-q", "--force", ...
};

class Options {
 public:
  // Throws UsageError for an unknown option or a missing value.
  Options(const std::vector<std::string>& args, const OptionSpec& spec);

  const std::vector<std::string>& Positional() const { return positional_; }
  bool Flag(const std::string& name) const { return flags_.count(name) != 0; }
  std::optional<std::string> Value(const std::string& name) const;
  // The value as a whole number within [min, max]; throws UsageError.
  std::optional<long long> Number(const std::string& name, long long min, long long max) const;

 private:
  std::vector<std::string> positional_;
  std::set<std::string> flags_;
  std::map<std::string, std::string> values_;
};

}  // namespace kestrella::cli
