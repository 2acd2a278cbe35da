// A CDevice that passes every call to another one and reports each call and
// the bytes that crossed: what `--trace` prints, and a tap that other hosts
// (a fuzzer replaying captured sessions, for one) can reuse as it is.
#pragma once

#include <bplink/device.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bplink::sim {

struct LinkEvent {
  enum class Kind { kOpen, kClose, kSent, kReceived };
  Kind kind;
  int result = 0;                   // what the wrapped device answered
  std::vector<std::uint8_t> bytes;  // sent, or received (empty when a receive failed)
  std::size_t asked = 0;            // bytes a send or receive was given or asked for
  std::string target;               // the path or device number an open was given
};

class RecordingDevice : public CDevice {
 public:
  using Observer = std::function<void(const LinkEvent&)>;
  RecordingDevice(CDevice& inner, Observer observer) : inner_(inner), observer_(std::move(observer)) {}

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

 private:
  CDevice& inner_;
  Observer observer_;
};

}  // namespace bplink::sim
