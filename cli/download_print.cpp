#include "download_print.h"

#include <cstdio>

#include <bplink/report/readings.h>

#include <bplink/host/plan_words.h>

#include "download_view.h"
#include "table.h"

namespace bplink::cli {
namespace {

std::string Format(const char* pattern, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c, d, e);
  return text;
}

using host::DateTimeWords;

}  // namespace

void PrintDevice(std::ostream& out, const tag_SUPPORT_PROTOCOL& device) {
  out << "Device: " << DeviceTypeText(device.nDeviceType) << " (type " << device.nDeviceType
      << ", protocol " << device.nProtocol << ", version " << DeviceFieldText(device.nVersion) << ")\n";
}

void PrintPlan(std::ostream& out, const _BP_TRANSPORT_INFO& plan) {
  out << "Plan\n";
  constexpr std::size_t kLabelWidth = 14;
  for (const auto& [label, words] : host::PlanWords(plan))
    out << "  " << label << std::string(kLabelWidth - label.size(), ' ') << words << '\n';
}

// Diastolic and MAP as the report assigns them: the lower and the higher
// of the record's two further pressures, whose order the families differ in.
void PrintRecords(std::ostream& out, const DownloadView& view, const DownloadedSet& downloaded) {
  const _BP_DATASET& set = *downloaded.set;
  if (!downloaded.downloaded) {
    out << downloaded.title << ": " << NotDownloadedText(downloaded.mode) << '\n';
    return;
  }
  Table table;
  table.AddColumn("time", Table::Align::kLeft);
  for (const char* title : {"systolic", "diastolic", "MAP (mmHg)", "pulse (bpm)"}) table.AddColumn(title);
  table.AddColumn("valid", Table::Align::kLeft);
  table.AddColumn("reason", Table::Align::kLeft);
  int valid = 0;
  for (const auto& r : set.vecRecords) {
    const report::Reading reading = report::ReadingOf(r);
    const std::string reason = InvalidReason(view, downloaded.mode, r);
    valid += reason.empty() ? 1 : 0;
    const bool measured = r.nSys != 0;
    const auto value = [measured](std::optional<double> v) {
      return measured && v ? std::to_string(static_cast<int>(*v)) : std::string("-");
    };
    table.AddRow({DateTimeWords(r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute), value(reading.sys), value(reading.dia),
                  value(reading.map), reading.pulse ? std::to_string(static_cast<int>(*reading.pulse)) : "-",
                  reason.empty() ? "yes" : "no", reason});
  }
  out << downloaded.title << ": " << set.vecRecords.size() << " records";
  if (set.Head.nCount != static_cast<int>(set.vecRecords.size()))
    out << " of " << set.Head.nCount << " announced";
  if (set.vecRecords.empty()) {
    out << "\n";
    return;
  }
  out << ", " << valid << " valid\n";
  table.Print(out);
}

void PrintSpO2(std::ostream& out, const DownloadView& view) {
  if (!view.spo2_downloaded) {
    out << "SpO2: " << NotDownloadedText(view.spo2_mode) << '\n';
    return;
  }
  out << "SpO2: " << view.spo2->vecRecords.size() << " samples\n";
  const _DATA_HEAD& h = view.spo2->Head;
  const CalendarTime start{h.nYear, h.nMonth, h.nDay, h.nHour, h.nMinute, h.nSecond};
  if (view.spo2->vecRecords.empty()) return;
  Table table;
  table.AddColumn("time", Table::Align::kLeft);
  table.AddColumn("SpO2 (%)");
  table.AddColumn("pulse (bpm)");
  for (const auto& sample : view.spo2->vecRecords) {
    const CalendarTime t = AddSeconds(start, sample.nTimeOffset);
    const std::string when =
        IsValidTime(start) ? DateTimeWords(t.year, t.month, t.day, t.hour, t.minute) + Format(":%02d", t.second) : "-";
    table.AddRow({when,
                  std::to_string(sample.bySpO2), sample.byPulseRate ? std::to_string(sample.byPulseRate) : "-"});
  }
  table.Print(out);
}

}  // namespace bplink::cli

namespace bplink::cli {

void WriteTable(const DownloadView& view, std::ostream& out) {
  PrintDevice(out, view.device);
  // Said first: whatever follows is not all the device holds.
  if (!view.complete) out << "Incomplete download: " << view.result << '\n';
  out << '\n';
  if (view.plan) {
    PrintPlan(out, *view.plan);
    out << '\n';
  }
  for (std::size_t i = 0; i < view.sets.size(); ++i) {
    if (i) out << '\n';
    PrintRecords(out, view, view.sets[i]);
  }
  if (view.spo2) {
    out << '\n';
    PrintSpO2(out, view);
  }
}

}  // namespace bplink::cli
