#include "in_process_device.h"

#include <bplink/env.h>

#include <algorithm>

namespace bplink::sim {

int InProcessDevice::Open(CString strPath, DCB dcb) {
  tried_paths_.push_back(strPath);
  const auto port = ports_.find(strPath);
  if (port == ports_.end() || port_open_ || current_ != nullptr) return 0;
  ++opens_;
  port_open_ = true;
  current_ = port->second;
  baud_ = dcb.BaudRate;
  if (current_ != nullptr) current_->OnOpen(baud_);
  return 1;
}

int InProcessDevice::Open(int) {
  if (hid_model_ == nullptr || current_ != nullptr || port_open_) return 0;
  ++opens_;
  current_ = hid_model_;
  baud_ = kNoLineSpeed;
  current_->OnOpen(baud_);
  return 1;
}

int InProcessDevice::Close() {
  if (current_ != nullptr) current_->OnClose();
  if (current_ != nullptr || port_open_) ++closes_;
  current_ = nullptr;
  port_open_ = false;
  return 1;
}

int InProcessDevice::SendData(BYTE* pBuffer, DWORD dwLen) {
  if (!port_open_ && current_ == nullptr) return 0;
  if (tap_) tap_(true, pBuffer, dwLen);
  if (current_ != nullptr) current_->Receive(pBuffer, dwLen, baud_);
  return 1;
}

int InProcessDevice::RecvData(BYTE* pBuffer, DWORD dwLen) {
  if (!port_open_ && current_ == nullptr) return 0;
  if (current_ == nullptr || current_->Outbox().size() < dwLen) {
    // Like a real port, the bytes that did arrive are consumed by the failed
    // read, and land at the front of the buffer in order.
    if (current_ != nullptr) {
      std::copy(current_->Outbox().begin(), current_->Outbox().end(), pBuffer);
      current_->Outbox().clear();
    }
    bplink::CurrentEnv()->Sleep(recv_timeout_ms_);
    return 0;
  }
  auto& outbox = current_->Outbox();
  std::copy_n(outbox.begin(), dwLen, pBuffer);
  outbox.erase(outbox.begin(), outbox.begin() + dwLen);
  if (tap_) tap_(false, pBuffer, dwLen);
  return 1;
}

}  // namespace bplink::sim
