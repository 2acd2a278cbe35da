// The physician's inputs as the command line gives them: the same options,
// with the same checks and words, on `bplink report` for a file and on
// `bplink review` for an archived study.
#pragma once

#include <bplink/report/review.h>

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace bplink::cli {

struct ReviewOptions {
  std::string sleep, office, clock_offset;
  std::vector<std::string> exclude, reason;
  report::ReviewInputs texts;  // indication, medication, referring physician
  // Whether any of them was given.
  bool Given() const;
};

// --sleep, --exclude TIME --reason TEXT, --office, --clock-offset,
// --indication, --medication, --referring-physician.
void AddReviewOptions(CLI::App& command, ReviewOptions& options);

// The inputs given, each value checked as it is taken by the report
// library's own checks, a refusal naming the option and the form it takes.
// Throws CommandError (bad input).
report::ReviewInputs ReviewInputsOf(const ReviewOptions& options);

}  // namespace bplink::cli
