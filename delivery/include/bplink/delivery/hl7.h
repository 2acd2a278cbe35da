// HL7 v2.5.1 result messages (ORU^R01) and their acknowledgements, and the
// MLLP framing they travel in. Deliver uses these; they are public so a
// host (or a test) can see exactly what goes on the wire.
#pragma once

#include <bplink/delivery/delivery.h>

#include <optional>
#include <string>
#include <string_view>

namespace bplink::delivery {

// A text as an HL7 field carries it: the delimiters |^~&\ as the escape
// sequences \F\ \S\ \R\ \T\ \E\. Line breaks become "\.br\" (formatted text,
// FT) where `formatted`, else a space; other control characters, which
// could end a segment or a frame, are dropped.
std::string Hl7Escape(std::string_view text, bool formatted = false);
// The reverse, for texts a peer sends (\X..\ hex escapes included).
std::string Hl7Unescape(std::string_view text);

// The ORU^R01 message for `shipment`: MSH, PID, OBR, and OBX for the
// 24-hour, day and night means, the dipping, the verdict, the signed
// interpretation and, with options.include_readings, every counted reading.
// Segments end in CR. `now` stamps MSH-7.
std::string OruMessage(const Shipment& shipment, const DeliveryOptions& options, const std::string& control_id,
                       const CalendarTime& now);

// An acknowledgement's MSA (and ERR) as read.
struct Hl7Ack {
  std::string code;        // MSA-1
  std::string control_id;  // MSA-2: the message it acknowledges
  std::string text;        // MSA-3 and the ERR segments' texts, unescaped
};
// nullopt when `message` is not an HL7 message with an MSA segment.
std::optional<Hl7Ack> ParseAck(std::string_view message);

// MLLP: a message is sent as 0x0B, the message, 0x1C 0x0D.
inline constexpr char kMllpStart = 0x0B;
inline constexpr char kMllpEnd = 0x1C;
inline constexpr char kMllpEndCr = 0x0D;
std::string MllpFrame(std::string_view message);

}  // namespace bplink::delivery
