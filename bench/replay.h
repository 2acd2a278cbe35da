// A device that plays back what another device answered, so a protocol can
// run the same transfer again and again at the cost of its own code alone.
//
// A first pass runs through a RecordingDevice in front of the real (usually
// simulated) device and keeps the result and bytes of every Open and
// RecvData; a ReplayDevice then answers the same calls in the same order.
// Transfers are deterministic, so the calls come in the same order again.
#pragma once

#include <bplink/device.h>

#include <cstddef>
#include <vector>

namespace bplink::bench {

struct Recording {
  struct Answer {
    int result = 0;
    std::vector<BYTE> bytes;  // what a receive handed back
  };
  std::vector<int> opens;
  std::vector<Answer> receives;
};

class RecordingDevice : public CDevice {
 public:
  RecordingDevice(CDevice& device, Recording& recording) : device_(device), recording_(recording) {}

  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override { return device_.Close(); }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override { return device_.SendData(pBuffer, dwLen); }

 private:
  CDevice& device_;
  Recording& recording_;
};

class ReplayDevice : public CDevice {
 public:
  explicit ReplayDevice(const Recording& recording) : recording_(recording) {}

  // Back to the first call.
  void Rewind() { next_open_ = next_receive_ = 0; }

  int Open(CString, DCB) override { return NextOpen(); }
  int Open(int) override { return NextOpen(); }
  int Close() override { return 1; }
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE*, DWORD) override { return 1; }

 private:
  int NextOpen() { return next_open_ < recording_.opens.size() ? recording_.opens[next_open_++] : 0; }

  const Recording& recording_;
  std::size_t next_open_ = 0;
  std::size_t next_receive_ = 0;
};

}  // namespace bplink::bench
