// The ORU^R01 result message and the reading of its acknowledgement.
// Codes are LOINC ("LN") where LOINC has one (the 24-hour means, the mean
// codes for day and night, every reading's pressures and pulse), local
// ("99BPL") where it has none; units UCUM.

#include <bplink/delivery/hl7.h>

#include "summary.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bplink::delivery {
namespace {

constexpr char kSegmentEnd = '\r';
constexpr const char* kEncodingCharacters = "^~\\&";
constexpr const char* kVersion = "2.5.1";
constexpr const char* kLocalSystem = "99BPL";
constexpr const char* kMmHg = "mm[Hg]^mmHg^UCUM";
constexpr const char* kPerMinute = "/min^per minute^UCUM";
constexpr const char* kPercent = "%^percent^UCUM";
// OBR fields set past the first eight: results reported, result status, the
// principal result interpreter (the last one sent).
constexpr std::size_t kObrReported = 22, kObrStatus = 25, kObrInterpreter = 32;

// A segment from its fields, field 1 first.
std::string Segment(const char* name, const std::vector<std::string>& fields) {
  std::string out = name;
  for (const std::string& f : fields) out += "|" + f;
  return out + kSegmentEnd;
}

// An HL7 date-time with the zone the study's times are in.
std::string Dtm(const CalendarTime& t, const report::UtcOffset& offset) {
  const int minutes = offset(t);
  const int magnitude = std::abs(minutes);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%c%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, minutes < 0 ? '-' : '+', magnitude / report::kMinutesPerHour,
                magnitude % report::kMinutesPerHour);
  return text;
}

// The assigning authority of the patient's identifier (CX.4, an HD whose
// parts are subcomponents): an OID as ISO, any other system as URI.
std::string AssigningAuthority(const std::string& system) {
  constexpr std::string_view kOidPrefix = "urn:oid:";
  if (system.empty()) return {};
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on a
  // literal + std::string.
  const bool oid = system.rfind(kOidPrefix, 0) == 0;
  std::string authority = "&";
  authority += Hl7Escape(oid ? system.substr(kOidPrefix.size()) : system);
  authority += oid ? "&ISO" : "&URI";
  return authority;
}

const char* Hl7Sex(const std::string& sex) {
  if (sex == "female") return "F";
  if (sex == "male") return "M";
  if (sex == "other") return "O";
  if (sex == "unknown") return "U";
  return "";
}

struct Code {
  const char* code;
  const char* text;
  const char* system;
  const char* local_code = nullptr;  // the same as a local code, where LOINC's code is general
  const char* local_text = nullptr;
};

std::string Cwe(const Code& c) {
  std::string out = std::string(c.code) + "^" + Hl7Escape(c.text) + "^" + c.system;
  if (c.local_code) out += std::string("^") + c.local_code + "^" + Hl7Escape(c.local_text) + "^" + kLocalSystem;
  return out;
}

class Observations {
 public:
  Observations(std::string status, std::string& message) : status_(std::move(status)), message_(message) {}

  void Add(const char* type, const Code& code, const std::string& sub_id, const std::string& value,
           const char* units = "", const std::string& when = {}) {
    message_ += Segment("OBX", {std::to_string(++count_), type, Cwe(code), sub_id, value, units, "", "", "", "",
                                status_, "", "", when});
  }

 private:
  std::string status_;
  std::string& message_;
  int count_ = 0;
};

// The 24-hour, day and night means: LOINC's 24-hour codes, and its general
// mean codes for day and night with a local code naming the period.
struct MeanCodes {
  Code sys, dia;
};
const MeanCodes& MeanCodesOf(report::PeriodIndex p) {
  static const MeanCodes k24h{{"8490-5", "Systolic blood pressure 24 hour mean", "LN"},
                              {"8472-3", "Diastolic blood pressure 24 hour mean", "LN"}};
  static const MeanCodes kDay{{"96608-5", "Systolic blood pressure mean", "LN", "day-systolic-mean", "Daytime systolic mean"},
                              {"96609-3", "Diastolic blood pressure mean", "LN", "day-diastolic-mean",
                               "Daytime diastolic mean"}};
  static const MeanCodes kNight{
      {"96608-5", "Systolic blood pressure mean", "LN", "night-systolic-mean", "Night-time systolic mean"},
      {"96609-3", "Diastolic blood pressure mean", "LN", "night-diastolic-mean", "Night-time diastolic mean"}};
  return p == report::k24h ? k24h : p == report::kDay ? kDay : kNight;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

std::string Hl7Escape(std::string_view text, bool formatted) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '|': out += "\\F\\"; break;
      case '^': out += "\\S\\"; break;
      case '&': out += "\\T\\"; break;
      case '~': out += "\\R\\"; break;
      case '\\': out += "\\E\\"; break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') break;  // CR LF is one break
        [[fallthrough]];
      case '\n': out += formatted ? "\\.br\\" : " "; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
        else if (c == '\t') out += ' ';
    }
  }
  return out;
}

std::string Hl7Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t end = text[i] == '\\' ? text.find('\\', i + 1) : std::string_view::npos;
    if (end == std::string_view::npos) {
      out += text[i];
      continue;
    }
    const std::string_view seq = text.substr(i + 1, end - i - 1);
    if (seq == "F") out += '|';
    else if (seq == "S") out += '^';
    else if (seq == "T") out += '&';
    else if (seq == "R") out += '~';
    else if (seq == "E") out += '\\';
    else if (seq == ".br") out += '\n';
    else if (!seq.empty() && seq[0] == 'X' && seq.size() % 2 == 1) {
      for (std::size_t k = 1; k + 1 < seq.size(); k += 2) {
        const int hi = HexDigit(seq[k]), lo = HexDigit(seq[k + 1]);
        if (hi >= 0 && lo >= 0) out += static_cast<char>(hi * 16 + lo);
      }
    }
    // Other sequences (highlighting, character sets) carry no text.
    i = end;
  }
  return out;
}

std::string OruMessage(const Shipment& shipment, const DeliveryOptions& options, const std::string& control_id,
                       const CalendarTime& now) {
  const report::UtcOffset offset = OffsetOf(shipment);
  const ResultSummary summary = Summarise(shipment.analysis);
  const Patient& p = shipment.patient;
  const std::string status = shipment.draft ? "P" : "F";  // preliminary or final results

  // MSH-1 is the field separator itself, so the fields start at MSH-2. The
  // message says it is UTF-8 (MSH-18) and asks for an acknowledgement in
  // the original mode (MSH-15 and MSH-16 empty).
  std::string message = "MSH|" + std::string(kEncodingCharacters) + "|BPLINK|" +
                        Hl7Escape(options.sending_facility) + "|" + Hl7Escape(options.receiving_application) + "|" +
                        Hl7Escape(options.receiving_facility) + "|" + Dtm(now, offset) + "||ORU^R01^ORU_R01|" +
                        Hl7Escape(control_id) + "|P|" + kVersion + "||||||UNICODE UTF-8" + kSegmentEnd;
  message += Segment("PID", {"1", "", Hl7Escape(p.id) + "^^^" + AssigningAuthority(p.system) + "^MR", "",
                             Hl7Escape(p.family) + "^" + Hl7Escape(p.given), "", CompactDate(p.birth_date),
                             Hl7Sex(p.sex)});
  const std::string study = Hl7Escape(shipment.study_id) + "^^" + Hl7Escape(StudySystem(shipment)) + "^URI";
  const CalendarTime reported = shipment.signed_at.value_or(now);
  std::vector<std::string> obr = {"1", study, study, "ABPM^Ambulatory blood pressure monitoring^" + std::string(kLocalSystem),
                                  "", "", summary.first ? Dtm(*summary.first, offset) : "",
                                  summary.last ? Dtm(*summary.last, offset) : ""};
  obr.resize(kObrInterpreter);
  obr[kObrReported - 1] = Dtm(reported, offset);
  obr[kObrStatus - 1] = status;
  obr[kObrInterpreter - 1] = "&";  // the CNN's family name, appended as AssigningAuthority explains
  obr[kObrInterpreter - 1] += Hl7Escape(shipment.signer);
  message += Segment("OBR", obr);

  Observations obx(status, message);
  for (const PeriodMean& m : summary.means) {
    if (!m.sys || !m.dia) continue;
    const std::string sub_id = report::kPeriodKeys[m.period];
    obx.Add("NM", MeanCodesOf(m.period).sys, sub_id, Decimal(*m.sys), kMmHg);
    obx.Add("NM", MeanCodesOf(m.period).dia, sub_id, Decimal(*m.dia), kMmHg);
  }
  if (summary.dipping_sys)
    obx.Add("NM", {"dipping-systolic", "Nocturnal dipping of systolic pressure", kLocalSystem}, "",
            Decimal(*summary.dipping_sys), kPercent);
  if (summary.dipping_dia)
    obx.Add("NM", {"dipping-diastolic", "Nocturnal dipping of diastolic pressure", kLocalSystem}, "",
            Decimal(*summary.dipping_dia), kPercent);
  if (!summary.dipping_class.empty())
    obx.Add("ST", {"dipping-pattern", "Nocturnal dipping pattern", kLocalSystem}, "", Hl7Escape(summary.dipping_class));
  obx.Add("ST", {"verdict", "Classification of the ambulatory blood pressure", kLocalSystem}, "",
          Hl7Escape(summary.verdict));
  if (!shipment.interpretation.empty())
    obx.Add("FT", {"interpretation", "Physician's interpretation", kLocalSystem}, "",
            Hl7Escape(shipment.interpretation, true));
  if (options.include_readings) {
    int n = 0;
    for (const report::Reading* r : shipment.analysis.Counted()) {
      const std::string sub_id = std::to_string(++n);
      const std::string when = Dtm(r->time, offset);
      obx.Add("NM", {"8480-6", "Systolic blood pressure", "LN"}, sub_id, Decimal(r->sys), kMmHg, when);
      obx.Add("NM", {"8462-4", "Diastolic blood pressure", "LN"}, sub_id, Decimal(r->dia), kMmHg, when);
      if (r->pulse) obx.Add("NM", {"8867-4", "Heart rate", "LN"}, sub_id, Decimal(*r->pulse), kPerMinute, when);
    }
  }
  return message;
}

std::optional<Hl7Ack> ParseAck(std::string_view message) {
  // Segments end in CR; a peer that ends them in LF or CR LF is read too.
  std::vector<std::string_view> segments;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = message.size();
    if (end > start) segments.push_back(message.substr(start, end - start));
    start = end + 1;
  }
  if (segments.empty() || segments[0].substr(0, 3) != "MSH" || segments[0].size() < 8) return std::nullopt;
  const char field = segments[0][3];
  const char component = segments[0][4];
  std::optional<Hl7Ack> ack;
  std::vector<std::string> texts;
  for (std::string_view segment : segments) {
    const auto fields = Split(segment, field);
    const auto at = [&fields](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view(); };
    if (fields[0] == "MSA") {
      ack = Hl7Ack{Hl7Unescape(at(1)), Hl7Unescape(at(2)), {}};
      if (!at(3).empty()) texts.push_back(Hl7Unescape(at(3)));
    } else if (fields[0] == "ERR") {
      // ERR-3 the HL7 error code (code^text), ERR-8 the user message.
      const auto code = Split(at(3), component);
      if (code.size() > 1 && !code[1].empty()) texts.push_back(Hl7Unescape(code[1]));
      if (!at(8).empty()) texts.push_back(Hl7Unescape(at(8)));
    }
  }
  if (!ack) return std::nullopt;
  for (std::size_t i = 0; i < texts.size(); ++i) ack->text += (i ? "; " : "") + texts[i];
  return ack;
}

std::string MllpFrame(std::string_view message) {
  std::string frame(1, kMllpStart);
  frame += message;
  frame += kMllpEnd;
  frame += kMllpEndCr;
  return frame;
}

}  // namespace bplink::delivery
