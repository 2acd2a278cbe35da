#include "download_print.h"

#include <cstdio>

#include <bplink/report/readings.h>

#include "download_view.h"
#include "table.h"

namespace bplink::cli {
namespace {

std::string Format(const char* pattern, int a, int b = 0, int c = 0, int d = 0, int e = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c, d, e);
  return text;
}

std::string Clock(int hour, int minute) { return Format("%02d:%02d", hour, minute); }

std::string Date(int year, int month, int day, int hour, int minute) {
  return Format("%04d-%02d-%02d %02d:%02d", year, month, day, hour, minute);
}

// A plan field that comes back from a device as 0xFF, or was set to a
// negative value, means "none".
bool Unset(int value) { return value < 0 || value == 0xFF; }

std::string Period(int hour, int minute, int interval) {
  std::string text = "from " + Clock(hour, minute);
  return Unset(interval) || interval == 0 ? text + ", no measurements"
                                          : text + ", every " + std::to_string(interval) + " min";
}

}  // namespace

void PrintDevice(std::ostream& out, const tag_SUPPORT_PROTOCOL& device) {
  out << "Device: " << DeviceTypeText(device.nDeviceType) << " (type " << device.nDeviceType
      << ", protocol " << device.nProtocol << ", version " << DeviceFieldText(device.nVersion) << ")\n";
}

void PrintPlan(std::ostream& out, const _BP_TRANSPORT_INFO& plan) {
  out << "Plan\n";
  // Device texts are single bytes; the terminal takes UTF-8.
  std::string patient = report::TextFromDevice(plan.szPatientInfo1, sizeof plan.szPatientInfo1);
  if (plan.szPatientInfo2[0])
    patient += "  " + report::TextFromDevice(plan.szPatientInfo2, sizeof plan.szPatientInfo2);
  if (!patient.empty()) out << "  patient       " << patient << '\n';
  if (plan.nYear != 0)
    out << "  started       " << Date(plan.nYear, plan.nMonth, plan.nDay, plan.nHour, plan.nMinute) << '\n';
  out << "  day period    " << Period(plan.nPeriod1Hour, plan.nPeriod1Minute, plan.nPeriod1Interval) << '\n';
  out << "  night period  " << Period(plan.nPeriod2Hour, plan.nPeriod2Minute, plan.nPeriod2Interval) << '\n';
  if (Unset(plan.nExtraStartHour) || Unset(plan.nExtraInterval) || plan.nExtraInterval == 0)
    out << "  extra window  none\n";
  else
    out << "  extra window  " << Clock(plan.nExtraStartHour, plan.nExtraStartMinute) << " to "
        << Clock(plan.nExtraEndHour, plan.nExtraEndMinute) << ", every " << plan.nExtraInterval << " min\n";
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
    const std::string reason = InvalidReason(view, r);
    valid += reason.empty() ? 1 : 0;
    const bool measured = r.nSys != 0;
    const auto value = [measured](std::optional<double> v) {
      return measured && v ? std::to_string(static_cast<int>(*v)) : std::string("-");
    };
    table.AddRow({Date(r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute), value(reading.sys), value(reading.dia),
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
    table.AddRow({IsValidTime(start) ? Date(t.year, t.month, t.day, t.hour, t.minute) + Format(":%02d", t.second)
                                     : "-",
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
