// SpO2 download of the monitors with SpO2 (device type 3).

#include <bplink/protocol_new.h>

// Not wired yet: only the stage is written, as the base does; no exchange.
int CProtocol_NEW::DownloadSpO2Data() { return CProtocolBase::DownloadSpO2Data(); }
