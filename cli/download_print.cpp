#include "download_print.h"

#include <cstdio>

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

std::string DeviceTypeText(int deviceType) {
  switch (deviceType) {
    case kDeviceAmbulatory: return "ambulatory recorder";
    case kDeviceWithSpO2: return "monitor with SpO2";
    case kDeviceThreeStores: return "monitor with three stores";
    case kDeviceType2:
    case kDeviceType4:
    case kDeviceType6: return "monitor";
    default: return "unknown device";
  }
}

std::string DeviceFieldText(int value) {
  constexpr int kNotReported = 255;  // what detection leaves in a field the device does not tell
  return value == kNotReported ? "not reported" : std::to_string(value);
}

void PrintDevice(std::ostream& out, const tag_SUPPORT_PROTOCOL& device) {
  out << "Device: " << DeviceTypeText(device.nDeviceType) << " (type " << device.nDeviceType
      << ", protocol " << device.nProtocol << ", version " << DeviceFieldText(device.nVersion) << ")\n";
}

void PrintPlan(std::ostream& out, const _BP_TRANSPORT_INFO& plan) {
  out << "Plan\n";
  if (plan.szPatientInfo1[0] || plan.szPatientInfo2[0])
    out << "  patient       " << plan.szPatientInfo1 << "  " << plan.szPatientInfo2 << '\n';
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

// The library leaves the meaning of the two further pressure fields to the
// device; the simulated recorders put the diastolic and the mean arterial
// pressure there.
void PrintRecords(std::ostream& out, const std::string& title, const _BP_DATASET& set) {
  int valid = 0;
  for (const auto& r : set.vecRecords) valid += r.bValid ? 1 : 0;
  out << title << ": " << set.vecRecords.size() << " records";
  if (set.Head.nCount != static_cast<int>(set.vecRecords.size()))
    out << " of " << set.Head.nCount << " announced";
  if (set.vecRecords.empty()) {
    out << "\n";
    return;
  }
  out << ", " << valid << " valid\n";

  Table table;
  table.AddColumn("time", Table::Align::kLeft);
  table.AddColumn("sys");
  table.AddColumn("press2");
  table.AddColumn("press3");
  table.AddColumn("pulse");
  table.AddColumn("status");
  table.AddColumn("valid", Table::Align::kLeft);
  for (const auto& r : set.vecRecords) {
    const bool measured = r.nSys != 0;
    const auto value = [measured](int v) { return measured ? std::to_string(v) : std::string("-"); };
    table.AddRow({Date(r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute), value(r.nSys), value(r.wPress2),
                  value(r.wPress3), value(r.wPulseRate), std::to_string(r.wStatus), r.bValid ? "yes" : "no"});
  }
  table.Print(out);
}

}  // namespace bplink::cli

namespace bplink::cli {

void WriteTable(const DownloadView& view, std::ostream& out) {
  PrintDevice(out, view.device);
  out << '\n';
  if (view.plan) {
    PrintPlan(out, *view.plan);
    out << '\n';
  }
  for (std::size_t i = 0; i < view.sets.size(); ++i) {
    if (i) out << '\n';
    PrintRecords(out, view.sets[i].title, *view.sets[i].set);
  }
  if (view.spo2) out << "\nSpO2: " << view.spo2->vecRecords.size() << " samples\n";
  if (!view.complete) out << "\nIncomplete: " << view.result << '\n';
}

}  // namespace bplink::cli
