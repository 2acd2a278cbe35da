#include "download_view.h"

#include <nlohmann/json.hpp>

#include <charconv>

#include "plan_file.h"
#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

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

json RecordJson(const _BP_RECORD& r, const std::string& reason) {
  return {{"time", TimeJson(TimeOf(r))}, {"sys", r.nSys},          {"press2", r.wPress2},
          {"press3", r.wPress3},         {"pulse", r.wPulseRate},   {"valid", r.bValid != 0},
          {"reason", reason.empty() ? json(nullptr) : json(reason)},
          {"status", r.wStatus},         {"flags_low", r.byFlagsLow}, {"flags_high", r.wFlagsHigh},
          {"aux1", r.wAux1},             {"aux2", r.wAux2},         {"aux3", r.nAux3},
          {"minute_offset", r.nMinuteOffset}};
}

bool IsNumber(const std::string& text) {
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::string CsvTime(const CalendarTime& t) { return IsValidTime(t) ? report::FormatLocalTime(t) : ""; }

std::string Number(std::optional<double> value) {
  return value ? std::to_string(static_cast<long long>(*value)) : std::string();
}

}  // namespace

std::string CsvField(std::string text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos &&
      !IsNumber(text))
    text.insert(0, 1, '\'');
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string NotDownloadedText(int mode) { return "not downloaded: use --mode " + std::to_string(mode); }

void WriteJson(const DownloadView& view, std::ostream& out) {
  json doc;
  doc["device"] = {{"device_type", view.device.nDeviceType},
                   {"protocol", view.device.nProtocol},
                   {"variant", view.device.nVariant},
                   {"version", view.device.nVersion}};
  doc["complete"] = view.complete;
  doc["result"] = view.result;
  doc["downloaded_at"] = view.downloaded_at ? TimeJson(*view.downloaded_at) : json(nullptr);
  doc["plan"] = view.plan ? PlanToJson(*view.plan) : json(nullptr);
  doc["sets"] = json::array();
  for (const auto& s : view.sets) {
    json records = json::array();
    for (const auto& r : s.set->vecRecords) records.push_back(RecordJson(r, InvalidReason(view, s.mode, r)));
    doc["sets"].push_back(
        {{"mode", s.mode}, {"downloaded", s.downloaded}, {"head", HeadJson(s.set->Head)}, {"records", records}});
  }
  if (view.spo2) {
    json samples = json::array();
    for (const auto& s : view.spo2->vecRecords)
      samples.push_back({{"spo2", s.bySpO2}, {"pulse", s.byPulseRate}, {"offset", s.nTimeOffset}});
    doc["spo2"] = {{"mode", view.spo2_mode},
                   {"downloaded", view.spo2_downloaded},
                   {"head", HeadJson(view.spo2->Head)},
                   {"records", samples}};
  } else {
    doc["spo2"] = nullptr;
  }
  // A device text that is not UTF-8 must not stop the output.
  out << doc.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
}

void WriteCsv(const DownloadView& view, std::ostream& out) {
  out << "set,time,systolic (mmHg),diastolic (mmHg),MAP (mmHg),pulse (bpm),SpO2 (%),valid,reason\n";
  for (const auto& s : view.sets) {
    for (const auto& r : s.set->vecRecords) {
      const report::Reading reading = report::ReadingOf(r);
      const bool measured = r.nSys != 0;
      const std::string reason = InvalidReason(view, s.mode, r);
      out << CsvField(s.title) << ',' << CsvTime(TimeOf(r)) << ','
          << (measured ? Number(reading.sys) : "") << ',' << (measured ? Number(reading.dia) : "") << ','
          << (measured ? Number(reading.map) : "") << ',' << Number(reading.pulse) << ",,"
          << (reason.empty() ? "yes" : "no") << ',' << CsvField(reason) << '\n';
    }
  }
  if (!view.spo2) return;
  const CalendarTime start = StartOf(view.spo2->Head);
  for (const auto& s : view.spo2->vecRecords) {
    const std::string time = IsValidTime(start) ? CsvTime(AddSeconds(start, s.nTimeOffset)) : "";
    out << "SpO2," << time << ",,,," << int{s.byPulseRate} << ',' << int{s.bySpO2} << ",,\n";
  }
}

}  // namespace bplink::cli
