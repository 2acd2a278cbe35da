#include "operations.h"

namespace bplink::fuzz {

Outcome Download(std::unique_ptr<CProtocolBase> protocol, CDevice& device, enum_DataMode mode) {
  Host host(*protocol, device);
  Outcome outcome;
  outcome.result = protocol->PC_Download(mode);
  protocol->GetDownLoadData(&outcome.data);
  return outcome;
}

Outcome TimeInterval(CDevice& device, enum_DataMode) {
  CProtocol_NEW protocol;
  Host host(protocol, device);
  Outcome outcome;
  outcome.result = protocol.PC_DownloadBPInfoTimeInterval(outcome.needed);
  return outcome;
}

Outcome PatientInfo(CDevice& device, enum_DataMode) {
  CProtocol_NEW protocol;
  Host host(protocol, device);
  Outcome outcome;
  protocol.GetDownLoadDataMode(outcome.needed.nDataMode);
  // The patient transfer runs inside a session the host holds open.
  device.Open(0);
  outcome.result = protocol.DownloadPatientInfo();
  device.Close();
  protocol.GetDownLoadData(&outcome.data);
  return outcome;
}

Outcome Detect(CDevice& device, enum_DataMode) {
  CSelectProtocol select;
  select.SetDevice(&device);
  Outcome outcome;
  outcome.result = select.OnTestProtocol(outcome.detected);
  return outcome;
}

Outcome Replay(std::span<const std::uint8_t> input, Operation operation) {
  const enum_DataMode mode = TakeDataMode(input);
  FuzzMachine machine;
  ReplayDevice device(input);
  return operation(device, mode);
}

}  // namespace bplink::fuzz
