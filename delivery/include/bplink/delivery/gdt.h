// GDT 2.1, the device-data exchange of practice systems: a result record
// (6310) this program writes, and a request (6302) the practice system
// writes for a new study. A record is lines of three digits giving the
// line's length in bytes, four digits naming the field, the content, and
// CR LF; field 8100 gives the whole record's length.
#pragma once

#include <bplink/delivery/delivery.h>

#include <optional>
#include <string>
#include <string_view>

namespace bplink::delivery {

// Field 9206: how the bytes of the texts are to be read.
enum class GdtCharset {
  kSevenBit = 1,  // 7-bit ASCII with the German letters in place of [\]{|}~ and @
  kIbm437 = 2,    // the IBM PC code page 437
  kLatin1 = 3,    // ISO 8859-1
};
// The values there are, for messages.
inline constexpr const char* kGdtCharsets = "1 (7-bit), 2 (IBM 437), 3 (ISO 8859-1)";

// The 6310 result record for `shipment`, encoded in `charset` (characters
// it cannot hold become '?'): patient, date and time of the study, the means,
// dipping, verdict and interpretation as result lines and findings text and,
// with options.include_readings, every counted reading. `now` stamps the
// record's date and time of storage.
std::string GdtResultRecord(const Shipment& shipment, const DeliveryOptions& options, const CalendarTime& now,
                            GdtCharset charset = GdtCharset::kLatin1);

// The name practice systems look for: the receiver's and the sender's ids,
// four characters of each, and ".gdt" ("PRAXBPLI.gdt").
std::string GdtFileName(const DeliveryOptions& options);

// A practice system's request for a new study, as read from a 6302 record.
struct GdtRequest {
  Patient patient;          // id (3000), family (3101), given (3102), birth date (3103), sex (3110)
  std::string receiver;     // 8315: this program's GDT id as the practice system knows it
  std::string sender;       // 8316: the practice system's
  std::string procedure;    // 8402, when given
  GdtCharset charset = GdtCharset::kSevenBit;
};
struct ParsedGdtRequest {
  std::optional<GdtRequest> request;
  std::string error;  // the file, the line and what is wrong with it
};
// `bytes` is the record as the file holds it; `name` names it in errors.
ParsedGdtRequest ParseGdtRequest(std::string_view bytes, const std::string& name);
ParsedGdtRequest ReadGdtRequestFile(const std::string& path);

}  // namespace bplink::delivery
