// DetectAll: every device connected, and what each port said, probing all
// ports at once.
//
// CSelectProtocol answers one question (which device?) in a fixed order on
// the host's thread: the USB HID link, then each serial port in turn, five
// probes each, and a silent port costs its receive time-outs (about 5.8 s
// with CDevice_COM's default) before the next is tried. DetectAll asks the
// same questions with the same bytes, but it runs one worker thread per link
// (the HID link and every serial port the Env lists), so detection over
// eight ports costs about what one costs, and it goes on after the first
// device to report every port: a device found, or why none was.
//
// Threads. DetectAll is the one call of libbplink that starts threads: one
// per serial port, and one for the HID link when a HID device opens. All of
// them have ended when it returns; none runs between calls.
// Each worker has a device object of its own, and the Env is called from
// all of them at once (Sleep, CanOpenComPort), so an Env installed with
// SetEnv must be safe to call from several threads. The first answer, taken
// in list order (FirstFound), is the one CSelectProtocol gives on the same
// ports and devices; hosts that need its exact single-threaded behaviour keep
// using it.
#pragma once

#include <bplink/device.h>
#include <bplink/export.h>
#include <bplink/families.h>
#include <bplink/records.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bplink {

// What one link gave.
enum class PortStatus : int {
  kFound = 1,     // a device answered a probe; DetectedPort::device says which
  kSilent,        // it opened, but nothing answered any probe as a known device does
  kCannotOpen,    // it did not open: missing, held by another program, no serial port, ... (see error)
  kNotPermitted,  // it exists, but this user may not open it
  kGone,          // it opened, then vanished while it was probed (an adapter unplugged)
  kStopped,       // the host asked detection to stop before this link was done
};

// Words for a status, for a person: "silent", "cannot be opened", ...
BPLINK_API const char* PortStatusText(PortStatus status);

// One link DetectAll probed, and what it gave.
struct DetectedPort {
  LinkKind link = LinkKind::kSerial;  // the USB HID link or a serial port
  // The port name as the Env lists it (ComPortPath gives the path); empty
  // for the USB HID link.
  std::wstring port;
  PortStatus status = PortStatus::kSilent;  // what the link gave
  // For kFound: the answer as CSelectProtocol fills it (nVersion stays 255 on
  // a serial port). Otherwise every field is 255.
  tag_SUPPORT_PROTOCOL device{255, 255, 255, 255, 255};
  // Why it was not kFound, in the transport's words ("no such file or
  // directory", "permission denied", "timed out: 0 of 1 byte within 500 ms"),
  // when the transport told; kind kNone otherwise.
  LinkError error;
};

// How DetectAll probes; the defaults probe every link with the transports'
// own time-outs.
struct DetectAllOptions {
  // Receive time-outs of the devices DetectAll makes itself. A silent serial
  // port costs about 5 x (100 + 2 x serialTimeoutMs) ms, a HID device that
  // opens but does not answer one hidTimeoutMs.
  unsigned serialTimeoutMs = CDevice_COM::kDefaultRecvTimeoutMs;
  unsigned hidTimeoutMs = CDevice_HID::kDefaultRecvTimeoutMs;  // the HID device's receive time-out
  // Whether to ask the USB HID link at all.
  bool probeHid = true;
  // The host's state variable (may be null). Detection reads it, through
  // std::atomic_ref, between the steps of every probe; once the host writes
  // 5 (kStateStopRequested) every worker ends within the receive it is in,
  // closing its port, and the links not done are reported kStopped.
  // Detection itself never writes it.
  int* state = nullptr;
  // Progress (may be null): links done of links to probe, written through
  // std::atomic_ref as they change. `linksToProbe` is set once the ports are
  // listed (the serial ports, plus one for the HID link).
  int* linksDone = nullptr;
  int* linksToProbe = nullptr;  // links to probe, once listed (may be null)
  // The device a worker talks through, one call per worker, from the calling
  // thread; each object is used by one worker only and deleted before
  // DetectAll returns. Null: a CDevice_HID or CDevice_COM with the time-outs
  // above. A maker may return null for a link it cannot serve (the link is
  // then kCannotOpen).
  std::function<std::unique_ptr<CDevice>(LinkKind link)> makeDevice;
  // Why a device's last call failed, for devices of the host's own. Null:
  // the reasons CDevice_COM, CDevice_HID and CDevice_Bluetooth keep; none
  // for other devices.
  std::function<LinkError(const CDevice& device)> lastError;
};

// Probes the USB HID link and every serial port of CurrentEnv() at once and
// fills `ports` in list order: the HID link first (when probeHid), then the
// serial ports in the Env's order. On each serial port the five probes run
// in the families' order (Families()), as CSelectProtocol runs them, until
// one answers; a port is probed only while the Env's CanOpenComPort says it
// opens, and otherwise its device's Open tells why not.
//
// Results: 1 at least one device was found; 11 none (also when stopped
// before one was); 8 the ports could not be listed, or the workers could not
// be started (then `ports` is empty). Never throws; no port is open when it
// returns.
BPLINK_API int DetectAll(std::vector<DetectedPort>& ports, const DetectAllOptions& options = {});

// The first device found, in list order: what CSelectProtocol::OnTestProtocol
// answers on the same links. Null when none was found.
BPLINK_API const DetectedPort* FirstFound(const std::vector<DetectedPort>& ports);

}  // namespace bplink
