// The physician's inputs: each value checked where it is set, the whole set
// as JSON and back, and applied to a recording.

#include <bplink/report/review.h>

#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace bplink::report {
namespace {

using nlohmann::json;

constexpr std::size_t kClockLength = 5;  // HH:MM

// "07:30" as minutes after midnight.
std::optional<int> ClockOf(std::string_view hhmm) {
  if (hhmm.size() != kClockLength) return std::nullopt;
  const auto t = ParseLocalTime("2000-01-01T" + std::string(hhmm));
  if (!t) return std::nullopt;
  return t->hour * kMinutesPerHour + t->minute;
}

// A whole number in all of `text`.
std::optional<int> WholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

[[noreturn]] void Refuse(const std::string& field, std::string_view text, const std::string& why) {
  throw InputError(field + " '" + std::string(text) + "': " + why);
}

// A time of day alone (HH:MM) or a whole local time.
struct ExclusionTime {
  std::optional<CalendarTime> at;  // date and time, when a date was given
  int minute_of_day = 0;           // when only a time of day was
  bool has_seconds = false;
};

std::optional<ExclusionTime> ParseExclusionTime(std::string_view text) {
  if (const auto minute = ClockOf(text)) return ExclusionTime{std::nullopt, *minute, false};
  const auto t = ParseLocalTime(text);
  if (!t) return std::nullopt;
  constexpr std::size_t kWithSeconds = 19;
  return ExclusionTime{t, 0, text.size() == kWithSeconds};
}

bool Matches(const ExclusionTime& e, const CalendarTime& t) {
  if (!e.at) return t.hour * kMinutesPerHour + t.minute == e.minute_of_day;
  const CalendarTime& a = *e.at;
  return a.year == t.year && a.month == t.month && a.day == t.day && a.hour == t.hour && a.minute == t.minute &&
         (!e.has_seconds || a.second == t.second);
}

const json* Member(const json& doc, const char* key) {
  return doc.contains(key) && !doc[key].is_null() ? &doc[key] : nullptr;
}

std::string Text(const json& value, const std::string& field) {
  if (!value.is_string()) throw InputError(field + ": expected a text, found " + value.dump());
  return value.get<std::string>();
}

}  // namespace

std::optional<ClockWindow> ParseNightWindow(std::string_view text) {
  if (text.size() != 2 * kClockLength + 1 || text[kClockLength] != '-') return std::nullopt;
  const auto night = ClockOf(text.substr(0, kClockLength));
  const auto day = ClockOf(text.substr(kClockLength + 1));
  if (!night || !day || *night == *day) return std::nullopt;
  return ClockWindow{*night, *day};
}

std::string FormatWindow(const ClockWindow& window) {
  return FormatClock(window.night_start) + "-" + FormatClock(window.day_start);
}

std::string OfficeProblem(const OfficeReading& office) {
  return EditingProblem(office.sys, office.dia);
}

std::string FormatClockOffset(int minutes) {
  char text[32];
  std::snprintf(text, sizeof text, "%c%d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / kMinutesPerHour,
                std::abs(minutes) % kMinutesPerHour);
  return text;
}

void SetSleep(ReviewInputs& inputs, std::string_view text, const std::string& field) {
  const auto window = ParseNightWindow(text);
  if (!window) Refuse(field, text, std::string("expected ") + kSleepForm);
  inputs.sleep = window;
}

void SetOffice(ReviewInputs& inputs, std::string_view text, const std::string& field) {
  const auto slash = text.find('/');
  const auto sys = WholeNumber(text.substr(0, slash));
  const auto dia = slash == std::string_view::npos ? std::nullopt : WholeNumber(text.substr(slash + 1));
  if (!sys || !dia) Refuse(field, text, std::string("expected ") + kOfficeForm);
  const OfficeReading office{*sys, *dia};
  if (const std::string problem = OfficeProblem(office); !problem.empty())
    Refuse(field, text, problem + "; expected " + kOfficeForm);
  inputs.office = office;
}

void SetClockOffset(ReviewInputs& inputs, std::string_view text, const std::string& field) {
  const auto colon = text.find(':');
  const bool sign = !text.empty() && (text[0] == '+' || text[0] == '-');
  const auto hours = colon == std::string_view::npos ? std::nullopt : WholeNumber(text.substr(sign, colon - sign));
  const auto minutes = colon == std::string_view::npos ? std::nullopt : WholeNumber(text.substr(colon + 1));
  if (!hours || !minutes || *hours < 0 || *minutes < 0 || *minutes >= kMinutesPerHour ||
      text.size() - colon - 1 != 2 || *hours > kMaxClockOffsetMinutes / kMinutesPerHour)
    Refuse(field, text, std::string("expected ") + kClockOffsetForm);
  const int total = *hours * kMinutesPerHour + *minutes;
  inputs.clock_offset_minutes = text[0] == '-' ? -total : total;
}

void AddExclusion(ReviewInputs& inputs, std::string_view time, std::string_view reason, const std::string& field) {
  if (!ParseExclusionTime(time)) Refuse(field, time, std::string("expected ") + kExclusionForm);
  const auto blank = reason.find_first_not_of(" \t");
  if (blank == std::string_view::npos)
    Refuse(field, time, "give the reason the reading is left out (--reason TEXT, one for each --exclude)");
  for (const HandExclusion& e : inputs.exclusions)
    if (e.time == time) Refuse(field, time, "the same reading is excluded twice");
  inputs.exclusions.push_back({std::string(time), std::string(reason)});
}

json ReviewToJson(const ReviewInputs& inputs) {
  json doc = json::object();
  if (inputs.sleep) doc["sleep"] = FormatWindow(*inputs.sleep);
  if (!inputs.exclusions.empty()) {
    doc["exclusions"] = json::array();
    for (const HandExclusion& e : inputs.exclusions) doc["exclusions"].push_back({{"time", e.time}, {"reason", e.reason}});
  }
  if (inputs.office) doc["office"] = std::to_string(inputs.office->sys) + "/" + std::to_string(inputs.office->dia);
  if (inputs.clock_offset_minutes != 0) doc["clock_offset"] = FormatClockOffset(inputs.clock_offset_minutes);
  for (const auto& [key, text] : {std::pair("indication", &inputs.indication), std::pair("medication", &inputs.medication),
                                  std::pair("referring_physician", &inputs.referring_physician)})
    if (!text->empty()) doc[key] = *text;
  return doc;
}

ReviewInputs ReviewFromJson(const json& doc, const std::string& name) {
  if (!doc.is_object())
    throw InputError(name + ": expected a JSON object like {\"sleep\": \"23:00-06:30\", \"office\": \"150/95\"}");
  ReviewInputs inputs;
  const std::string at = name + ": ";
  if (const json* v = Member(doc, "sleep")) SetSleep(inputs, Text(*v, at + "sleep"), at + "sleep");
  if (const json* v = Member(doc, "office")) SetOffice(inputs, Text(*v, at + "office"), at + "office");
  if (const json* v = Member(doc, "clock_offset"))
    SetClockOffset(inputs, Text(*v, at + "clock_offset"), at + "clock_offset");
  if (const json* v = Member(doc, "exclusions")) {
    if (!v->is_array()) throw InputError(at + "exclusions: expected an array of {\"time\", \"reason\"}");
    for (std::size_t i = 0; i < v->size(); ++i) {
      const std::string field = at + "exclusions[" + std::to_string(i) + "]";
      const json& e = (*v)[i];
      if (!e.is_object() || !Member(e, "time") || !Member(e, "reason"))
        throw InputError(field + ": expected {\"time\": \"2024-03-04T12:00\", \"reason\": \"...\"}");
      AddExclusion(inputs, Text(e["time"], field + ".time"), Text(e["reason"], field + ".reason"), field);
    }
  }
  for (const auto& [key, text] : {std::pair("indication", &inputs.indication), std::pair("medication", &inputs.medication),
                                  std::pair("referring_physician", &inputs.referring_physician)})
    if (const json* v = Member(doc, key)) *text = Text(*v, at + key);
  return inputs;
}

namespace {

// The one reading of `recording` an exclusion's time names, its times moved
// by `offset` minutes as the page shows them. Throws InputError naming
// `field` where none or several do.
std::size_t ReadingAt(const Recording& recording, const std::string& time, int offset, const std::string& field) {
  const auto moved = [offset](const CalendarTime& t) { return IsValidTime(t) ? AddMinutes(t, offset) : t; };
  const auto when = ParseExclusionTime(time);
  if (!when) throw InputError(field + ": expected " + kExclusionForm);
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < recording.readings.size(); ++i)
    if (IsValidTime(recording.readings[i].time) && Matches(*when, moved(recording.readings[i].time)))
      found.push_back(i);
  if (found.empty()) {
    std::optional<std::int64_t> first, last;
    for (const Reading& r : recording.readings) {
      if (!IsValidTime(r.time)) continue;
      const std::int64_t t = SecondsOf(moved(r.time));
      first = std::min(first.value_or(t), t);
      last = std::max(last.value_or(t), t);
    }
    std::string message = field + ": the recording holds no reading at that time";
    if (first)
      message.append(" (its readings run ").append(FormatDateTime(TimeOf(*first))).append(" to ")
          .append(FormatDateTime(TimeOf(*last))).append(")");
    throw InputError(message.append("; expected ").append(kExclusionForm));
  }
  if (found.size() > 1)
    throw InputError(field + ": " + std::to_string(found.size()) +
                     " readings have that time of day; give the date as well, like " +
                     FormatLocalTime(moved(recording.readings[found[0]].time)).substr(0, 16));
  return found[0];
}

}  // namespace

void ApplyReview(Recording& recording, const ReviewInputs& inputs) {
  // Every check first, on the times as the page will show them, so that a
  // refusal leaves the recording as it was.
  std::vector<std::size_t> marked;
  for (const HandExclusion& e : inputs.exclusions) {
    const std::string field = "--exclude '" + e.time + "'";
    const std::size_t at = ReadingAt(recording, e.time, inputs.clock_offset_minutes, field);
    if (std::find(marked.begin(), marked.end(), at) != marked.end())
      throw InputError(field + ": that reading is excluded twice");
    marked.push_back(at);
  }
  if (inputs.office)
    if (const std::string problem = OfficeProblem(*inputs.office); !problem.empty())
      throw InputError("--office: " + problem + "; expected " + kOfficeForm);
  if (std::abs(inputs.clock_offset_minutes) > kMaxClockOffsetMinutes)
    throw InputError(std::string("--clock-offset: too large; expected ") + kClockOffsetForm);

  const auto moved = [&inputs](const CalendarTime& t) {
    return IsValidTime(t) ? AddMinutes(t, inputs.clock_offset_minutes) : t;
  };
  for (Reading& r : recording.readings) r.time = moved(r.time);
  for (SpO2Sample& s : recording.spo2) s.time = moved(s.time);
  for (std::size_t i = 0; i < marked.size(); ++i) recording.readings[marked[i]].hand_excluded = inputs.exclusions[i].reason;
  recording.review = inputs;
}

void TakeBackExclusion(ReviewInputs& inputs, const Recording& recording, std::string_view time,
                       const std::string& field) {
  const std::string given(time);
  const std::size_t reading = ReadingAt(recording, given, inputs.clock_offset_minutes, field + " '" + given + "'");
  for (auto e = inputs.exclusions.begin(); e != inputs.exclusions.end(); ++e) {
    // An exclusion that no longer names a reading cannot be the one meant.
    std::size_t named = 0;
    try {
      named = ReadingAt(recording, e->time, inputs.clock_offset_minutes, field);
    } catch (const InputError&) {
      continue;
    }
    if (named == reading) {
      inputs.exclusions.erase(e);
      return;
    }
  }
  std::string excluded;
  for (const HandExclusion& e : inputs.exclusions) excluded += (excluded.empty() ? "" : ", ") + e.time;
  throw InputError(field + " '" + given + "': that reading is not excluded by hand" +
                   (excluded.empty() ? std::string("; none is") : "; excluded by hand: " + excluded));
}

ReviewInputs ReviewOver(ReviewInputs base, const ReviewInputs& over) {
  if (over.sleep) base.sleep = over.sleep;
  if (over.office) base.office = over.office;
  if (over.clock_offset_minutes != 0) base.clock_offset_minutes = over.clock_offset_minutes;
  for (const auto& [to, from] : {std::pair(&base.indication, &over.indication), std::pair(&base.medication, &over.medication),
                                 std::pair(&base.referring_physician, &over.referring_physician)})
    if (!from->empty()) *to = *from;
  for (const HandExclusion& e : over.exclusions) {
    const auto same = std::find_if(base.exclusions.begin(), base.exclusions.end(),
                                   [&e](const HandExclusion& b) { return b.time == e.time; });
    if (same != base.exclusions.end()) same->reason = e.reason;
    else base.exclusions.push_back(e);
  }
  return base;
}

const char* SignedStatus(const SignedVersion& version) { return version.version > 1 ? "amended" : "final"; }

json SignatureToJson(const Signature& signature) {
  json versions = json::array();
  for (std::size_t i = 0; i < signature.versions.size(); ++i) {
    const SignedVersion& v = signature.versions[i];
    versions.push_back({{"version", v.version},
                        {"status", SignedStatus(v)},
                        {"superseded", i + 1 < signature.versions.size() || signature.amending},
                        {"interpretation", v.interpretation},
                        {"signer", v.signer},
                        {"db_role", v.db_role},
                        {"station", v.station},
                        {"signed_at", FormatLocalTime(v.signed_at)},
                        {"hash", v.hash}});
  }
  return {{"amending", signature.amending}, {"versions", versions}};
}

Signature SignatureFromJson(const json& doc, const std::string& name) {
  const std::string at = name + ": ";
  if (!doc.is_object() || !Member(doc, "versions") || !doc["versions"].is_array())
    throw InputError(at + "expected {\"amending\": false, \"versions\": [...]}");
  Signature signature;
  if (const json* v = Member(doc, "amending")) {
    if (!v->is_boolean()) throw InputError(at + "amending: expected true or false, found " + v->dump());
    signature.amending = v->get<bool>();
  }
  for (std::size_t i = 0; i < doc["versions"].size(); ++i) {
    const std::string field = at + "versions[" + std::to_string(i) + "]";
    const json& v = doc["versions"][i];
    if (!v.is_object() || !Member(v, "version") || !v["version"].is_number_integer() || v["version"].get<int>() < 1)
      throw InputError(field + ": expected {\"version\": 1, ...}, the version a whole number from 1");
    SignedVersion version;
    version.version = v["version"].get<int>();
    for (const auto& [key, text] : {std::pair("interpretation", &version.interpretation), std::pair("signer", &version.signer),
                                    std::pair("db_role", &version.db_role), std::pair("station", &version.station),
                                    std::pair("hash", &version.hash)})
      if (const json* member = Member(v, key)) *text = Text(*member, field + "." + key);
    const json* when = Member(v, "signed_at");
    const auto signed_at = when ? ParseLocalTime(Text(*when, field + ".signed_at")) : std::nullopt;
    if (!signed_at) throw InputError(field + ".signed_at: expected a local time like \"2024-03-05T10:15:00\"");
    version.signed_at = *signed_at;
    signature.versions.push_back(std::move(version));
  }
  return signature;
}

}  // namespace bplink::report
