// What a job tells its user when it ends: every file it could not bring back
// whole, and why it stopped early if it did. The report is handed down to
// the parts of a job that meet the problems (the saves of a FAT volume, the
// raw scan, the save step), instead of each keeping a list of its own, and
// every front end prints the one report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrella {

struct FileProblem {
  enum class Kind {
    Lost,       // nothing of the file was kept
    Damaged,    // kept, but part of it is missing or holds zeros
    NotCopied,  // found and kept in the temporary folder, not copied into the destination
  };
  Kind kind = Kind::Lost;
  // Lost: the file's name on the card, or the path it was to have; Damaged
  // and NotCopied: the path of the file as kept.
  std::string file;
  std::string reason;
  std::string target;  // NotCopied: the name it was to have in the destination

  bool operator==(const FileProblem&) const = default;
};

class Report {
 public:
  void Add(FileProblem problem) { problems_.push_back(std::move(problem)); }
  void Add(FileProblem::Kind kind, std::string file, std::string reason, std::string target = {}) {
    problems_.push_back({kind, std::move(file), std::move(reason), std::move(target)});
  }
  // Adds the problems of another report (and its abort reason, if this one
  // has none yet).
  void Merge(const Report& other);
  // The job ended early for `reason`; the first reason stands.
  void Abort(std::string reason);

  const std::vector<FileProblem>& Problems() const { return problems_; }
  size_t Count(FileProblem::Kind kind) const;
  const std::string& AbortReason() const { return abortReason_; }
  bool Clean() const { return problems_.empty() && abortReason_.empty(); }
  void Clear();

  // One line per problem: "file: reason (not saved)", "(incomplete)",
  // "(not copied to target)".
  static std::string Describe(const FileProblem& problem);

 private:
  std::vector<FileProblem> problems_;
  std::string abortReason_;
};

}  // namespace kestrella
