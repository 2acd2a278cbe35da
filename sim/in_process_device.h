// Puts simulated devices behind a CDevice in the same process.
//
// A HID model answers Open(0); serial models sit at port paths, where
// Open(path, dcb) finds them (a path with no model is a port with nothing
// attached, or no port at all). Reads that the model has not answered fail
// after the receive time-out, which the adapter spends through
// bplink::CurrentEnv()->Sleep, so with a virtual-clock Env a silent device
// costs no real time but its cost is still counted.
#pragma once

#include <bplink/device.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "device_model.h"

namespace bplink::sim {

class InProcessDevice : public CDevice {
 public:
  static constexpr unsigned kDefaultRecvTimeoutMs = 1000;

  InProcessDevice() = default;
  explicit InProcessDevice(DeviceModel* hidModel) : hid_model_(hidModel) {}

  // The model Open(int) connects to.
  void AttachHid(DeviceModel* model) { hid_model_ = model; }
  // A serial port at `path`; a null model is a port with nothing attached.
  void AttachPort(const std::wstring& path, DeviceModel* model) { ports_[path] = model; }
  void SetRecvTimeout(unsigned milliseconds) { recv_timeout_ms_ = milliseconds; }

  // Called with every frame that crosses the link: true = sent by the host.
  using Tap = std::function<void(bool fromHost, const BYTE* data, DWORD size)>;
  void SetTap(Tap tap) { tap_ = std::move(tap); }

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  bool IsOpen() const { return current_ != nullptr; }
  unsigned LineSpeed() const { return baud_; }
  int Opens() const { return opens_; }
  int Closes() const { return closes_; }
  // Every path an Open(path, dcb) was tried with, in order.
  const std::vector<std::wstring>& TriedPaths() const { return tried_paths_; }

 private:
  DeviceModel* hid_model_ = nullptr;
  std::map<std::wstring, DeviceModel*> ports_;
  DeviceModel* current_ = nullptr;
  bool port_open_ = false;  // a serial port is open (possibly with nothing attached)
  unsigned baud_ = kNoLineSpeed;
  unsigned recv_timeout_ms_ = kDefaultRecvTimeoutMs;
  int opens_ = 0;
  int closes_ = 0;
  std::vector<std::wstring> tried_paths_;
  Tap tap_;
};

}  // namespace bplink::sim
