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

// A serial port. Bytes are received within a per-object time-out.
class BPLINK_API CDevice_COM : public CDevice {
 public:
  // How long RecvData waits for the bytes it was asked for. Every silent
  // probe and the end of every serial stream cost this long.
  static constexpr unsigned kDefaultRecvTimeoutMs = 1000;

  CDevice_COM();
  ~CDevice_COM() override;
  CDevice_COM(const CDevice_COM&) = delete;
  CDevice_COM& operator=(const CDevice_COM&) = delete;

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  void SetRecvTimeout(unsigned milliseconds) { m_nRecvTimeoutMs = milliseconds; }
  unsigned GetRecvTimeout() const { return m_nRecvTimeoutMs; }
  bool IsOpen() const { return m_hPort != kInvalidPort; }

 private:
  static constexpr std::intptr_t kInvalidPort = -1;
  std::intptr_t m_hPort = kInvalidPort;  // file descriptor, or HANDLE on Windows
  unsigned m_nRecvTimeoutMs = kDefaultRecvTimeoutMs;
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

// A stream the host has already connected (an RFCOMM socket or tty).
class BPLINK_API CBlueTooth {
 public:
  static constexpr std::intptr_t kInvalidHandle = -1;

  CBlueTooth() = default;
  explicit CBlueTooth(std::intptr_t hLink) : m_hLink(hLink) {}

  bool IsConnected() const { return m_hLink != kInvalidHandle; }

  std::intptr_t m_hLink = kInvalidHandle;
};

class BPLINK_API CDevice_Bluetooth : public CDevice {
 public:
  CDevice_Bluetooth() = default;
  explicit CDevice_Bluetooth(std::intptr_t hLink) : m_BlueTooth(hLink) {}
  CDevice_Bluetooth(const CDevice_Bluetooth&);
  CDevice_Bluetooth& operator=(const CDevice_Bluetooth&);
  ~CDevice_Bluetooth() override;

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  CBlueTooth m_BlueTooth;
};
