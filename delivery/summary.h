// What HL7 and GDT both send of a study, read once from the analysis: the
// means, the dipping, the verdict, and the patient's name and times in the
// forms those formats share.
#pragma once

#include <bplink/delivery/delivery.h>

#include <array>
#include <optional>
#include <string>

namespace bplink::delivery {

struct PeriodMean {
  report::PeriodIndex period;
  const char* label;  // "24-hour", "Daytime", "Night-time"
  int n = 0;
  std::optional<double> sys, dia;
};

struct ResultSummary {
  std::array<PeriodMean, report::kPeriodCount> means;
  std::optional<double> dipping_sys, dipping_dia;
  // Only where the recording meets the validity criteria: a class and a
  // dipping pattern of readings that do not are not given.
  bool interpretable = false;
  std::string dipping_class;  // of the systolic dipping; empty when none
  std::string verdict;        // "hypertension (ESH 2023)", or "not interpretable: <why>"
  std::optional<CalendarTime> first, last;  // the first and last counted reading
};

ResultSummary Summarise(const report::Analysis& analysis);

// "Given Family", or whichever of the two there is.
std::string FullName(const Patient& patient);
// A value rounded to one decimal, without a trailing ".0" for whole numbers.
std::string Decimal(double value);
// YYYYMMDD from YYYY-MM-DD; empty when `date` is not one.
std::string CompactDate(const std::string& date);
// The shipment's study system, or kDefaultStudySystem.
std::string StudySystem(const Shipment& shipment);
// The study's offset function, or the machine's time zone.
report::UtcOffset OffsetOf(const Shipment& shipment);

}  // namespace bplink::delivery
