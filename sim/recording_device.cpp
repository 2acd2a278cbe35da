#include "recording_device.h"

namespace bplink::sim {
namespace {

std::string Narrow(const CString& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  return narrow;
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

}  // namespace bplink::sim
