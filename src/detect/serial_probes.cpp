// The five serial probes, one per family: each runs the probe its family's
// wire.h defines (see serial/detection_probe.h). Detection itself walks the
// families' table in the same order; these keep each probe callable on its own.

#include <bplink/select_protocol.h>

#include <bplink/device.h>

#include "serial/detection_probe.h"
#include "serial/kv32/wire.h"
#include "serial/kx71/wire.h"
#include "serial/line.h"
#include "serial/vestra16/wire.h"
#include "serial/vestra16c/wire.h"
#include "serial/vestra18/wire.h"

using bplink::serial::RunDetectionProbe;

bool CSelectProtocol::TestKX71(CString strPath, DCB& dcb) {
  return RunDetectionProbe(*m_pDevice, strPath, dcb, bplink::serial::kx71::kDetectionProbe, m_SupportInfo.nVariant);
}

bool CSelectProtocol::TestKV32(CString strPath, DCB& dcb) {
  return RunDetectionProbe(*m_pDevice, strPath, dcb, bplink::serial::kv32::kDetectionProbe, m_SupportInfo.nVariant);
}

bool CSelectProtocol::Test16C(CString strPath, DCB& dcb) {
  return RunDetectionProbe(*m_pDevice, strPath, dcb, bplink::serial::vestra16c::kDetectionProbe,
                           m_SupportInfo.nVariant);
}

bool CSelectProtocol::Test16(CString strPath, DCB& dcb) {
  return RunDetectionProbe(*m_pDevice, strPath, dcb, bplink::serial::vestra16::kDetectionProbe,
                           m_SupportInfo.nVariant);
}

bool CSelectProtocol::Test18(CString strPath, DCB& dcb) {
  return RunDetectionProbe(*m_pDevice, strPath, dcb, bplink::serial::vestra18::kDetectionProbe,
                           m_SupportInfo.nVariant);
}

bool CSelectProtocol::ClearCommData() {
  bplink::serial::Drain(*m_pDevice);
  return true;
}
