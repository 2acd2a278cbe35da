#include "summary.h"

#include <cmath>
#include <cstdio>

namespace bplink::delivery {

ResultSummary Summarise(const report::Analysis& a) {
  ResultSummary s;
  static constexpr std::array<const char*, report::kPeriodCount> kLabels = {"24-hour", "Daytime", "Night-time"};
  for (int p = 0; p < report::kPeriodCount; ++p) {
    const auto& stats = a.periods[p];
    s.means[p] = {static_cast<report::PeriodIndex>(p), kLabels[p], stats.n, stats.sys.mean, stats.dia.mean};
  }
  s.dipping_sys = a.dipping_sys;
  s.dipping_dia = a.dipping_dia;
  s.interpretable = a.validity.valid && a.verdict.level != report::kNoVerdict;
  if (s.interpretable) {
    if (a.dipping_sys) s.dipping_class = report::DippingClass(*a.dipping_sys);
    s.verdict = a.verdict.level + (a.profile ? std::string(" (") + a.profile->title + ")" : std::string());
  } else {
    s.verdict = "not interpretable";
    for (std::size_t i = 0; i < a.validity.problems.size(); ++i)
      s.verdict += (i == 0 ? ": " : "; ") + a.validity.problems[i];
  }
  const auto counted = a.Counted();
  if (!counted.empty()) {
    s.first = counted.front()->time;
    s.last = counted.back()->time;
  }
  return s;
}

std::string FullName(const Patient& p) {
  if (p.given.empty()) return p.family;
  if (p.family.empty()) return p.given;
  return p.given + " " + p.family;
}

std::string Decimal(double value) {
  const double rounded = std::round(value * 10) / 10;
  char text[32];
  if (rounded == std::floor(rounded))
    std::snprintf(text, sizeof text, "%.0f", rounded);
  else
    std::snprintf(text, sizeof text, "%.1f", rounded);
  return text;
}

std::string CompactDate(const std::string& date) {
  if (date.size() != 10 || date[4] != '-' || date[7] != '-') return {};
  return date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2);
}

std::string StudySystem(const Shipment& shipment) {
  return shipment.study_system.empty() ? kDefaultStudySystem : shipment.study_system;
}

report::UtcOffset OffsetOf(const Shipment& shipment) {
  if (shipment.utc_offset) return shipment.utc_offset;
  return report::MachineUtcOffset;
}

}  // namespace bplink::delivery
