// One serial family's detection probe: a fixed request on a port opened at
// the family's probe speed, and the answer that identifies the family. Each
// family's wire.h defines its probe; detection runs them on every port in the
// order of the families' table.
#pragma once

#include <bplink/device.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

#include <functional>
#include <optional>
#include <span>

namespace bplink::serial {

struct DetectionProbe {
  DWORD baud;
  std::span<const BYTE> request;  // sent in one call
  DWORD answerLength;             // received in one call after the pause
  // Judges the answer (answerLength bytes; a receive that brings nothing
  // leaves zeros, which no family answers).
  bool (*identifies)(const BYTE* answer);
  // A byte the family sends on its own after an answer that identified it,
  // asked for in a receive of its own.
  std::optional<BYTE> thenByte = std::nullopt;
  // The variant the answer names (nVariant); null: the family reports none.
  int (*variant)(const BYTE* answer) = nullptr;
};

// The longest answer any probe reads.
inline constexpr DWORD kLongestProbeAnswer = 80;

// Runs `probe` on the port at `path`: opens it with `dcb` at the probe's
// speed (an unopened port fails at once), sends the request, waits the
// device's pause, receives and judges the answer; then, whatever came,
// drains the line and closes the port, so the next probe starts on a quiet
// line. True when the family answered; `variant` then holds what it named.
//
// `stopRequested`, when given, is asked after the pause and after the
// answer: once it says yes the probe receives and drains no more and only
// closes the port, so a caller that is asked to stop waits at most the
// receive already under way. Without it the exchange is always complete.
bool RunDetectionProbe(CDevice& device, const CString& path, DCB& dcb, const DetectionProbe& probe,
                       int& variant, const std::function<bool()>& stopRequested = nullptr);

}  // namespace bplink::serial
