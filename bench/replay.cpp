#include "replay.h"

#include <algorithm>

namespace bplink::bench {

int RecordingDevice::Open(CString strPath, DCB dcb) {
  recording_.opens.push_back(device_.Open(strPath, dcb));
  return recording_.opens.back();
}

int RecordingDevice::Open(int nDevice) {
  recording_.opens.push_back(device_.Open(nDevice));
  return recording_.opens.back();
}

int RecordingDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  Recording::Answer answer;
  answer.result = device_.RecvData(pBuffer, dwLen);
  if (pBuffer != nullptr) answer.bytes.assign(pBuffer, pBuffer + dwLen);
  recording_.receives.push_back(std::move(answer));
  return recording_.receives.back().result;
}

int ReplayDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  if (next_receive_ >= recording_.receives.size()) return 0;
  const Recording::Answer& answer = recording_.receives[next_receive_++];
  if (pBuffer != nullptr) std::copy_n(answer.bytes.begin(), std::min<std::size_t>(dwLen, answer.bytes.size()), pBuffer);
  return answer.result;
}

}  // namespace bplink::bench
