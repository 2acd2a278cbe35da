// The protocol families the library speaks, in one table: the protocol codes
// each class serves, how a host makes its protocol object, and what its
// devices keep and allow. Detection probes the serial families in the
// table's order; a host that knows a protocol code (from CSelectProtocol, or
// from its user) finds the class to create here.
#pragma once

#include <bplink/export.h>
#include <bplink/protocol_base.h>

#include <memory>
#include <span>
#include <string_view>

namespace bplink {

// Which link a family's devices are reached over.
enum class LinkKind { kUsbHid, kSerial };

// The plan fields a family's devices keep (Family::planFields): what an
// upload writes and a download reads back.
enum PlanFields : unsigned {
  kKeepsPeriod1 = 1u << 0,       // the first (day) period: start and interval
  kKeepsPeriod2 = 1u << 1,       // the second (night) period
  kKeepsExtraWindow = 1u << 2,   // the extra measuring window
  kKeepsPatientTexts = 1u << 3,  // the two patient texts
};

// One protocol family: its names, protocol codes, and what its devices keep.
struct Family {
  std::string_view name;       // "hid", "kx71", ...: how the program and the simulators name it
  std::string_view className;  // the protocol class, as hosts know it
  LinkKind link;               // the link its devices are reached over
  int firstProtocol;           // the protocol codes its class serves: firstProtocol..lastProtocol
  int lastProtocol;            // the last protocol code its class serves
  int deviceType;              // of its devices; kDeviceUnknown for HID, whose identity byte tells
  unsigned planFields;         // PlanFields; 0 for a family that takes no plan
  bool deletes;                // a host may ask it to delete measurements (a device type may still refuse)
  bool uploadStartsRecording;  // an upload starts a new recording: the device erases every reading it holds
  int silenceResult;           // what its transfers answer when the device stops answering part-way
  std::unique_ptr<CProtocolBase> (*make)();  // a new protocol object of its class

  // Its class serves this code.
  bool Serves(int protocol) const { return protocol >= firstProtocol && protocol <= lastProtocol; }
  bool Uploads() const { return planFields != 0; }  // its devices take a plan
};

// Every family: USB HID first, then the serial families in the order
// detection probes them.
BPLINK_API std::span<const Family> Families();
// Null for a name or protocol code no family has.
BPLINK_API const Family* FindFamily(std::string_view name);
BPLINK_API const Family* FamilyForProtocol(int protocol);  // the family whose class serves the code

}  // namespace bplink
