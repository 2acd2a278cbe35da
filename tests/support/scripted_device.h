// A CDevice that plays a script: it checks every frame the protocol sends
// against the one expected and hands back canned replies, so a test states
// the exchange on the wire in the order it happens.
//
//   ScriptedDevice dev;
//   dev.ExpectSend({0x40}).Reply({0x41, 0x11, ...}).ExpectSend({0x42}).Silence();
//
// Replies form a byte stream: one Reply may be read by several RecvData calls
// (header first, then body) and one RecvData may not span two Replies, since
// a device sends its frames one at a time.
#pragma once

#include <bplink/device.h>

#include <functional>
#include <string>
#include <vector>

namespace bplink::testing {

using Bytes = std::vector<BYTE>;

class ScriptedDevice : public CDevice {
 public:
  // --- building the script
  ScriptedDevice& ExpectSend(Bytes bytes, int result = 1);
  // Any frame of this length is accepted (for frames that carry the clock).
  ScriptedDevice& ExpectSendAny(DWORD length, int result = 1);
  ScriptedDevice& Reply(Bytes bytes);
  // The next RecvData fails, as a silent device does.
  ScriptedDevice& Silence();

  // Result of every Open; the number of Open and Close calls is counted.
  void SetOpenResult(int result) { open_result_ = result; }
  // Called before every RecvData with the number of reads so far.
  void OnRecv(std::function<void(int)> hook) { on_recv_ = std::move(hook); }

  // --- CDevice
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

  // --- what happened
  // Empty when every call matched the script and the script ran to its end.
  std::vector<std::string> Problems() const;
  bool Finished() const { return next_ == steps_.size(); }
  const std::vector<Bytes>& Sent() const { return sent_; }
  int Opens() const { return opens_; }
  int Closes() const { return closes_; }
  const std::vector<CString>& OpenedPaths() const { return opened_paths_; }
  const std::vector<DWORD>& OpenedBaudRates() const { return opened_bauds_; }

 private:
  enum class Kind { kSend, kSendAny, kReply, kSilence };
  struct Step {
    Kind kind;
    Bytes bytes;
    DWORD length = 0;
    int result = 1;
    size_t read = 0;  // bytes of a Reply already handed out
  };

  std::string Describe(size_t index) const;

  std::vector<Step> steps_;
  size_t next_ = 0;
  std::vector<std::string> problems_;
  std::vector<Bytes> sent_;
  int open_result_ = 1;
  int opens_ = 0;
  int closes_ = 0;
  int reads_ = 0;
  std::vector<CString> opened_paths_;
  std::vector<DWORD> opened_bauds_;
  std::function<void(int)> on_recv_;
};

// "40 41 0A" for test messages.
std::string Hex(const Bytes& bytes);

}  // namespace bplink::testing
