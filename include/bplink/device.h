// The transport devices the protocols talk through.
//
// A protocol object only ever calls the six virtual slots of CDevice; the
// concrete links (serial port, USB HID, a host-connected Bluetooth stream)
// live behind them. None of them prints, logs or throws to the caller.
#pragma once

#include <bplink/export.h>
#include <bplink/wintypes.h>

#include <cstdint>

class BPLINK_API CDevice {
 public:
  CDevice() = default;
  CDevice(const CDevice&);
  CDevice& operator=(const CDevice&);
  virtual ~CDevice();

  // Opens a serial port by path ("\\.\COM3", "/dev/ttyUSB0") with the given
  // line settings. 1 = open, anything else = not open.
  virtual int Open(CString strPath, DCB dcb);
  // Opens a device by number (0 for the HID device). Nonzero = open.
  virtual int Open(int nDevice);
  virtual int Close() = 0;
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
  static constexpr unsigned kDefaultRecvTimeoutMs = 500;

  CDevice_COM();
  ~CDevice_COM() override;
  CDevice_COM(const CDevice_COM&) = delete;
  CDevice_COM& operator=(const CDevice_COM&) = delete;

  // Opens the port at strPath, closing any port this object held. Besides
  // the platform's own paths, "\\.\NAME" is accepted everywhere and means
  // bplink::ComPortPath(NAME). 1 = open; 0 when the port is missing, held by
  // another program or handle, not a serial port, or cannot take the DCB's
  // settings.
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;  // always 0: a serial port is opened by path
  int Close() override;            // safe to call when closed
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // Takes effect from the next RecvData or SendData, also on an open port.
  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }
  bool IsOpen() const { return m_hPort != kInvalidPort; }

 private:
  static constexpr std::intptr_t kInvalidPort = -1;
  std::intptr_t m_hPort = kInvalidPort;  // file descriptor, or HANDLE on Windows
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;
  DWORD m_nBaudRate = 0;                 // the line speed of the open port
};

// The low-level USB HID handle under CDevice_HID.
class BPLINK_API CHID {
 public:
  CHID() = default;
  CHID(const CHID&);
  CHID& operator=(const CHID&);
  ~CHID();

  void* m_hDevice = nullptr;  // the platform's HID handle; not owned by copies
  int m_nBlockLen = 0;        // report length in bytes, without the report id
};

// A USB HID device; frames travel in reports of GetBlockLen() bytes.
class BPLINK_API CDevice_HID : public CDevice {
 public:
  CDevice_HID() = default;
  CDevice_HID(const CDevice_HID&);
  CDevice_HID& operator=(const CDevice_HID&);
  ~CDevice_HID() override;

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  int GetBlockLen() const { return m_HID.m_nBlockLen; }

 protected:
  CHID m_HID;
};

// A stream the host has already connected: an RFCOMM socket or a tty file
// descriptor on POSIX, a connected SOCKET on Windows. The host owns the
// handle: the device reads and writes it but never closes it, so a protocol
// that calls Close at the end of a transfer leaves the link to the host.
class BPLINK_API CBlueTooth {
 public:
  static constexpr std::intptr_t kInvalidHandle = -1;

  CBlueTooth() = default;
  explicit CBlueTooth(std::intptr_t hLink) : m_hLink(hLink) {}

  bool IsConnected() const { return m_hLink != kInvalidHandle; }

  std::intptr_t m_hLink = kInvalidHandle;
};

// Bind it with SetDevice(&device, true): the link is open already, so the
// protocols talk through it without opening a port. RecvData and SendData
// keep the exact-count and time-out rules of CDevice_COM; a link has no line
// speed, so the time-out alone bounds a receive.
class BPLINK_API CDevice_Bluetooth : public CDevice {
 public:
  static constexpr unsigned kDefaultRecvTimeoutMs = CDevice_COM::kDefaultRecvTimeoutMs;

  CDevice_Bluetooth() = default;
  explicit CDevice_Bluetooth(std::intptr_t hLink) : m_BlueTooth(hLink) {}
  CDevice_Bluetooth(const CDevice_Bluetooth&);
  CDevice_Bluetooth& operator=(const CDevice_Bluetooth&);
  ~CDevice_Bluetooth() override;

  // Both report whether the host's link is there (1) or not (0).
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;  // leaves the host's link open
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }

  CBlueTooth m_BlueTooth;

 private:
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;
};
