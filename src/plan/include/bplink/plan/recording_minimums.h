// What an ambulatory recording needs before a report may give it a verdict:
// at least 70 % of its readings valid, at least 20 day and 7 night readings
// (O'Brien E, Parati G, Stergiou G, et al. European Society of Hypertension
// position paper on ambulatory blood pressure monitoring. J Hypertens
// 2013;31:1731-68).
//
// The report's validity criteria (report/) judge a recording by these
// numbers, and the plan check (plan_check.h) warns before a plan that cannot
// reach them is uploaded. The numbers live here, in the core, so that both
// read the same ones: the core does not depend on the report.
#pragma once

namespace bplink {

inline constexpr double kMinValidPercent = 70;
inline constexpr int kMinDayReadings = 20;
inline constexpr int kMinNightReadings = 7;

}  // namespace bplink
