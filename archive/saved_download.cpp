// Reading a saved download back into the library's records: every raw field
// the archive keeps, since a reading is known by them.

#include <bplink/archive/saved_download.h>

#include <bplink/families.h>
#include <bplink/plan/plan_file.h>

#include <nlohmann/json.hpp>

#include <climits>

namespace bplink::archive {
namespace {

using nlohmann::json;

class Reader {
 public:
  explicit Reader(const std::string& name) : name_(name) {}

  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    throw ArchiveError(name_ + ": " + path + ": " + what);
  }

  const json& Member(const json& object, const std::string& path, const char* key) const {
    if (!object.is_object() || !object.contains(key)) Fail(path, std::string("missing member '") + key + "'");
    return object[key];
  }

  long long Integer(const json& object, const std::string& path, const char* key, long long low, long long high,
                    std::optional<long long> fallback = std::nullopt) const {
    if (fallback && (!object.contains(key) || object[key].is_null())) return *fallback;
    const json& value = Member(object, path, key);
    const std::string at = path + "." + key;
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    if (!value.is_number_integer()) Fail(at, "expected an integer, found " + value.dump());
    const auto n = value.get<long long>();
    if (n < low || n > high) Fail(at, value.dump() + " is outside " + std::to_string(low) + ".." + std::to_string(high));
    return n;
  }

  // A time, or all zero where the device gave none (null).
  CalendarTime Time(const json& value, const std::string& path) const {
    if (value.is_null()) return {};
    if (value.is_string())
      if (const auto t = report::ParseLocalTime(value.get<std::string>())) return *t;
    Fail(path, "expected a local time like \"2024-03-01T08:30:00\" or null, found " + value.dump());
  }

  _BP_RECORD Record(const json& r, const std::string& path) const {
    _BP_RECORD record;
    const CalendarTime t = Time(Member(r, path, "time"), path + ".time");
    record.nYear = t.year;
    record.wMonth = static_cast<short>(t.month), record.wDay = static_cast<short>(t.day);
    record.wHour = static_cast<short>(t.hour), record.wMinute = static_cast<short>(t.minute);
    record.wSecond = static_cast<short>(t.second);
    const auto small = [&](const char* key) {
      return static_cast<short>(Integer(r, path, key, SHRT_MIN, SHRT_MAX, 0));
    };
    record.nSys = static_cast<int>(Integer(r, path, "sys", INT_MIN, INT_MAX));
    record.wPress2 = static_cast<short>(Integer(r, path, "press2", SHRT_MIN, SHRT_MAX));
    record.wPress3 = static_cast<short>(Integer(r, path, "press3", SHRT_MIN, SHRT_MAX));
    record.wPulseRate = small("pulse");
    record.bValid = static_cast<int>(Integer(r, path, "valid", INT_MIN, INT_MAX, 1));
    record.wStatus = small("status");
    record.byFlagsLow = static_cast<BYTE>(Integer(r, path, "flags_low", 0, UCHAR_MAX, 0));
    record.wFlagsHigh = small("flags_high");
    record.wAux1 = small("aux1");
    record.wAux2 = small("aux2");
    record.nAux3 = static_cast<int>(Integer(r, path, "aux3", INT_MIN, INT_MAX, 0));
    record.nMinuteOffset = static_cast<int>(Integer(r, path, "minute_offset", INT_MIN, INT_MAX, 0));
    return record;
  }

  void Head(const json& set, const std::string& path, _DATA_HEAD& head, std::size_t count) const {
    head.nCount = static_cast<int>(count);
    if (!set.contains("head") || !set["head"].is_object() || !set["head"].contains("start")) return;
    const CalendarTime start = Time(set["head"]["start"], path + ".head.start");
    head.nYear = start.year, head.nMonth = start.month, head.nDay = start.day;
    head.nHour = start.hour, head.nMinute = start.minute, head.nSecond = start.second;
  }

 private:
  std::string name_;
};

}  // namespace

SavedDownload ReadSavedDownload(std::istream& in, const std::string& name) {
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::exception& e) {
    throw ArchiveError(name + ": not valid JSON: " + e.what());
  }
  const Reader reader(name);
  if (!doc.is_object()) reader.Fail("(top level)", "expected a saved download, a JSON object");
  SavedDownload saved;
  const json& device = reader.Member(doc, "(top level)", "device");
  saved.device.nDeviceType = static_cast<int>(reader.Integer(device, "device", "device_type", INT_MIN, INT_MAX));
  saved.device.nProtocol = static_cast<int>(reader.Integer(device, "device", "protocol", INT_MIN, INT_MAX));
  saved.device.nVariant = static_cast<int>(reader.Integer(device, "device", "variant", INT_MIN, INT_MAX, 0));
  saved.device.nVersion = static_cast<int>(reader.Integer(device, "device", "version", INT_MIN, INT_MAX, 0));
  const Family* family = FamilyForProtocol(saved.device.nProtocol);
  if (!family)
    reader.Fail("device.protocol", "no device family speaks protocol " + std::to_string(saved.device.nProtocol));
  saved.family = family->name;

  if (doc.contains("plan") && !doc["plan"].is_null()) {
    saved.plan_json = doc["plan"].dump(-1, ' ', false, json::error_handler_t::replace);
    try {
      saved.plan = plan::ReadPlanText(saved.plan_json, name + ": plan");
    } catch (const plan::PlanError& e) {
      throw ArchiveError(e.what());
    }
    // When the plan went to the device, which a plan file does not hold: a
    // reading dated earlier is not of this recording.
    if (doc["plan"].contains("start") && !doc["plan"]["start"].is_null()) {
      const CalendarTime start = reader.Time(doc["plan"]["start"], "plan.start");
      saved.plan->nYear = start.year, saved.plan->nMonth = start.month, saved.plan->nDay = start.day;
      saved.plan->nHour = start.hour, saved.plan->nMinute = start.minute, saved.plan->nSecond = start.second;
    }
  }
  const json& sets = reader.Member(doc, "(top level)", "sets");
  if (!sets.is_array()) reader.Fail("sets", "expected an array of data sets");
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const std::string path = "sets[" + std::to_string(i) + "]";
    const int mode = static_cast<int>(reader.Integer(sets[i], path, "mode", 1, kDataModeCount - 1));
    const json& records = reader.Member(sets[i], path, "records");
    if (!records.is_array()) reader.Fail(path + ".records", "expected an array of records");
    _BP_DATASET set;
    for (std::size_t j = 0; j < records.size(); ++j)
      set.vecRecords.push_back(reader.Record(records[j], path + ".records[" + std::to_string(j) + "]"));
    reader.Head(sets[i], path, set.Head, set.vecRecords.size());
    saved.sets.emplace_back(mode, std::move(set));
  }
  if (doc.contains("spo2") && !doc["spo2"].is_null()) {
    const json& records = reader.Member(doc["spo2"], "spo2", "records");
    if (!records.is_array()) reader.Fail("spo2.records", "expected an array of samples");
    _SPO2_DATASET spo2;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const std::string path = "spo2.records[" + std::to_string(i) + "]";
      _SPO2_RECORD sample;
      sample.bySpO2 = static_cast<BYTE>(reader.Integer(records[i], path, "spo2", 0, UCHAR_MAX));
      sample.byPulseRate = static_cast<BYTE>(reader.Integer(records[i], path, "pulse", 0, UCHAR_MAX, 0));
      sample.nTimeOffset = static_cast<int>(reader.Integer(records[i], path, "offset", INT_MIN, INT_MAX));
      spo2.vecRecords.push_back(sample);
    }
    reader.Head(doc["spo2"], "spo2", spo2.Head, spo2.vecRecords.size());
    saved.spo2 = std::move(spo2);
  }
  if (doc.contains("complete") && doc["complete"].is_boolean()) saved.complete = doc["complete"].get<bool>();
  if (doc.contains("downloaded_at") && !doc["downloaded_at"].is_null())
    saved.downloaded_at = reader.Time(doc["downloaded_at"], "downloaded_at");
  return saved;
}

Download SavedDownload::AsDownload(const std::string& device_label, const std::string& patient_label) const {
  Download d;
  d.family = family;
  d.device = device;
  d.device_label = device_label;
  d.plan = plan ? &*plan : nullptr;
  d.plan_json = plan_json;
  for (const auto& [mode, set] : sets) d.sets.push_back({mode, &set});
  d.spo2 = spo2 ? &*spo2 : nullptr;
  d.complete = complete;
  d.patient_label = patient_label;
  d.downloaded_at = downloaded_at.value_or(CalendarTime{});
  return d;
}

}  // namespace bplink::archive
