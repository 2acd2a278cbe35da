// Time and text helpers of the reading model, and the choice of loader for a
// file.

#include <bplink/report/readings.h>

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace bplink::report {
namespace {

constexpr CalendarTime kOrigin{2000, 1, 1, 0, 0, 0};
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kUtf8TwoByteLead = 0xC0;
constexpr unsigned char kUtf8Continuation = 0x80;
constexpr unsigned char kLowSixBits = 0x3F;

// Reads exactly `width` digits at `pos`.
bool ReadDigits(std::string_view text, std::size_t pos, std::size_t width, int& value) {
  if (pos + width > text.size()) return false;
  for (std::size_t i = pos; i < pos + width; ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + pos + width, value);
  return ec == std::errc{} && end == text.data() + pos + width;
}

}  // namespace

std::optional<CalendarTime> ParseLocalTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM[:SS]
  constexpr std::size_t kWithoutSeconds = 16;
  constexpr std::size_t kWithSeconds = 19;
  if (text.size() != kWithoutSeconds && text.size() != kWithSeconds) return std::nullopt;
  CalendarTime t;
  if (!ReadDigits(text, 0, 4, t.year) || text[4] != '-' || !ReadDigits(text, 5, 2, t.month) ||
      text[7] != '-' || !ReadDigits(text, 8, 2, t.day) || (text[10] != 'T' && text[10] != ' ') ||
      !ReadDigits(text, 11, 2, t.hour) || text[13] != ':' || !ReadDigits(text, 14, 2, t.minute))
    return std::nullopt;
  if (text.size() == kWithSeconds && (text[16] != ':' || !ReadDigits(text, 17, 2, t.second)))
    return std::nullopt;
  if (!IsValidTime(t)) return std::nullopt;
  return t;
}

std::string FormatLocalTime(const CalendarTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

namespace {
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* MonthName(int month) { return month >= 1 && month <= 12 ? kMonths[month - 1] : "?"; }
}  // namespace

std::string FormatDate(const CalendarTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d %s %04d", t.day, MonthName(t.month), t.year);
  return buffer;
}

std::string FormatDayTime(const CalendarTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%d %s %02d:%02d", t.day, MonthName(t.month), t.hour, t.minute);
  return buffer;
}

std::string FormatDateTime(const CalendarTime& t) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, " %02d:%02d", t.hour, t.minute);
  return FormatDate(t) + buffer;
}

std::string FormatClock(int minutes_after_midnight) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d", minutes_after_midnight / kMinutesPerHour,
                minutes_after_midnight % kMinutesPerHour);
  return buffer;
}

int MachineUtcOffset(const CalendarTime& local) {
  std::tm fields{};
  fields.tm_year = local.year - 1900;
  fields.tm_mon = local.month - 1;
  fields.tm_mday = local.day;
  fields.tm_hour = local.hour;
  fields.tm_min = local.minute;
  fields.tm_sec = local.second;
  fields.tm_isdst = -1;  // let the zone's rules decide
  const std::time_t instant = std::mktime(&fields);
  if (instant == static_cast<std::time_t>(-1)) return 0;
  std::tm utc{};
#if defined(_WIN32)
  if (gmtime_s(&utc, &instant) != 0) return 0;
#else
  if (!gmtime_r(&instant, &utc)) return 0;
#endif
  const CalendarTime as_utc{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
  return static_cast<int>((SecondsOf(local) - SecondsOf(as_utc)) / kSecondsPerMinute);
}

std::optional<int> ParseUtcOffset(std::string_view text) {
  if (text == "Z" || text == "UTC") return 0;
  // +HH:MM or -HH:MM
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return std::nullopt;
  const auto t = ParseLocalTime("2000-01-01T" + std::string(text.substr(1)));
  if (!t || t->hour > 14) return std::nullopt;
  const int minutes = t->hour * kMinutesPerHour + t->minute;
  return text[0] == '-' ? -minutes : minutes;
}

std::string FormatUtcOffset(int minutes) {
  char zone[24];
  std::snprintf(zone, sizeof zone, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / kMinutesPerHour,
                std::abs(minutes) % kMinutesPerHour);
  return zone;
}

CalendarTime NowIn(const DeviceZone& zone) {
  const CalendarTime local = CurrentEnv()->LocalTime();
  if (!zone.offset) return local;
  const CalendarTime utc = AddMinutes(local, -MachineUtcOffset(local));
  return AddMinutes(utc, zone.offset(AddMinutes(utc, zone.offset(utc))));
}

std::int64_t SecondsOf(const CalendarTime& t) { return SecondsBetween(kOrigin, t); }

CalendarTime TimeOf(std::int64_t seconds) { return AddSeconds(kOrigin, seconds); }

std::string TextFromDevice(const char* field, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size && field[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(field[i]);
    if (byte < kFirstNonAscii) {
      text.push_back(static_cast<char>(byte));
    } else {
      text.push_back(static_cast<char>(kUtf8TwoByteLead | (byte >> 6)));
      text.push_back(static_cast<char>(kUtf8Continuation | (byte & kLowSixBits)));
    }
  }
  return text;
}

Recording LoadInputFile(const std::string& path, SetChoice set) {
  std::error_code ec;
  // A directory opens as a file on some systems and then reads as nothing.
  if (std::filesystem::is_directory(path, ec)) throw InputError(path + ": is a directory, not a file");
  std::ifstream file(path, std::ios::binary);
  if (!file) throw InputError(path + ": cannot open the file");
  std::stringstream content;
  content << file.rdbuf();
  const std::string text = content.str();
  const auto first = text.find_first_not_of(" \t\r\n" + std::string(kUtf8Bom));
  std::istringstream in(text);
  if (first != std::string::npos && text[first] == '{') return LoadDownloadJson(in, path, set);
  return LoadCsv(in, path, set);
}

std::string CheckPatient(const PatientInfo& p, const std::optional<CalendarTime>& today) {
  if (!p.birth_date.empty()) {
    const auto t = ParseLocalTime(p.birth_date + "T00:00");
    if (!t || p.birth_date.size() != 10) return "birth date '" + p.birth_date + "' is not a date YYYY-MM-DD like 1960-05-31";
    if (today && IsValidTime(*today) && SecondsOf(*t) > SecondsOf(*today))
      return "birth date '" + p.birth_date + "' is after today (" + FormatDate(*today) + ")";
  }
  if (!p.sex.empty() && p.sex != "female" && p.sex != "male" && p.sex != "other" && p.sex != "unknown")
    return "sex '" + p.sex + "' is not one of female, male, other, unknown";
  return {};
}

PatientInfo LoadPatientJson(std::istream& in, const std::string& name) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(in);
  } catch (const nlohmann::json::exception& e) {
    throw InputError(name + ": not valid JSON: " + e.what());
  }
  return PatientFromJson(doc, name);
}

PatientInfo PatientOver(PatientInfo base, const PatientInfo& over) {
  for (const auto& [from, to] : {std::pair(&over.name, &base.name), std::pair(&over.id, &base.id),
                                 std::pair(&over.system, &base.system), std::pair(&over.birth_date, &base.birth_date),
                                 std::pair(&over.sex, &base.sex)})
    if (!from->empty()) *to = *from;
  return base;
}

PatientInfo PatientFromJson(const nlohmann::json& doc, const std::string& name) {
  if (!doc.is_object()) throw InputError(name + ": expected a JSON object like {\"name\": \"...\", \"id\": \"...\"}");
  PatientInfo p;
  const std::pair<const char*, std::string*> members[] = {{"name", &p.name},
                                                          {"id", &p.id},
                                                          {"system", &p.system},
                                                          {"birth_date", &p.birth_date},
                                                          {"sex", &p.sex}};
  for (const auto& [key, field] : members) {
    if (!doc.contains(key) || doc[key].is_null()) continue;
    if (!doc[key].is_string()) throw InputError(name + ": " + key + ": expected a text, found " + doc[key].dump());
    *field = doc[key].get<std::string>();
  }
  if (const std::string problem = CheckPatient(p); !problem.empty()) throw InputError(name + ": " + problem);
  return p;
}

}  // namespace bplink::report
