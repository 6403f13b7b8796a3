#include "cli/options.h"

#include <cerrno>
#include <cstdlib>

namespace kestrella::cli {

Options::Options(const std::vector<std::string>& args, const OptionSpec& spec) {
  bool onlyPositional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    if (onlyPositional || a.size() < 2 || a[0] != '-') {
      positional_.push_back(a);
      continue;
    }
    if (a == "--") {
      onlyPositional = true;
      continue;
    }
    std::optional<std::string> inlineValue;
    if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = a.substr(eq + 1);
      a = a.substr(0, eq);
    }
    if (spec.flags.count(a) != 0 && !inlineValue) {
      flags_.insert(a);
    } else if (spec.withValue.count(a) != 0) {
      if (inlineValue) {
        values_[a] = *inlineValue;
      } else if (i + 1 < args.size()) {
        values_[a] = args[++i];
      } else {
        throw UsageError("option " + a + " needs a value");
      }
    } else {
      throw UsageError("unknown option " + a);
    }
  }
}

std::optional<std::string> Options::Value(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<long long> Options::Number(const std::string& name, long long min,
                                         long long max) const {
  auto v = Value(name);
  if (!v) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long n = std::strtoll(v->c_str(), &end, 10);
  if (v->empty() || *end != '\0' || errno != 0 || n < min || n > max) {
    throw UsageError(name + " wants a whole number from " + std::to_string(min) + " to " +
                     std::to_string(max) + ", not '" + *v + "'");
  }
  return n;
}

}  // namespace kestrella::cli
