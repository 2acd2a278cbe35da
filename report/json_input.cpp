// Readings from a download saved as JSON (shape in README.md beside this
// file). The JSON is turned back into the library's records and read by the
// same code as a download straight from a device, so both give the same
// report. Members the report does not need are ignored.

#include <bplink/report/json_report.h>
#include <bplink/report/readings.h>

#include <nlohmann/json.hpp>

#include <climits>
#include <istream>

namespace bplink::report {
namespace {

using nlohmann::json;

class JsonReader {
 public:
  explicit JsonReader(const std::string& name) : name_(name) {}

  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    throw InputError(name_ + ": " + path + ": " + what);
  }

  const json& Member(const json& object, const std::string& path, const char* key) const {
    if (!object.is_object() || !object.contains(key)) Fail(path, std::string("missing member '") + key + "'");
    return object[key];
  }

  // An integer that fits the record field it goes to.
  int Integer(const json& value, const std::string& path, long long low = INT_MIN,
              long long high = INT_MAX) const {
    if (!value.is_number_integer()) Fail(path, "expected an integer, found " + value.dump());
    const auto n = value.get<long long>();
    if (n < low || n > high)
      Fail(path, value.dump() + " is outside " + std::to_string(low) + ".." + std::to_string(high));
    return static_cast<int>(n);
  }

  int OptionalInteger(const json& object, const std::string& path, const char* key, int fallback,
                      long long low = INT_MIN, long long high = INT_MAX) const {
    if (!object.contains(key) || object[key].is_null()) return fallback;
    return Integer(object[key], path + "." + key, low, high);
  }

  CalendarTime Time(const json& value, const std::string& path) const {
    if (value.is_string())
      if (const auto t = ParseLocalTime(value.get<std::string>())) return *t;
    Fail(path, "expected a local time like \"2024-03-01T08:30:00\", found " + value.dump());
  }

  // "07:30" as minutes after midnight.
  int Clock(const json& value, const std::string& path) const {
    if (value.is_string()) {
      const auto t = ParseLocalTime("2000-01-01T" + value.get<std::string>());
      if (t) return t->hour * kMinutesPerHour + t->minute;
    }
    Fail(path, "expected a time of day like \"07:30\", found " + value.dump());
  }

  _BP_RECORD Record(const json& r, const std::string& path) const {
    _BP_RECORD record;
    const CalendarTime t = Time(Member(r, path, "time"), path + ".time");
    record.nYear = t.year;
    record.wMonth = static_cast<short>(t.month);
    record.wDay = static_cast<short>(t.day);
    record.wHour = static_cast<short>(t.hour);
    record.wMinute = static_cast<short>(t.minute);
    record.wSecond = static_cast<short>(t.second);
    record.nSys = Integer(Member(r, path, "sys"), path + ".sys");
    record.wPress2 =
        static_cast<short>(Integer(Member(r, path, "press2"), path + ".press2", SHRT_MIN, SHRT_MAX));
    record.wPress3 =
        static_cast<short>(Integer(Member(r, path, "press3"), path + ".press3", SHRT_MIN, SHRT_MAX));
    record.wPulseRate = static_cast<short>(OptionalInteger(r, path, "pulse", 0, SHRT_MIN, SHRT_MAX));
    if (r.contains("valid")) {
      const json& valid = r["valid"];
      if (valid.is_boolean()) record.bValid = valid.get<bool>() ? 1 : 0;
      else record.bValid = Integer(valid, path + ".valid");
    }
    return record;
  }

  // The set asked for, or the first that holds records; `label` says which.
  _BP_DATASET Set(const json& doc, SetChoice choice, std::string& label, int& mode) const {
    const json& sets = Member(doc, "(top level)", "sets");
    if (!sets.is_array()) Fail("sets", "expected an array of data sets");
    const auto count = sets.size();
    if (choice && (*choice < 1 || static_cast<std::size_t>(*choice) > count))
      throw InputError(name_ + ": --set " + std::to_string(*choice) + ": the download has " +
                       (count == 1 ? std::string("set 1 only") : "sets 1 to " + std::to_string(count)));
    for (std::size_t i = choice ? static_cast<std::size_t>(*choice - 1) : 0; i < count; ++i) {
      const std::string path = "sets[" + std::to_string(i) + "]";
      const json& records = Member(sets[i], path, "records");
      if (!records.is_array()) Fail(path + ".records", "expected an array of records");
      if (records.empty() && !choice) continue;
      if (records.empty()) throw InputError(name_ + ": no readings: set " + std::to_string(*choice) + " is empty");
      _BP_DATASET set;
      mode = OptionalInteger(sets[i], path, "mode", DATAMODE_BP);
      for (std::size_t j = 0; j < records.size(); ++j)
        set.vecRecords.push_back(Record(records[j], path + ".records[" + std::to_string(j) + "]"));
      label = "set " + std::to_string(i + 1) + " of " + std::to_string(count) +
              (choice ? ", as asked" : count > 1 ? ", the first with readings" : "");
      return set;
    }
    throw InputError(name_ + ": no readings: every data set in 'sets' is empty");
  }

  _BP_TRANSPORT_INFO Plan(const json& plan, std::vector<std::string>& patient) const {
    _BP_TRANSPORT_INFO info;
    if (plan.contains("patient")) {
      const json& texts = plan["patient"];
      if (!texts.is_array()) Fail("plan.patient", "expected an array of texts");
      for (std::size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].is_string()) Fail("plan.patient[" + std::to_string(i) + "]", "expected a text");
        if (!texts[i].get<std::string>().empty()) patient.push_back(texts[i].get<std::string>());
      }
    }
    const int day = Clock(Member(Member(plan, "plan", "period1"), "plan.period1", "start"),
                          "plan.period1.start");
    const int night = Clock(Member(Member(plan, "plan", "period2"), "plan.period2", "start"),
                            "plan.period2.start");
    info.nPeriod1Hour = day / kMinutesPerHour;
    info.nPeriod1Minute = day % kMinutesPerHour;
    info.nPeriod1Interval = OptionalInteger(plan["period1"], "plan.period1", "interval", 0);
    info.nPeriod2Hour = night / kMinutesPerHour;
    info.nPeriod2Minute = night % kMinutesPerHour;
    info.nPeriod2Interval = OptionalInteger(plan["period2"], "plan.period2", "interval", 0);
    if (plan.contains("start") && !plan["start"].is_null()) {
      const CalendarTime start = Time(plan["start"], "plan.start");
      info.nYear = start.year, info.nMonth = start.month, info.nDay = start.day;
      info.nHour = start.hour, info.nMinute = start.minute, info.nSecond = start.second;
    }
    return info;
  }

  _SPO2_DATASET SpO2(const json& spo2) const {
    _SPO2_DATASET set;
    const json& records = Member(spo2, "spo2", "records");
    if (!records.is_array()) Fail("spo2.records", "expected an array of samples");
    if (records.empty()) return set;  // no samples: the set has no start time either
    const CalendarTime start = Time(Member(Member(spo2, "spo2", "head"), "spo2.head", "start"),
                                    "spo2.head.start");
    set.Head.nYear = start.year;
    set.Head.nMonth = start.month;
    set.Head.nDay = start.day;
    set.Head.nHour = start.hour;
    set.Head.nMinute = start.minute;
    set.Head.nSecond = start.second;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string path = "spo2.records[" + std::to_string(i) + "]";
      _SPO2_RECORD sample;
      sample.bySpO2 =
          static_cast<BYTE>(Integer(Member(records[i], path, "spo2"), path + ".spo2", 0, UCHAR_MAX));
      sample.byPulseRate =
          static_cast<BYTE>(OptionalInteger(records[i], path, "pulse", 0, 0, UCHAR_MAX));
      sample.nTimeOffset = Integer(Member(records[i], path, "offset"), path + ".offset");
      set.vecRecords.push_back(sample);
    }
    return set;
  }

  // "day_night": {"source": "device plan", "day": {"start": "07:00",
  // "interval": 15}, "night": {...}}, or {"source": "default"}: the periods
  // the report of an archived recording used, which the plan member may not
  // say alone (a study's plan is the one uploaded, not the one the device
  // held when downloaded).
  std::optional<PlanPeriods> DayNight(const json& day_night) const {
    const json& source = Member(day_night, "day_night", "source");
    if (source == "default") return std::nullopt;
    if (source != "device plan") Fail("day_night.source", "expected \"device plan\" or \"default\", found " + source.dump());
    PlanPeriods periods;
    const json& day = Member(day_night, "day_night", "day");
    const json& night = Member(day_night, "day_night", "night");
    periods.day_start = Clock(Member(day, "day_night.day", "start"), "day_night.day.start");
    periods.day_interval = OptionalInteger(day, "day_night.day", "interval", 0);
    periods.night_start = Clock(Member(night, "day_night.night", "start"), "day_night.night.start");
    periods.night_interval = OptionalInteger(night, "day_night.night", "interval", 0);
    return periods;
  }

  std::optional<DeviceSummary> Device(const json& doc) const {
    if (!doc.contains("device") || doc["device"].is_null()) return std::nullopt;
    const json& device = doc["device"];
    tag_SUPPORT_PROTOCOL id;
    id.nDeviceType = OptionalInteger(device, "device", "device_type", -1);
    id.nProtocol = OptionalInteger(device, "device", "protocol", -1);
    id.nVariant = OptionalInteger(device, "device", "variant", 0);
    id.nVersion = OptionalInteger(device, "device", "version", 0);
    DeviceSummary summary = DescribeDevice(id);
    if (device.contains("serial") && device["serial"].is_string()) summary.serial = device["serial"].get<std::string>();
    return summary;
  }

 private:
  std::string name_;
};

bool Present(const json& doc, const char* key) { return doc.contains(key) && !doc[key].is_null(); }

}  // namespace

Recording LoadDownloadJson(std::istream& in, const std::string& name, SetChoice choice) {
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::exception& e) {  // a syntax error, or a number out of range
    throw InputError(name + ": not valid JSON: " + e.what());
  }
  if (!doc.is_object()) throw InputError(name + ": expected a JSON object at the top level");

  const JsonReader reader(name);
  std::string label;
  int mode = DATAMODE_BP;
  const _BP_DATASET set = reader.Set(doc, choice, label, mode);
  std::vector<std::string> patient;
  std::optional<_BP_TRANSPORT_INFO> plan;
  if (Present(doc, "plan")) plan = reader.Plan(doc["plan"], patient);
  std::optional<_SPO2_DATASET> spo2;
  if (Present(doc, "spo2")) spo2 = reader.SpO2(doc["spo2"]);

  Recording recording = RecordingFromDownload(set, plan ? &*plan : nullptr, spo2 ? &*spo2 : nullptr,
                                              reader.Device(doc));
  recording.source = name;
  recording.set_label = std::move(label);
  if (!PlanStartBounds(mode)) recording.plan_start.reset();
  recording.patient = std::move(patient);  // already UTF-8, unlike the device's own fields
  if (Present(doc, "complete")) {
    if (!doc["complete"].is_boolean()) reader.Fail("complete", "expected true or false, found " + doc["complete"].dump());
    if (!doc["complete"].get<bool>())
      recording.incomplete = Present(doc, "result") && doc["result"].is_string() && !doc["result"].get<std::string>().empty()
                                 ? doc["result"].get<std::string>()
                                 : "the download did not say why";
  }
  if (Present(doc, "downloaded_at")) recording.downloaded_at = reader.Time(doc["downloaded_at"], "downloaded_at");
  if (Present(doc, "day_night")) recording.plan = reader.DayNight(doc["day_night"]);
  // An export of an earlier bplink gave the archive's own patient number as
  // "id": not an identifier of the patient, so not read.
  if (Present(doc, "patient") && !(doc["patient"].is_object() && doc["patient"].contains("id") &&
                                   doc["patient"]["id"].is_number()))
    recording.subject = PatientFromJson(doc["patient"], name + ": patient");
  // What an archived study is kept with: the physician's inputs, the
  // signature and the previous study its report shows.
  if (Present(doc, "review")) recording.kept_review = ReviewFromJson(doc["review"], name + ": review");
  if (Present(doc, "signature")) recording.signature = SignatureFromJson(doc["signature"], name + ": signature");
  if (Present(doc, "previous")) recording.previous = PreviousStudyFromJson(doc["previous"], name + ": previous");
  return recording;
}

}  // namespace bplink::report
