#include "recording_device.h"

#include <cstdio>

namespace bplink::sim {
namespace {

std::string Narrow(const CString& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  return narrow;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char cell[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(cell, sizeof cell, i ? " %02X" : "%02X", bytes[i]);
    text += cell;
  }
  return text;
}

}  // namespace

int RecordingDevice::Open(CString strPath, DCB dcb) {
  const int r = inner_.Open(strPath, dcb);
  observer_({LinkEvent::Kind::kOpen, r, {}, 0, Narrow(strPath) + " at " + std::to_string(dcb.BaudRate) + " baud"});
  return r;
}

int RecordingDevice::Open(int nDevice) {
  const int r = inner_.Open(nDevice);
  observer_({LinkEvent::Kind::kOpen, r, {}, 0, "device " + std::to_string(nDevice)});
  return r;
}

int RecordingDevice::Close() {
  const int r = inner_.Close();
  observer_({LinkEvent::Kind::kClose, r, {}, 0, {}});
  return r;
}

int RecordingDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  const int r = inner_.RecvData(pBuffer, dwLen);
  LinkEvent event{LinkEvent::Kind::kReceived, r, {}, dwLen, {}};
  if (r != 0 && pBuffer != nullptr) event.bytes.assign(pBuffer, pBuffer + dwLen);
  observer_(event);
  return r;
}

int RecordingDevice::SendData(BYTE* pBuffer, DWORD dwLen) {
  LinkEvent event{LinkEvent::Kind::kSent, 0, {}, dwLen, {}};
  if (pBuffer != nullptr) event.bytes.assign(pBuffer, pBuffer + dwLen);
  event.result = inner_.SendData(pBuffer, dwLen);
  observer_(event);
  return event.result;
}

RecordingDevice::Observer TraceTo(std::ostream& out, std::function<double()> now) {
  return [&out, now = std::move(now)](const LinkEvent& e) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%10.3f] ", now());
    out << stamp;
    switch (e.kind) {
      case LinkEvent::Kind::kOpen: out << "open " << e.target << (e.result ? "" : ": failed"); break;
      case LinkEvent::Kind::kClose: out << "close"; break;
      case LinkEvent::Kind::kSent: out << "> " << Hex(e.bytes) << (e.result ? "" : "  (send failed)"); break;
      case LinkEvent::Kind::kReceived:
        if (e.result) out << "< " << Hex(e.bytes);
        else out << "< nothing (" << e.asked << " bytes expected)";
        break;
    }
    out << '\n' << std::flush;
  };
}

}  // namespace bplink::sim
