// The verdict of an archived recording as its report gives it, in a few
// lines for the physician who reviews or signs it.
#pragma once

#include <bplink/report/analysis.h>

#include <iosfwd>

namespace bplink::cli {

// The recording analysed as its report is: the inputs kept with it applied.
report::Analysis Analysed(report::Recording recording, const report::Profile& profile);
// The verdict and its reasons (or why there is none), day and night, the
// means, dipping, the office class and what was left out; each line
// starting with `prefix`.
void PrintVerdict(const report::Recording& recording, const report::Profile& profile, std::ostream& out,
                  const std::string& prefix = "");

}  // namespace bplink::cli
