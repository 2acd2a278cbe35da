// The report's numbers as JSON, for programs that read them. The keys
// listed in report/README.md are stable.
#pragma once

#include <bplink/report/analysis.h>

#include <nlohmann/json.hpp>

#include <iosfwd>

namespace bplink::report {

nlohmann::json ReportJson(const Analysis& analysis);
void WriteJsonReport(const Analysis& analysis, std::ostream& out);

// A study's figures back from the JSON report it was given, to be shown as
// the previous study beside a later one. Throws InputError naming `name`.
PreviousStudy PreviousFromReportJson(const nlohmann::json& report, const std::string& name);
// The same figures from the study's analysis, named `label`.
PreviousStudy PreviousFromAnalysis(const Analysis& analysis, std::string label);

// The previous study as the report's JSON writes it (recording.previous),
// and back: {"label", "kind", "first", "last", "means": {"24h": {"sys",
// "dia"}, "day": ..., "night": ...}, "verdict"}. Throws InputError naming
// `name` and the member at fault.
nlohmann::json PreviousStudyToJson(const PreviousStudy& previous);
PreviousStudy PreviousStudyFromJson(const nlohmann::json& doc, const std::string& name);

}  // namespace bplink::report
