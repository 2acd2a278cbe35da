// The transport devices the protocols talk through.
//
// A protocol object only ever calls the six virtual slots of CDevice; the
// concrete links (serial port, USB HID, a host-connected Bluetooth stream)
// live behind them. None of them prints, logs or throws to the caller.
//
// Every failure answers with the slot's plain failure value (0 from Open,
// RecvData and SendData), as hosts expect. Why it failed is kept on the
// object, the way hidapi keeps hid_error(): each concrete device records the
// reason of its last Open, RecvData or SendData, readable with
// GetLastLinkError() until the next of those calls clears or replaces it.
// Close leaves it, so the reason survives the Close a protocol makes at the
// end of every transfer.
#pragma once

#include <bplink/export.h>
#include <bplink/wintypes.h>

#include <cstdint>
#include <string>

namespace bplink {

// What kind of failure a transport call met, for a program to branch on.
enum class LinkErrorKind : int {
  kNone = 0,          // the last call succeeded, or none was made
  kNoSuchPort,        // the path names no port (no such file, no such device)
  kPermissionDenied,  // the port or device exists, but this user may not open it
  kInUse,             // another program (or another device object) holds it
  kNotSerialPort,     // the path opens, but is no serial port
  kSettingsRefused,   // the port cannot take the line settings asked for
  kTimedOut,          // the bytes asked for did not all come (or go) within the time-out
  kLinkLost,          // the line hung up, the peer closed, the device was unplugged
  kNoDevice,          // no device attached that the call could open (HID), no link handed over (Bluetooth)
  kNotOpen,           // a transfer on a device that is not open
  kOther,             // anything else; the text says what
};

// Why the last Open, RecvData or SendData of a device failed.
struct LinkError {
  LinkErrorKind kind = LinkErrorKind::kNone;  // what kind of failure; kNone: none
  // The operating system's error number behind it: errno on POSIX,
  // GetLastError() (WSAGetLastError() for sockets) on Windows; 0 when the
  // failure was not the system's (a time-out, a line speed no port takes).
  int os_error = 0;
  // For a person, in UTF-8: the system's own wording where it has one ("no
  // such file or directory", "permission denied"), the transport's words
  // otherwise ("in use by another program", "timed out: 2 of 5 bytes within
  // 500 ms"). Empty when kind is kNone.
  std::string text;
};

}  // namespace bplink

// A link the protocols talk through: six virtual slots, in the order hosts
// program against. The base opens nothing (0) and has no Close, RecvData or
// SendData of its own.
class BPLINK_API CDevice {
 public:
  CDevice() = default;
  CDevice(const CDevice&);             // the base holds no state: nothing to copy
  CDevice& operator=(const CDevice&);  // the base holds no state: nothing to copy
  virtual ~CDevice();

  // Opens a serial port by path ("\\.\COM3", "/dev/ttyUSB0") with the given
  // line settings. 1 = open, anything else = not open.
  virtual int Open(CString strPath, DCB dcb);
  // Opens a device by number (0 for the HID device). Nonzero = open.
  virtual int Open(int nDevice);
  virtual int Close() = 0;  // closes the link; safe when it is not open
  // Receives exactly dwLen bytes. Nonzero = all received, 0 = failed or timed out.
  virtual int RecvData(BYTE* pBuffer, DWORD dwLen) = 0;
  // Sends dwLen bytes. Nonzero = sent, 0 = failed.
  virtual int SendData(BYTE* pBuffer, DWORD dwLen) = 0;
};

// A serial port: raw 8N1 (or what the DCB names) at the DCB's baud rate,
// opened exclusively. On POSIX it is a termios tty, on Windows a COM handle.
//
// The receive time-out is the longest silence a device is granted before
// RecvData gives up; the time the line needs to carry the bytes asked for is
// added to it. Real devices answer within tens of milliseconds; USB adapters
// and RFCOMM ttys add latency of their own, up to a few hundred under a busy
// radio, so the default leaves room for both. What it costs:
//  - every receive that gets no answer costs it once: a port search spends
//    100 ms + the time-out on every port where nothing answers, and
//    detection, whose five probes each wait 100 ms, receive and then drain
//    the line, spends about 5 x (100 + 2 x 500) ms = 5.5 s on each openable
//    port with no device;
//  - a download that ends when the device stops sending ends one time-out
//    after the last byte, and every drain of the line costs one time-out.
// A host that knows its links answer fast can lower it, also for detection
// by handing its own device to CSelectProtocol::SetDevice. SendData has the
// same bound to hand its bytes to the line.
class BPLINK_API CDevice_COM : public CDevice {
 public:
  static constexpr unsigned kDefaultRecvTimeoutMs = 500;  // the receive time-out a new object starts with

  CDevice_COM();
  ~CDevice_COM() override;
  CDevice_COM(const CDevice_COM&) = delete;
  CDevice_COM& operator=(const CDevice_COM&) = delete;

  // Opens the port at strPath, closing any port this object held. Besides
  // the platform's own paths, "\\.\NAME" is accepted everywhere and means
  // bplink::ComPortPath(NAME). 1 = open. 0 = not open; GetLastLinkError()
  // says why:
  //  - kNoSuchPort: nothing at the path (also a built-in port without its
  //    UART, which Linux reports as an input/output error);
  //  - kPermissionDenied: this user may not open it (POSIX; on Windows a
  //    COM port that refuses access is held by someone, so kInUse);
  //  - kInUse: another program or CDevice_COM holds it;
  //  - kNotSerialPort: it opens, but is no serial port (/dev/null);
  //  - kSettingsRefused: the port cannot take the DCB's speed or framing;
  //  - kOther: anything else, with the system's text.
  int Open(CString strPath, DCB dcb) override;
  // Always 0 (kOther): a serial port is opened by path.
  int Open(int nDevice) override;
  // Safe to call when closed. Always 1; leaves the last reason as it was.
  int Close() override;
  // 1 when all dwLen bytes came within the time-out (plus the line time of
  // the bytes); 0 otherwise, with the reason: kNotOpen, kTimedOut (the text
  // tells how many came), kLinkLost (the line hung up, or the system's read
  // failed: an unplugged adapter). Bytes that came before a failure are
  // consumed.
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  // 1 when the line took all dwLen bytes within the same bound; 0 otherwise,
  // with the reason: kNotOpen, kTimedOut, kLinkLost.
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // Takes effect from the next RecvData or SendData, also on an open port.
  // The receive time-out, from the next RecvData or SendData on.
  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }  // the receive time-out
  bool IsOpen() const { return m_hPort != kInvalidPort; }  // whether a port is open
  // Why the last Open, RecvData or SendData failed; kind kNone after one
  // that succeeded. Read it on the thread that made the call.
  const bplink::LinkError& GetLastLinkError() const { return m_LastError; }

 private:
  static constexpr std::intptr_t kInvalidPort = -1;
  std::intptr_t m_hPort = kInvalidPort;  // file descriptor, or HANDLE on Windows
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;
  DWORD m_nBaudRate = 0;                 // the line speed of the open port
  bplink::LinkError m_LastError;
};

namespace bplink {

// Which attached HID device CDevice_HID::Open(n) opens: among the devices with
// these ids whose top-level usage page lies in [usage_page_min, usage_page_max],
// in the order the platform lists them, match number index + n. The protocols
// always call Open(0), so `index` is how a host points them at a second device.
//
// The default takes any vendor and product but only vendor-defined usage pages:
// the devices carry their frames in a vendor-defined collection, and this keeps
// keyboards, mice and other standard collections out of the search. A host that
// knows its device's ids should set them, so that no other vendor-defined
// interface is ever opened and sent a frame.
struct HidSelector {
  static constexpr std::uint16_t kAny = 0;                         // any vendor or product id
  static constexpr std::uint16_t kVendorUsagePageFirst = 0xFF00;   // the first vendor-defined usage page
  static constexpr std::uint16_t kVendorUsagePageLast = 0xFFFF;    // the last vendor-defined usage page

  std::uint16_t vendor_id = kAny;                        // USB vendor id, or kAny
  std::uint16_t product_id = kAny;                       // USB product id, or kAny
  std::uint16_t usage_page_min = kVendorUsagePageFirst;  // lowest top-level usage page taken
  std::uint16_t usage_page_max = kVendorUsagePageLast;   // highest top-level usage page taken
  int index = 0;                                         // which match Open(0) opens, from 0
};

// The selector a new CDevice_HID starts with; one per process. Changing it
// does not touch objects that already exist.
BPLINK_API HidSelector DefaultHidSelector();                         // the process's default
BPLINK_API void SetDefaultHidSelector(const HidSelector& selector);  // replaces the process's default

}  // namespace bplink

// The low-level USB HID handle under CDevice_HID. A plain holder: copying it
// copies the pointer, and only the CDevice_HID that opened the link closes it.
class BPLINK_API CHID {
 public:
  CHID() = default;
  CHID(const CHID&);  // copies the handle's pointer; only the opener closes it
  CHID& operator=(const CHID&);  // copies the handle's pointer; only the opener closes it
  ~CHID();

  void* m_hDevice = nullptr;  // the open link (internal to the library), or null
  int m_nBlockLen = 0;        // report length in bytes, without the report id; 0 before the first open
};

// A USB HID device (hidapi: hidraw on Linux, the HID class driver on Windows).
//
// Report framing. A frame travels in reports of GetBlockLen() bytes: the
// device's output report length as its report descriptor gives it (its input
// length if it declares no output report), or kDefaultBlockLen, the length the
// protocol's frames are cut to, when the platform does not give the descriptor
// or the device numbers its reports. Every frame starts at the start of a report:
//  - SendData cuts the frame into as many output reports as it needs, each
//    sent with report id 0, and pads the last one with zeros;
//  - RecvData takes whole input reports until it holds the bytes asked for.
//    Bytes of the last report beyond those are that frame's padding and are
//    dropped, so the next RecvData starts with the next report.
// A device answers every request with whole frames and streams one frame per
// report, so no frame ever begins inside a report the host has already read.
//
// Time-out. RecvData waits at most GetRecvTimeout() for each report and
// returns 0 when one does not come (or the device fails). It costs time only
// when a device stays silent: an attached device that does not answer the
// detection request, a frame that never comes, a reply the device leaves out
// each cost one time-out. Open with no device attached costs nothing. The
// default leaves a device room to finish writing or erasing its store before
// it acknowledges.
//
// A copy takes the settings (selector, time-out, report length), never the
// open link nor the last reason; assigning to an open device closes it first.
class BPLINK_API CDevice_HID : public CDevice {
 public:
  static constexpr unsigned kDefaultRecvTimeoutMs = 2000;  // the time-out a new object starts with, per report
  static constexpr int kDefaultBlockLen = 64;  // the report length taken when the platform gives none

  CDevice_HID();
  CDevice_HID(const CDevice_HID&);  // copies the settings, not the open link nor the last reason
  CDevice_HID& operator=(const CDevice_HID&);  // closes this device if open, then copies the settings
  ~CDevice_HID() override;

  // A HID device has no path and line settings: always 0 (kOther).
  int Open(CString strPath, DCB dcb) override;
  // Opens match number GetSelector().index + nDevice (see HidSelector).
  // Nonzero = open. 0 = not open; GetLastLinkError() says why: kNoDevice at
  // once when no such device is attached (or it went between listing and
  // opening); kPermissionDenied, kInUse or kOther when the platform refused
  // it, with hidapi's text.
  int Open(int nDevice) override;
  // Safe when not open. Always 1; leaves the last reason as it was.
  int Close() override;
  // 1 when dwLen bytes came; 0 otherwise, with the reason: kNotOpen,
  // kTimedOut (a report did not come within the time-out), kLinkLost (hidapi
  // failed, typically the device was unplugged; its text).
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  // 1 when every report went out whole; 0 otherwise, with the reason:
  // kNotOpen, kLinkLost (hidapi failed, its text), kOther (a report went out
  // short).
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  int GetBlockLen() const { return m_HID.m_nBlockLen; }  // the report length in bytes (0 before the first open)

  // Which attached device Open(n) opens, from the next Open on.
  void SetSelector(const bplink::HidSelector& selector) { m_Selector = selector; }
  const bplink::HidSelector& GetSelector() const { return m_Selector; }  // which attached device Open(n) opens
  // The time-out for each report, from the next RecvData on.
  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }  // the time-out for each report
  bool IsOpen() const { return m_HID.m_hDevice != nullptr; }  // whether a device is open
  // Why the last Open, RecvData or SendData failed; kind kNone after one
  // that succeeded. Read it on the thread that made the call.
  const bplink::LinkError& GetLastLinkError() const { return m_LastError; }

 protected:
  CHID m_HID;  // the low-level handle
  bplink::HidSelector m_Selector;  // which attached device Open(n) opens
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;  // the time-out for each report
  bplink::LinkError m_LastError;  // why the last Open, RecvData or SendData failed
};

// A stream the host has already connected: an RFCOMM socket or a tty file
// descriptor on POSIX, a connected SOCKET on Windows. The host owns the
// handle: the device reads and writes it but never closes it, so a protocol
// that calls Close at the end of a transfer leaves the link to the host.
class BPLINK_API CBlueTooth {
 public:
  static constexpr std::intptr_t kInvalidHandle = -1;  // no link

  CBlueTooth() = default;
  explicit CBlueTooth(std::intptr_t hLink) : m_hLink(hLink) {}  // takes the host's connected handle

  bool IsConnected() const { return m_hLink != kInvalidHandle; }  // whether a handle was handed over

  std::intptr_t m_hLink = kInvalidHandle;  // the host's handle (a socket or file descriptor), or kInvalidHandle
};

// Bind it with SetDevice(&device, true): the link is open already, so the
// protocols talk through it without opening a port. RecvData and SendData
// keep the exact-count and time-out rules of CDevice_COM; a link has no line
// speed, so the time-out alone bounds a receive.
class BPLINK_API CDevice_Bluetooth : public CDevice {
 public:
  // The receive time-out a new object starts with.
  static constexpr unsigned kDefaultRecvTimeoutMs = CDevice_COM::kDefaultRecvTimeoutMs;

  CDevice_Bluetooth() = default;
  explicit CDevice_Bluetooth(std::intptr_t hLink) : m_BlueTooth(hLink) {}  // wraps the host's connected handle
  // Copies the handle (still the host's), the time-out and the last reason.
  CDevice_Bluetooth(const CDevice_Bluetooth&);
  // Copies the handle (still the host's), the time-out and the last reason.
  CDevice_Bluetooth& operator=(const CDevice_Bluetooth&);
  ~CDevice_Bluetooth() override;

  // Both report whether the host's link is there (1) or not (0, kNoDevice).
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  // Leaves the host's link open. Always 1; leaves the last reason as it was.
  int Close() override;
  // 1 when dwLen bytes came within the time-out; 0 otherwise, with the
  // reason: kNoDevice (no link handed over), kTimedOut, kLinkLost (the peer
  // closed, or the system's read failed; its text).
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  // 1 when the link took all dwLen bytes within the time-out; 0 otherwise,
  // with the reason as for RecvData.
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // The receive time-out, from the next RecvData or SendData on.
  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }  // the receive time-out
  // Why the last Open, RecvData or SendData failed; kind kNone after one
  // that succeeded. A copy carries its original's. Read it on the thread
  // that made the call.
  const bplink::LinkError& GetLastLinkError() const { return m_LastError; }

  CBlueTooth m_BlueTooth;  // the host's link

 private:
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;
  bplink::LinkError m_LastError;
};

namespace bplink {

// Why `device`'s last open, send or receive failed, for the transports that
// keep a reason (CDevice_COM, CDevice_HID, CDevice_Bluetooth); kind kNone for
// any other device.
BPLINK_API LinkError LastLinkError(const CDevice& device);

}  // namespace bplink
