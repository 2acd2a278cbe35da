// The patient block of the newer ambulatory recorders.

#include <bplink/codes.h>
#include <bplink/protocol_new.h>

// Not wired yet: both transfers answer 1 without an exchange.
int CProtocol_NEW::DownloadPatientInfo() { return bplink::kResultOk; }
int CProtocol_NEW::UploadPatientInfo() { return bplink::kResultOk; }
