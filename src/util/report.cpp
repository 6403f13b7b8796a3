#include "util/report.h"

#include <algorithm>

namespace kestrella {

void Report::Merge(const Report& other) {
  problems_.insert(problems_.end(), other.problems_.begin(), other.problems_.end());
  if (abortReason_.empty()) abortReason_ = other.abortReason_;
}

void Report::Abort(std::string reason) {
  if (abortReason_.empty()) abortReason_ = reason.empty() ? "unexpected failure" : std::move(reason);
}

size_t Report::Count(FileProblem::Kind kind) const {
  return static_cast<size_t>(std::count_if(problems_.begin(), problems_.end(),
                                           [kind](const FileProblem& p) { return p.kind == kind; }));
}

void Report::Clear() {
  problems_.clear();
  abortReason_.clear();
}

std::string Report::Describe(const FileProblem& p) {
  switch (p.kind) {
    case FileProblem::Kind::Lost: return p.file + ": " + p.reason + " (not saved)";
    case FileProblem::Kind::Damaged: return p.file + ": " + p.reason + " (incomplete)";
    case FileProblem::Kind::NotCopied:
      return p.file + ": " + p.reason + " (not copied to " + p.target + ")";
  }
  return p.file + ": " + p.reason;
}

}  // namespace kestrella
