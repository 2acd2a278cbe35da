// CSelectProtocol: which device is connected, over which link, and which
// protocol class serves it.
//
// OnTestProtocol asks the USB HID link first (the device-information
// request) and, only when no HID device answers, tries every serial port
// that can be opened with one short probe per serial family. The answer is a
// device-type code and a protocol code (bplink::ProtocolCode names the class
// to create); no port is handed over, since each serial class finds its port
// again by itself.
//
// Devices. Without SetDevice, each detection creates a CDevice_HID for the
// HID request and then a CDevice_COM for the serial probes, and deletes both
// before it returns. A device handed in with SetDevice is borrowed for the
// object's whole life and never deleted: it serves the HID request through
// Open(0) and every serial probe through Open(path, dcb), so one simulated
// or host-made device can stand for both links. Every probe closes the
// device again; no port is open when OnTestProtocol returns.
//
// Time. A port that opens but has nothing on it costs five 100 ms pauses and
// ten receive time-outs (each probe waits for its answer and then drains the
// line), plus the line time of the bytes asked for (about 0.2 s, most of it
// for the 73-byte answer at 4800 baud): with CDevice_COM's default time-out
// about 5.8 s per silent port. A host that knows its ports answer fast hands
// in its own CDevice_COM with a shorter time-out.
#pragma once

#include <bplink/export.h>
#include <bplink/records.h>
#include <bplink/wintypes.h>

class CDevice;

class BPLINK_API CSelectProtocol {
 public:
  CSelectProtocol();
  // A copy takes the device pointer, the borrowed flag and the last answer as
  // they stand; an owned device never outlives a call, so none is shared.
  CSelectProtocol(const CSelectProtocol& other);
  CSelectProtocol& operator=(const CSelectProtocol& other);  // takes what a copy takes
  virtual ~CSelectProtocol();  // the only virtual slot

  // Borrows `pDevice` for every later detection. False for null, which
  // changes nothing; there is no way back to devices of the object's own.
  bool SetDevice(CDevice* pDevice);

  // Fills `out` with the device found. 1 found; 11 nothing answered (device
  // type and protocol 255); 8 an exception was raised (`out` untouched).
  // nVersion is the HID version byte; a serial find keeps the value the
  // object held before (255 at first).
  int OnTestProtocol(tag_SUPPORT_PROTOCOL& out);

 private:
  // 1 a HID device answered; 5 none could be opened; 7 it answered something else.
  BPLINK_LOCAL int TestHID();
  // One probe on one port at the DCB's speed; true when the family answered.
  BPLINK_LOCAL bool TestKX71(CString strPath, DCB& dcb);
  BPLINK_LOCAL bool TestKV32(CString strPath, DCB& dcb);
  BPLINK_LOCAL bool Test16C(CString strPath, DCB& dcb);
  BPLINK_LOCAL bool Test16(CString strPath, DCB& dcb);
  BPLINK_LOCAL bool Test18(CString strPath, DCB& dcb);
  // Reads and drops what the device still sends; always true.
  BPLINK_LOCAL bool ClearCommData();
  // The identity-byte tables, the same as the protocol classes use.
  BPLINK_LOCAL int GetDeviceType(BYTE byType);
  BPLINK_LOCAL int GetDeviceProtocol(BYTE byType);

  CDevice* m_pDevice = nullptr;
  bool m_bDeviceFromHost = false;
  tag_SUPPORT_PROTOCOL m_SupportInfo;
};
