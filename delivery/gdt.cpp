// GDT 2.1 records. Field ids used here:
//   8000 record type        8100 record length (5 digits, bytes of the whole record)
//   8315 receiver's GDT id  8316 sender's GDT id   9206 character set   9218 GDT version
//   3000 patient number     3101 family name       3102 given name
//   3103 birth date (DDMMYYYY)  3110 sex (1 male, 2 female)
//   8402 device and procedure code
//   6200 date of the study (DDMMYYYY)  6201 its time (HHMMSS)
//   8410 test id  8411 test name  8420 result value  8421 unit  8480 result text
//   6220 findings (one line each)  6227 comment  6228 a line of the result table

#include <bplink/delivery/gdt.h>

#include "summary.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

namespace bplink::delivery {
namespace {

constexpr const char* kResultRecord = "6310";
constexpr const char* kRequestRecord = "6302";
constexpr const char* kGdtVersion = "02.10";
constexpr std::size_t kLengthDigits = 3, kFieldDigits = 4, kLineEnd = 2;  // "lll" "ffff" ... CR LF
constexpr std::size_t kLineOverhead = kLengthDigits + kFieldDigits + kLineEnd;
constexpr std::size_t kMaxLine = 999;
constexpr std::size_t kRecordLengthLine = kLineOverhead + 5;  // 8100 and five digits
constexpr std::size_t kTextWidth = 60;  // findings and table lines as practice systems show them

// The upper half of code page 437 as far as letters and signs go; box
// drawing and the like have no place in a patient's data.
constexpr std::array<char32_t, 0x30> kIbm437Upper = {
    U'Ç', U'ü', U'é', U'â', U'ä', U'à', U'å', U'ç', U'ê', U'ë', U'è', U'ï', U'î', U'ì', U'Ä', U'Å',
    U'É', U'æ', U'Æ', U'ô', U'ö', U'ò', U'û', U'ù', U'ÿ', U'Ö', U'Ü', U'¢', U'£', U'¥', U'₧', U'ƒ',
    U'á', U'í', U'ó', U'ú', U'ñ', U'Ñ', U'ª', U'º', U'¿', U'⌐', U'¬', U'½', U'¼', U'¡', U'«', U'»'};
constexpr unsigned char kIbm437SharpS = 0xE1;
// 7-bit German: these ASCII places hold the umlauts, sharp s and section sign.
constexpr std::array<std::pair<char, char32_t>, 8> kSevenBitGerman = {
    {{'[', U'Ä'}, {'\\', U'Ö'}, {']', U'Ü'}, {'{', U'ä'}, {'|', U'ö'}, {'}', U'ü'}, {'~', U'ß'}, {'@', U'§'}}};

std::vector<char32_t> DecodeUtf8(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
      out.push_back(U'?');
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// One character in the record's character set; '?' where it has none. Line
// ends and other control characters never reach a record.
char Encode(char32_t cp, GdtCharset charset) {
  if (cp < 0x20 || cp == 0x7F) return ' ';
  switch (charset) {
    case GdtCharset::kLatin1:
      return cp < 0x100 ? static_cast<char>(cp) : '?';
    case GdtCharset::kIbm437:
      if (cp < 0x80) return static_cast<char>(cp);
      if (cp == U'ß') return static_cast<char>(kIbm437SharpS);
      for (std::size_t i = 0; i < kIbm437Upper.size(); ++i)
        if (kIbm437Upper[i] == cp) return static_cast<char>(0x80 + i);
      return '?';
    case GdtCharset::kSevenBit:
      for (const auto& [ascii, letter] : kSevenBitGerman) {
        if (letter == cp) return ascii;
        if (static_cast<char32_t>(ascii) == cp) return '?';  // that place means a letter here
      }
      return cp < 0x80 ? static_cast<char>(cp) : '?';
  }
  return '?';
}

std::string Decode(std::string_view bytes, GdtCharset charset) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    char32_t cp = b;
    if (charset == GdtCharset::kIbm437 && b >= 0x80) {
      cp = b == kIbm437SharpS ? U'ß' : static_cast<std::size_t>(b - 0x80) < kIbm437Upper.size() ? kIbm437Upper[b - 0x80] : U'\uFFFD';
    } else if (charset == GdtCharset::kSevenBit) {
      for (const auto& [ascii, letter] : kSevenBitGerman)
        if (c == ascii) cp = letter;
      if (b >= 0x80) cp = U'\uFFFD';
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Splits a text into lines of at most `width` characters, at spaces where it can.
std::vector<std::u32string> Wrap(std::string_view text, std::size_t width) {
  std::vector<std::u32string> lines;
  std::u32string paragraph;
  const auto flush = [&] {
    while (paragraph.size() > width) {
      std::size_t cut = paragraph.rfind(U' ', width);
      if (cut == std::u32string::npos || cut == 0) cut = width;
      lines.push_back(paragraph.substr(0, cut));
      paragraph.erase(0, paragraph[cut] == U' ' ? cut + 1 : cut);
    }
    lines.push_back(paragraph);
    paragraph.clear();
  };
  for (const char32_t cp : DecodeUtf8(text)) {
    if (cp == U'\r') continue;
    if (cp == U'\n') flush();
    else paragraph += cp;
  }
  if (!paragraph.empty()) flush();
  return lines;
}

class Record {
 public:
  explicit Record(GdtCharset charset) : charset_(charset) {}

  void Add(const char* field, std::string_view utf8) { AddEncoded(field, Encoded(DecodeUtf8(utf8))); }
  void Add(const char* field, const std::u32string& text) { AddEncoded(field, Encoded({text.begin(), text.end()})); }

  // The record with its type and length first.
  std::string Finish(const char* type) const {
    std::string head = Line("8000", type);
    const std::size_t total = head.size() + kRecordLengthLine + body_.size();
    char length[8];
    std::snprintf(length, sizeof length, "%05zu", total);
    return head + Line("8100", length) + body_;
  }

 private:
  std::string Encoded(const std::vector<char32_t>& text) const {
    std::string bytes;
    for (const char32_t cp : text) bytes += Encode(cp, charset_);
    return bytes.substr(0, kMaxLine - kLineOverhead);
  }
  void AddEncoded(const char* field, const std::string& content) {
    if (!content.empty()) body_ += Line(field, content);
  }
  static std::string Line(const char* field, const std::string& content) {
    char length[8];
    std::snprintf(length, sizeof length, "%03zu", content.size() + kLineOverhead);
    return length + std::string(field) + content + "\r\n";
  }

  GdtCharset charset_;
  std::string body_;
};

std::string GdtDate(const CalendarTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%04d", t.day, t.month, t.year);
  return text;
}

std::string GdtTime(const CalendarTime& t) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d%02d%02d", t.hour, t.minute, t.second);
  return text;
}

void AddTest(Record& record, const char* id, const std::string& name, const std::string& value, const char* unit) {
  record.Add("8410", id);
  record.Add("8411", name);
  record.Add("8420", value);
  record.Add("8421", unit);
}

}  // namespace

std::string GdtResultRecord(const Shipment& shipment, const DeliveryOptions& options, const CalendarTime& now,
                            GdtCharset charset) {
  const ResultSummary summary = Summarise(shipment.analysis);
  const Patient& p = shipment.patient;
  Record record(charset);
  record.Add("8315", options.gdt_receiver);
  record.Add("8316", options.gdt_sender);
  record.Add("9206", std::to_string(static_cast<int>(charset)));
  record.Add("9218", kGdtVersion);
  record.Add("3000", p.id);
  record.Add("3101", p.family);
  record.Add("3102", p.given);
  if (const std::string date = CompactDate(p.birth_date); !date.empty())
    record.Add("3103", date.substr(6, 2) + date.substr(4, 2) + date.substr(0, 4));
  if (p.sex == "male") record.Add("3110", "1");
  if (p.sex == "female") record.Add("3110", "2");
  record.Add("8402", options.gdt_procedure);
  const CalendarTime studied = summary.first.value_or(now);
  record.Add("6200", GdtDate(studied));
  record.Add("6201", GdtTime(studied));

  static constexpr std::array<const char*, report::kPeriodCount> kSysIds = {"RR24S", "RRTAGS", "RRNACHTS"};
  static constexpr std::array<const char*, report::kPeriodCount> kDiaIds = {"RR24D", "RRTAGD", "RRNACHTD"};
  for (const PeriodMean& m : summary.means) {
    if (!m.sys || !m.dia) continue;
    AddTest(record, kSysIds[m.period], std::string(m.label) + " systolic mean", Decimal(*m.sys), "mmHg");
    AddTest(record, kDiaIds[m.period], std::string(m.label) + " diastolic mean", Decimal(*m.dia), "mmHg");
  }
  if (summary.dipping_sys) AddTest(record, "DIPS", "Nocturnal systolic dipping", Decimal(*summary.dipping_sys), "%");
  if (summary.dipping_dia) AddTest(record, "DIPD", "Nocturnal diastolic dipping", Decimal(*summary.dipping_dia), "%");
  if (!summary.dipping_class.empty()) {
    record.Add("8410", "DIPMUSTER");
    record.Add("8411", "Nocturnal dipping pattern");
    record.Add("8480", summary.dipping_class);
  }
  record.Add("8410", "BEWERTUNG");
  record.Add("8411", "Classification");
  record.Add("8480", summary.verdict);

  for (const std::u32string& line : Wrap(shipment.interpretation, kTextWidth)) record.Add("6220", line);
  std::string status = "Preliminary: not signed";
  if (!shipment.draft) {
    status = "Signed";
    if (!shipment.signer.empty()) status += " by " + shipment.signer;
    if (shipment.signed_at) status += " on " + report::FormatDateTime(*shipment.signed_at);
  }
  record.Add("6227", status);
  if (options.include_readings) {
    for (const report::Reading* r : shipment.analysis.Counted()) {
      char line[96];
      std::snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d  %s/%s mmHg", r->time.day, r->time.month,
                    r->time.year, r->time.hour, r->time.minute, Decimal(r->sys).c_str(), Decimal(r->dia).c_str());
      std::string text = line;
      if (r->pulse) text += "  pulse " + Decimal(*r->pulse) + "/min";
      record.Add("6228", text);
    }
  }
  return record.Finish(kResultRecord);
}

std::string GdtFileName(const DeliveryOptions& options) {
  std::string name;
  for (const std::string* id : {&options.gdt_receiver, &options.gdt_sender})
    for (std::size_t i = 0; i < id->size() && i < 4; ++i) {
      const char c = (*id)[i];
      name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
  return name + ".gdt";
}

ParsedGdtRequest ParseGdtRequest(std::string_view bytes, const std::string& name) {
  ParsedGdtRequest parsed;
  const auto fail = [&](int line, const std::string& what) {
    parsed.error = name + (line > 0 ? ", line " + std::to_string(line) : std::string()) + ": " + what;
    return parsed;
  };
  std::multimap<std::string, std::string> fields;  // raw bytes, decoded once 9206 is known
  std::vector<std::string> order;
  std::size_t declared_length = 0;
  int number = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    ++number;
    const std::size_t end = bytes.find("\r\n", at);
    if (end == std::string_view::npos) return fail(number, "the line does not end in CR LF");
    const std::string_view line = bytes.substr(at, end + kLineEnd - at);
    at = end + kLineEnd;
    if (line.size() < kLineOverhead) return fail(number, "too short for a length and a field id");
    std::size_t length = 0;
    for (std::size_t i = 0; i < kLengthDigits + kFieldDigits; ++i)
      if (line[i] < '0' || line[i] > '9') return fail(number, "does not start with seven digits (length and field id)");
    for (std::size_t i = 0; i < kLengthDigits; ++i) length = length * 10 + static_cast<std::size_t>(line[i] - '0');
    if (length != line.size())
      return fail(number, "says it is " + std::to_string(length) + " bytes long, but is " + std::to_string(line.size()));
    const std::string field(line.substr(kLengthDigits, kFieldDigits));
    std::string content(line.substr(kLengthDigits + kFieldDigits, line.size() - kLineOverhead));
    if (number == 1 && field != "8000") return fail(number, "a record starts with its type (field 8000)");
    if (field == "8000" && content != kRequestRecord)
      return fail(number, "record type " + content + " is not a request for a new study (" + kRequestRecord + ")");
    if (field == "8100") {
      declared_length = 0;
      for (const char c : content) {
        if (c < '0' || c > '9') return fail(number, "the record length (8100) is not a number: " + content);
        declared_length = declared_length * 10 + static_cast<std::size_t>(c - '0');
      }
    }
    fields.emplace(field, std::move(content));
  }
  if (number == 0) return fail(0, "empty file");
  if (declared_length != 0 && declared_length != bytes.size())
    return fail(0, "the record length (8100) says " + std::to_string(declared_length) + " bytes, but it has " +
                       std::to_string(bytes.size()));

  GdtRequest request;
  // Without 9206, 7-bit text is the older records' default; bytes above 127
  // then can only be the IBM code page of the systems that wrote them.
  if (const auto it = fields.find("9206"); it != fields.end()) {
    if (it->second != "1" && it->second != "2" && it->second != "3")
      return fail(0, "character set (9206) " + it->second + " is none of " + kGdtCharsets);
    request.charset = static_cast<GdtCharset>(it->second[0] - '0');
  } else if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
    request.charset = GdtCharset::kIbm437;
  }
  const auto text = [&](const char* field) {
    const auto it = fields.find(field);
    return it == fields.end() ? std::string() : Decode(it->second, request.charset);
  };
  request.patient.id = text("3000");
  if (request.patient.id.empty()) return fail(0, "the request names no patient (field 3000)");
  request.patient.family = text("3101");
  request.patient.given = text("3102");
  if (const std::string birth = text("3103"); !birth.empty()) {
    const std::string iso = birth.size() == 8 ? birth.substr(4, 4) + "-" + birth.substr(2, 2) + "-" + birth.substr(0, 2)
                                              : std::string();
    if (iso.empty() || !report::ParseLocalTime(iso + "T00:00:00"))
      return fail(0, "the birth date (3103) " + birth + " is not a date DDMMYYYY");
    request.patient.birth_date = iso;
  }
  if (const std::string sex = text("3110"); !sex.empty()) {
    if (sex != "1" && sex != "2") return fail(0, "the sex (3110) " + sex + " is neither 1 (male) nor 2 (female)");
    request.patient.sex = sex == "1" ? "male" : "female";
  }
  request.receiver = text("8315");
  request.sender = text("8316");
  request.procedure = text("8402");
  parsed.request = std::move(request);
  return parsed;
}

ParsedGdtRequest ReadGdtRequestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ParsedGdtRequest parsed;
    parsed.error = path + ": cannot be read: " + std::strerror(errno);
    return parsed;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseGdtRequest(bytes, path);
}

}  // namespace bplink::delivery
