// Alarm limits and the alarm switch value.

#include <bplink/codes.h>
#include <bplink/protocol_new.h>

// Not wired yet: the four transfers answer 1 without an exchange.
int CProtocol_NEW::DownloadWarnInfo() { return bplink::kResultOk; }
int CProtocol_NEW::UploadWarnInfo() { return bplink::kResultOk; }
int CProtocol_NEW::DownloadWarnSwitchInfo() { return bplink::kResultOk; }
int CProtocol_NEW::UploadWarnSwitchInfo() { return bplink::kResultOk; }
