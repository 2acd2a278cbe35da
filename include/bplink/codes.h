// Result codes, progress states, device-type and protocol codes.
//
// Every operation of every protocol family answers with one of these integers
// and means the same by it; hosts compare against the plain numbers, the
// names are for readable code on both sides.
#pragma once

#include <bplink/export.h>

namespace bplink {

// Results of the protocol operations.
enum Result : int {
  kResultFalse = 0,             // a yes/no step failed; SetProgressInfo with a null pointer
  kResultOk = 1,                // success, or nothing to do
  kResultNoLink = 2,            // the link could not be opened / no port answered the probe
  kResultIoFailed = 5,          // a send or receive failed, or the device was silent
  kResultNotInFamily = 6,       // not supported by this protocol family
  kResultUnexpectedReply = 7,   // the device answered something else
  kResultException = 8,         // an exception was caught inside the operation
  kResultCannotStart = 9,       // no device, no state variable, or data mode 0
  kResultNotForDevice = 10,     // not supported for this device, or undecodable data
  kResultNoDevice = 11,         // detection found nothing
  // The host stopped the transfer part-way; what arrived is kept. The
  // protocol classes never answer with it (a transfer they stop ends with 1,
  // as its family documents); the C interface, Python and the program do,
  // for a download or delete during which the host asked for a stop.
  kResultStopped = 12,
  // The plan cannot give a valid recording (too few readings by day or by
  // night, none at all, equal or swapped day and night starts): nothing was
  // sent, since the host did not accept the plan check's warnings. The
  // protocol classes never answer with it; the C interface and Python do.
  kResultPlanWarned = 13,
  // The upload or delete would erase readings the device holds that the
  // host has not said may be lost: nothing was erased. The C interface and
  // Python answer with it; the program files them first, or asks.
  kResultWouldErase = 14,
};

// What a result code means, in words a person reads in a message: "the
// device did not answer" for 5. Every code above has its own text; a code
// the library does not know gets "unknown result". Never null; the text is
// static (the caller neither frees nor outlives it), and any thread may ask.
BPLINK_API const char* ResultText(int result);

// Values of the host's state variable.
enum State : int {
  kStateRunning = 1,
  kStateFailed = 2,
  kStateSucceeded = 3,
  kStateStopRequested = 5,  // written by the host; the library only reads it
};

// nReserved, nVariant and nVersion of a device that did not report them.
inline constexpr int kNotReported = 255;

// Device types (nDeviceType).
enum DeviceType : int {
  kDeviceUnknown = -1,
  kDeviceAmbulatory = 1,       // two blood-pressure sets and a plan
  kDeviceType2 = 2,            // one set and a plan
  kDeviceWithSpO2 = 3,         // one set, a plan and SpO2 samples
  kDeviceType4 = 4,            // one set and a plan
  kDeviceThreeStores = 5,      // three sets, no plan
  kDeviceType6 = 6,            // one set and a plan
  kDeviceNotIdentified = 255,
};

// Protocol codes (nProtocol): which class serves the device.
enum ProtocolCode : int {
  kProtocolUnknown = -1,
  kProtocolHidFirst = 1,   // 1..5: the HID protocol, by device type
  kProtocolHidLast = 5,
  kProtocolKX71 = 6,
  kProtocolKV32 = 7,
  kProtocolVESTRA16 = 8,
  kProtocolVESTRA16C = 9,
  kProtocolVESTRA18 = 10,
  kProtocolNotIdentified = 255,
};

}  // namespace bplink
