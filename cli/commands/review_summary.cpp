#include "commands/review_summary.h"

#include <bplink/report/html_report.h>

#include <ostream>

namespace bplink::cli {
namespace {

std::string Capitalised(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
  return text;
}

std::string Means(const report::PeriodStats& p) {
  return report::FormatNumber(p.sys.mean) + "/" + report::FormatNumber(p.dia.mean);
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace

report::Analysis Analysed(report::Recording recording, const report::Profile& profile) {
  if (recording.kept_review) report::ApplyReview(recording, *recording.kept_review);
  return report::Analyse(std::move(recording), profile, std::nullopt);
}

void PrintVerdict(const report::Recording& recording, const report::Profile& profile, std::ostream& out,
                  const std::string& prefix) {
  const report::Analysis a = Analysed(recording, profile);
  out << prefix << "Verdict (" << a.profile->title << "): " << Capitalised(a.verdict.level);
  if (!a.interpretable) out << ": " << Joined(a.validity.problems);
  else if (!a.verdict.exceeded.empty()) out << " (" << Joined(a.verdict.exceeded) << ")";
  out << '\n';
  const char* information = a.interpretable ? "" : " (for information only)";
  if (a.kind == report::ReportKind::kHome) {
    out << prefix << "Home means, mmHg" << information << ": all " << Means(a.periods[report::k24h]) << ", morning "
        << Means(a.home.morning) << ", evening " << Means(a.home.evening) << '\n';
  } else {
    out << prefix << "Day and night: " << report::DescribeRule(a.rule) << '\n';
    out << prefix << "Means, mmHg" << information << ": 24 h " << Means(a.periods[report::k24h]) << ", day "
        << Means(a.periods[report::kDay]) << ", night " << Means(a.periods[report::kNight]) << '\n';
    if (a.dipping_sys)
      out << prefix << "Dipping: systolic " << report::FormatNumber(a.dipping_sys) << " %"
          << (a.dipping_sys_class ? " (" + *a.dipping_sys_class + ")" : "") << ", diastolic "
          << report::FormatNumber(a.dipping_dia) << " %" << (a.dipping_dia_class ? " (" + *a.dipping_dia_class + ")" : "")
          << '\n';
  }
  if (const auto& office = a.recording.review.office)
    out << prefix << "Office " << office->sys << "/" << office->dia << " mmHg: "
        << (a.office_class ? Capitalised(*a.office_class) : "not classified, the recording being not interpretable")
        << '\n';
  out << prefix << "Readings: " << a.counted << " of " << a.total << " counted";
  for (const auto& [reason, n] : a.excluded_by_reason) out << "; " << n << " " << reason;
  out << '\n';
}

}  // namespace bplink::cli
