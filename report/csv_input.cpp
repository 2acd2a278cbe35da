// Readings from a CSV file: a header naming the columns, then one reading a
// line. Every error names the line, and the column where one is at fault, so
// a person can find it in the file.

#include <bplink/report/readings.h>

#include <array>
#include <charconv>
#include <cmath>
#include <istream>

namespace bplink::report {
namespace {

enum Column { kTime, kSys, kDia, kMap, kPulse, kAwake, kColumnCount };

constexpr std::array<std::string_view, kColumnCount> kColumnNames = {"time", "sys", "dia",
                                                                     "map", "pulse", "awake"};
constexpr std::array<Column, 3> kRequired = {kTime, kSys, kDia};

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

  void ReadHeader(int line, std::string_view text) {
    header_line_ = line;
    const auto fields = SplitFields(text);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string name = Lower(fields[i]);
      Column column = kColumnCount;
      for (int c = 0; c < kColumnCount; ++c)
        if (name == kColumnNames[c]) column = static_cast<Column>(c);
      if (column == kColumnCount)
        Fail(line, "unknown column " + Quoted(fields[i]) + " (column " + std::to_string(i + 1) +
                       "); the columns are time, sys, dia and optionally map, pulse, awake");
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

  Reading ReadLine(int line, std::string_view text) const {
    const auto fields = SplitFields(text);
    if (fields.size() != field_count_)
      Fail(line, std::to_string(fields.size()) + " fields where the header has " +
                     std::to_string(field_count_));
    Reading r;
    const auto time_text = fields[index_[kTime]];
    const auto time = ParseLocalTime(time_text);
    if (!time)
      FailColumn(line, kTime, Quoted(time_text) + " is not a local time like 2024-03-01T08:30:00");
    r.time = *time;
    r.sys = *Number(line, kSys, fields, true);
    r.dia = *Number(line, kDia, fields, true);
    r.map = Number(line, kMap, fields, false);
    r.pulse = Number(line, kPulse, fields, false);
    if (index_[kAwake] >= 0) {
      const auto awake = fields[index_[kAwake]];
      if (awake != "0" && awake != "1")
        FailColumn(line, kAwake, Quoted(awake) + " is neither 1 (awake) nor 0 (asleep)");
      r.awake = awake == "1";
    }
    return r;
  }

 private:
  std::optional<double> Number(int line, Column column, const std::vector<std::string_view>& fields,
                               bool required) const {
    if (index_[column] < 0) return std::nullopt;
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
  std::array<int, kColumnCount> index_ = {-1, -1, -1, -1, -1, -1};
  std::size_t field_count_ = 0;
  int header_line_ = 0;
};

}  // namespace

Recording LoadCsv(std::istream& in, const std::string& name) {
  CsvReader reader(name);
  Recording recording;
  recording.source = name;
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
    recording.readings.push_back(reader.ReadLine(line, view));
  }
  if (!have_header)
    throw InputError(name + ": empty file; expected the header time,sys,dia on line 1");
  if (recording.readings.empty())
    throw InputError(name + ": no readings: nothing follows the header on line " +
                     std::to_string(reader.header_line()));
  return recording;
}

}  // namespace bplink::report
