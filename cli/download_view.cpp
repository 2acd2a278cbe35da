#include "download_view.h"

#include <nlohmann/json.hpp>

#include "plan_file.h"
#include <bplink/report/readings.h>

namespace bplink::cli {
namespace {

using nlohmann::json;

CalendarTime TimeOf(const _BP_RECORD& r) {
  return {r.nYear, r.wMonth, r.wDay, r.wHour, r.wMinute, r.wSecond};
}

CalendarTime StartOf(const _DATA_HEAD& h) { return {h.nYear, h.nMonth, h.nDay, h.nHour, h.nMinute, h.nSecond}; }

// A time the record or header does not carry (all zero) is null, not a date.
json TimeJson(const CalendarTime& t) {
  return IsValidTime(t) ? json(report::FormatLocalTime(t)) : json(nullptr);
}

json HeadJson(const _DATA_HEAD& head) { return {{"count", head.nCount}, {"start", TimeJson(StartOf(head))}}; }

json RecordJson(const _BP_RECORD& r) {
  return {{"time", TimeJson(TimeOf(r))}, {"sys", r.nSys},          {"press2", r.wPress2},
          {"press3", r.wPress3},         {"pulse", r.wPulseRate},   {"valid", r.bValid != 0},
          {"status", r.wStatus},         {"flags_low", r.byFlagsLow}, {"flags_high", r.wFlagsHigh},
          {"aux1", r.wAux1},             {"aux2", r.wAux2},         {"aux3", r.nAux3},
          {"minute_offset", r.nMinuteOffset}};
}

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string CsvTime(const CalendarTime& t) { return IsValidTime(t) ? report::FormatLocalTime(t) : ""; }

}  // namespace

std::size_t DownloadView::RecordCount() const {
  std::size_t n = spo2 ? spo2->vecRecords.size() : 0;
  for (const auto& s : sets) n += s.set->vecRecords.size();
  return n;
}

DownloadView ViewOf(const _DOWNLOAD_DATAINFO& data, const tag_SUPPORT_PROTOCOL& device, int mode,
                    bool plan_read) {
  DownloadView view;
  view.device = device;
  switch (device.nDeviceType) {
    case kDeviceThreeStores:
      view.sets = {{DATAMODE_ZONE1, "Store 1", &data.ZoneSet1},
                   {DATAMODE_ZONE2, "Store 2", &data.ZoneSet2},
                   {DATAMODE_ZONE3, "Store 3", &data.ZoneSet3}};
      return view;
    case kDeviceAmbulatory:
      view.sets = {{DATAMODE_BP, "Set 1", &data.BPSet}, {DATAMODE_BP_SET2, "Set 2", &data.BPSet2}};
      break;
    default:
      view.sets = {{mode, "Set 1", &data.BPSet}};
      break;
  }
  if (device.nDeviceType == kDeviceWithSpO2) view.spo2 = &data.SpO2Set;
  if (plan_read) view.plan = &data.Info;
  return view;
}

void WriteJson(const DownloadView& view, std::ostream& out) {
  json doc;
  doc["device"] = {{"device_type", view.device.nDeviceType},
                   {"protocol", view.device.nProtocol},
                   {"variant", view.device.nVariant},
                   {"version", view.device.nVersion}};
  doc["complete"] = view.complete;
  doc["result"] = view.result;
  doc["plan"] = view.plan ? PlanToJson(*view.plan) : json(nullptr);
  doc["sets"] = json::array();
  for (const auto& s : view.sets) {
    json records = json::array();
    for (const auto& r : s.set->vecRecords) records.push_back(RecordJson(r));
    doc["sets"].push_back({{"mode", s.mode}, {"head", HeadJson(s.set->Head)}, {"records", records}});
  }
  if (view.spo2) {
    json samples = json::array();
    for (const auto& s : view.spo2->vecRecords)
      samples.push_back({{"spo2", s.bySpO2}, {"pulse", s.byPulseRate}, {"offset", s.nTimeOffset}});
    doc["spo2"] = {{"head", HeadJson(view.spo2->Head)}, {"records", samples}};
  } else {
    doc["spo2"] = nullptr;
  }
  out << doc.dump(2) << '\n';
}

void WriteCsv(const DownloadView& view, std::ostream& out) {
  out << "set,mode,time,sys,press2,press3,pulse,spo2,valid,status,flags_low,flags_high,aux1,aux2,aux3,"
         "minute_offset\n";
  for (const auto& s : view.sets) {
    for (const auto& r : s.set->vecRecords) {
      out << CsvField(s.title) << ',' << s.mode << ',' << CsvTime(TimeOf(r)) << ',' << r.nSys << ','
          << r.wPress2 << ',' << r.wPress3 << ',' << r.wPulseRate << ",," << (r.bValid ? 1 : 0) << ','
          << r.wStatus << ',' << int{r.byFlagsLow} << ',' << r.wFlagsHigh << ',' << r.wAux1 << ','
          << r.wAux2 << ',' << r.nAux3 << ',' << r.nMinuteOffset << '\n';
    }
  }
  if (!view.spo2) return;
  const CalendarTime start = StartOf(view.spo2->Head);
  for (const auto& s : view.spo2->vecRecords) {
    const std::string time = IsValidTime(start) ? CsvTime(AddSeconds(start, s.nTimeOffset)) : "";
    out << "SpO2,," << time << ",,,," << int{s.byPulseRate} << ',' << int{s.bySpO2} << ",,,,,,,,\n";
  }
}

}  // namespace bplink::cli
