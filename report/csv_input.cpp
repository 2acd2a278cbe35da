// Readings from a CSV file: a header naming the columns, then one reading a
// line. Every error names the line, and the column where one is at fault, so
// a person can find it in the file.

#include <bplink/report/readings.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <istream>

namespace bplink::report {
namespace {

enum Column {
  kTime, kSys, kDia, kMap, kPulse, kAwake, kSet, kSpO2, kValid, kReason,
  // The patient, on every row of a recording exported from the archive.
  kPatientId, kPatientSystem, kPatientName, kBirthDate, kSex,
  kColumnCount
};

constexpr std::array<std::string_view, kColumnCount> kColumnNames = {
    "time",       "sys",   "dia",   "map",    "pulse",          "awake",        "set", "spo2",
    "valid",      "reason", "patient id", "patient system", "patient name", "birth date", "sex"};
constexpr std::array<Column, 3> kRequired = {kTime, kSys, kDia};
// The names the program's own CSV gives some columns, units stripped.
constexpr std::array<std::pair<std::string_view, Column>, 2> kLongNames = {{{"systolic", kSys}, {"diastolic", kDia}}};
// The set of the rows that are oximetry samples.
constexpr std::string_view kSpO2Set = "spo2";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  s = s.substr(first, last - first + 1);
  // A field a spreadsheet quoted; none of ours can hold a comma or a quote.
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (true) {
    const auto comma = line.find(',', start);
    fields.push_back(Trim(line.substr(start, comma - start)));
    if (comma == std::string_view::npos) return fields;
    start = comma + 1;
  }
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A field or name in single quotes, for a message. Built in one buffer: the
// quote prepended to a temporary ("'" + std::string(x) + "'") is what GCC 12
// at -O3 misreads as an overlapping copy (a -Wrestrict false positive).
std::string Quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}

class CsvReader {
 public:
  explicit CsvReader(const std::string& name) : name_(name) {}

  int header_line() const { return header_line_; }

  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw InputError(name_ + ": line " + std::to_string(line) + ": " + what);
  }
  [[noreturn]] void FailColumn(int line, Column column, const std::string& what) const {
    Fail(line, "column " + Quoted(kColumnNames[column]) + ": " + what);
  }

  bool Has(Column column) const { return index_[column] >= 0; }
  std::string_view Field(const std::vector<std::string_view>& fields, Column column) const {
    return Has(column) ? fields[index_[column]] : std::string_view();
  }

  void ReadHeader(int line, std::string_view text) {
    header_line_ = line;
    const auto fields = SplitFields(text);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      std::string name = Lower(fields[i]);
      // "pulse (bpm)": the unit is for people.
      if (const auto unit = name.find(" ("); unit != std::string::npos && name.back() == ')') name.resize(unit);
      Column column = kColumnCount;
      for (int c = 0; c < kColumnCount; ++c)
        if (name == kColumnNames[c]) column = static_cast<Column>(c);
      for (const auto& [long_name, c] : kLongNames)
        if (name == long_name) column = c;
      if (column == kColumnCount)
        Fail(line, "unknown column " + Quoted(fields[i]) + " (column " + std::to_string(i + 1) +
                       "); the columns are time, sys, dia and optionally map, pulse, awake (and set, spo2, "
                       "valid, reason as download writes them, and patient id, patient system, patient name, "
                       "birth date, sex as export adds them)");
      if (index_[column] >= 0)
        Fail(line, "column " + Quoted(name) + " appears twice");
      index_[column] = static_cast<int>(i);
    }
    for (Column column : kRequired)
      if (index_[column] < 0)
        Fail(line, "missing column " + Quoted(kColumnNames[column]) +
                       "; the header must name at least time, sys, dia");
    field_count_ = fields.size();
  }

  std::vector<std::string_view> Fields(int line, std::string_view text) const {
    auto fields = SplitFields(text);
    if (fields.size() != field_count_)
      Fail(line, std::to_string(fields.size()) + " fields where the header has " +
                     std::to_string(field_count_));
    return fields;
  }

  static bool IsSpO2Row(std::string_view set) { return Lower(set) == kSpO2Set; }

  // The patient columns of a row; each member the row leaves empty is kept from `p`.
  void ReadPatient(const std::vector<std::string_view>& fields, PatientInfo& p) const {
    const std::pair<Column, std::string*> members[] = {{kPatientId, &p.id},
                                                       {kPatientSystem, &p.system},
                                                       {kPatientName, &p.name},
                                                       {kBirthDate, &p.birth_date},
                                                       {kSex, &p.sex}};
    for (const auto& [column, member] : members)
      if (!Field(fields, column).empty()) *member = std::string(Field(fields, column));
  }

  CalendarTime Time(int line, const std::vector<std::string_view>& fields) const {
    const auto text = Field(fields, kTime);
    const auto time = ParseLocalTime(text);
    if (!time) FailColumn(line, kTime, Quoted(text) + " is not a local time like 2024-03-01T08:30:00");
    return *time;
  }

  Reading ReadLine(int line, const std::vector<std::string_view>& fields) const {
    Reading r;
    r.time = Time(line, fields);
    if (Has(kValid)) {
      const std::string valid = Lower(Field(fields, kValid));
      if (valid != "yes" && valid != "no" && valid != "1" && valid != "0")
        FailColumn(line, kValid, Quoted(Field(fields, kValid)) + " is neither yes nor no");
      r.device_valid = valid == "yes" || valid == "1";
      r.invalid_reason = r.device_valid ? "" : std::string(Field(fields, kReason));
    }
    // A reading left out may have no values: the device measured none.
    r.sys = Number(line, kSys, fields, r.device_valid).value_or(0);
    r.dia = Number(line, kDia, fields, r.device_valid).value_or(0);
    r.map = Number(line, kMap, fields, false);
    r.pulse = Number(line, kPulse, fields, false);
    if (Has(kAwake)) {
      const auto awake = Field(fields, kAwake);
      if (awake != "0" && awake != "1")
        FailColumn(line, kAwake, Quoted(awake) + " is neither 1 (awake) nor 0 (asleep)");
      r.awake = awake == "1";
    }
    return r;
  }

  SpO2Sample ReadSample(int line, const std::vector<std::string_view>& fields) const {
    const auto whole = [&](Column column, bool required, double high) {
      const auto value = Number(line, column, fields, required).value_or(0);
      if (value < 0 || value > high || value != static_cast<int>(value))
        FailColumn(line, column, Quoted(Field(fields, column)) + " is not a whole number from 0 to " +
                                     std::to_string(static_cast<int>(high)));
      return static_cast<int>(value);
    };
    constexpr double kMaxPercent = 100, kMaxPulse = 255;
    if (!Has(kSpO2)) Fail(line, "an SpO2 row, but the header has no column 'spo2'");
    return {Time(line, fields), whole(kSpO2, true, kMaxPercent), whole(kPulse, false, kMaxPulse)};
  }

 private:
  std::optional<double> Number(int line, Column column, const std::vector<std::string_view>& fields,
                               bool required) const {
    if (!Has(column)) return std::nullopt;
    const auto text = fields[index_[column]];
    if (text.empty()) {
      if (required) FailColumn(line, column, "empty");
      return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value))
      FailColumn(line, column, Quoted(text) + " is not a number");
    return value;
  }

  std::string name_;
  std::array<int, kColumnCount> index_ = [] {
    std::array<int, kColumnCount> none{};
    none.fill(-1);
    return none;
  }();
  std::size_t field_count_ = 0;
  int header_line_ = 0;
};

}  // namespace

Recording LoadCsv(std::istream& in, const std::string& name, SetChoice set) {
  CsvReader reader(name);
  Recording recording;
  recording.source = name;
  // The readings of each set, in the order the sets first appear.
  std::vector<std::pair<std::string, std::vector<Reading>>> sets;
  std::string text;
  int line = 0;
  bool have_header = false;
  while (std::getline(in, text)) {
    ++line;
    std::string_view view = text;
    if (line == 1 && view.starts_with(kUtf8Bom)) view.remove_prefix(kUtf8Bom.size());
    if (Trim(view).empty()) continue;
    if (!have_header) {
      reader.ReadHeader(line, view);
      have_header = true;
      continue;
    }
    const auto fields = reader.Fields(line, view);
    reader.ReadPatient(fields, recording.subject);
    const std::string set_name(reader.Field(fields, kSet));
    if (reader.Has(kSet) && CsvReader::IsSpO2Row(set_name)) {
      recording.spo2.push_back(reader.ReadSample(line, fields));
      continue;
    }
    auto same = std::find_if(sets.begin(), sets.end(), [&](const auto& s) { return s.first == set_name; });
    if (same == sets.end()) same = sets.insert(sets.end(), {set_name, {}});
    same->second.push_back(reader.ReadLine(line, fields));
  }
  if (!have_header)
    throw InputError(name + ": empty file; expected the header time,sys,dia on line 1");
  if (sets.empty())
    throw InputError(name + ": no readings: nothing follows the header on line " +
                     std::to_string(reader.header_line()));
  const auto count = static_cast<int>(sets.size());
  if (set && (*set < 1 || *set > count))
    throw InputError(name + ": --set " + std::to_string(*set) + ": the file has " +
                     (count == 1 ? std::string("one set of readings") : "sets 1 to " + std::to_string(count)));
  if (const std::string problem = CheckPatient(recording.subject); !problem.empty())
    throw InputError(name + ": " + problem);
  const int chosen = set.value_or(1);
  recording.readings = std::move(sets[chosen - 1].second);
  recording.set_label = count == 1 ? std::string("the file's readings")
                                   : "set " + std::to_string(chosen) + " of " + std::to_string(count) +
                                         (set ? ", as asked" : ", the first");
  return recording;
}

}  // namespace bplink::report
