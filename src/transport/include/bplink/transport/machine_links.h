// The machine's two links as one device, the way detection and the protocol
// objects take it: Open(0) reaches the USB HID device, Open(path, dcb) a
// serial port, and the other calls go to whichever was opened last. Used by
// the C interface's machine links and the program; not part of the exported
// C++ API.
#pragma once

#include <bplink/device.h>

namespace bplink {

class MachineLinks : public CDevice {
 public:
  // `serial_first`: which link Close, RecvData, SendData and LastError go
  // to before anything was opened.
  explicit MachineLinks(bool serial_first = true) : hid_current_(!serial_first) {}

  // The serial ports' receive time-out (CDevice_COM's); the USB HID link keeps its own.
  void SetRecvTimeout(unsigned milliseconds) { com_.SetRecvTimeout(milliseconds); }
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // Why the last Open, RecvData or SendData on the USB HID link, and on
  // the link used last, failed (kind kNone when it did not).
  const LinkError& HidError() const { return hid_.GetLastLinkError(); }
  const LinkError& LastError() const { return hid_current_ ? hid_.GetLastLinkError() : com_.GetLastLinkError(); }

 private:
  CDevice& Current() { return hid_current_ ? static_cast<CDevice&>(hid_) : com_; }

  CDevice_HID hid_;
  CDevice_COM com_;
  bool hid_current_;
};

}  // namespace bplink
