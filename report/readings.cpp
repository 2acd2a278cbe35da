// Time and text helpers of the reading model, and the choice of loader for a
// file.

#include <bplink/report/readings.h>

#include <charconv>
#include <cstdio>
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

std::string FormatClock(int minutes_after_midnight) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d", minutes_after_midnight / kMinutesPerHour,
                minutes_after_midnight % kMinutesPerHour);
  return buffer;
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

Recording LoadInputFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw InputError(path + ": cannot open the file");
  std::stringstream content;
  content << file.rdbuf();
  const std::string text = content.str();
  const auto first = text.find_first_not_of(" \t\r\n" + std::string(kUtf8Bom));
  std::istringstream in(text);
  if (first != std::string::npos && text[first] == '{') return LoadDownloadJson(in, path);
  return LoadCsv(in, path);
}

}  // namespace bplink::report
