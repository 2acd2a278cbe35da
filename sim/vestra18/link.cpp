// What the VESTRA18 monitor answers on the line: the detection probe at its
// probe speed, the read-out requests at its working speed, nothing else; and
// the pauses of a monitor that leaves frames out, which last as long as the
// host keeps waiting.
#include "vestra18/model.h"

namespace bplink::sim::vestra18 {

void Monitor::OnOpen(unsigned) {
  Outbox().clear();
  held_.clear();
}

void Monitor::Receive(const std::uint8_t* data, std::size_t size, unsigned baud) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = data[i];
    if (baud == kProbeBaud && byte == kProbe) {
      ++probes_answered_;
      Send(kProbeAnswer);
    } else if (baud == kBaud && byte >= kFirstRequest && byte <= kAllStoresRequest) {
      Answer(byte);
    }
  }
}

void Monitor::Emit(std::uint8_t byte) {
  if (held_.empty())
    Send(byte);
  else
    held_.back().bytes.push_back(byte);
}

void Monitor::Pause(int waits) { held_.push_back(Held{waits, {}}); }

// A pause that ends releases the bytes behind it; a pause right after them
// (a gap at the start of the next section) starts counting from here.
void Monitor::HostGaveUp() {
  if (held_.empty() || --held_.front().waits > 0) return;
  Send(held_.front().bytes);
  held_.pop_front();
}

Line::Line(const std::wstring& path, Monitor& monitor) : path_(path), monitor_(monitor) {
  AttachPort(path, &monitor);
}

int Line::Open(CString strPath, DCB dcb) {
  const int opened = InProcessDevice::Open(strPath, dcb);
  if (opened == 1) on_monitor_ = strPath == path_;
  return opened;
}

int Line::Close() {
  on_monitor_ = false;
  return InProcessDevice::Close();
}

int Line::RecvData(BYTE* pBuffer, DWORD dwLen) {
  const int received = InProcessDevice::RecvData(pBuffer, dwLen);
  if (received == 0 && on_monitor_) monitor_.HostGaveUp();
  return received;
}

}  // namespace bplink::sim::vestra18
