// What a plan may contain: allowed intervals, offered data modes, the
// device's current plan.

#include <bplink/codes.h>
#include <bplink/protocol_new.h>

// Not wired yet: the query answers as the base does (fixed list, result 10),
// and its two steps answer 1 without an exchange.
int CProtocol_NEW::PC_DownloadBPInfoTimeInterval(_UPLOAD_NEEDED_DATA& data) {
  return CProtocolBase::PC_DownloadBPInfoTimeInterval(data);
}
int CProtocol_NEW::DownloadDeviceInfo() { return bplink::kResultOk; }
int CProtocol_NEW::DownloadTimeInterval(std::vector<int>&) { return bplink::kResultOk; }
