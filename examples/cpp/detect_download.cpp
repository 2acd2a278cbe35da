// A host in C++: finds every device on the serial ports named on the command
// line at once (bplink::DetectAll),
// says what each port gave, then downloads from the first device found with
// the protocol class the families' table names for it.
//
//   detect_download PORT...     e.g. /dev/ttyUSB0, or the path `bplink sim` printed
//
// The ports reach DetectAll through the Env: the host installs one whose port
// list is its own, as a host that keeps its users' port choice would.

#include <bplink/bplink.h>
#include <bplink/scan/detect_all.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

class GivenPorts : public bplink::EnvWrapper {
 public:
  explicit GivenPorts(std::vector<std::wstring> ports)
      : EnvWrapper(bplink::Env::Default()), ports_(std::move(ports)) {}
  std::vector<std::wstring> ComPortNames() override { return ports_; }

 private:
  std::vector<std::wstring> ports_;
};

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: detect_download PORT...\n";
    return 2;
  }
  std::vector<std::wstring> ports;
  for (int i = 1; i < argc; ++i) ports.emplace_back(argv[i], argv[i] + std::char_traits<char>::length(argv[i]));
  GivenPorts env(ports);
  bplink::SetEnv(&env);

  bplink::DetectAllOptions options;
  options.probeHid = false;
  options.serialTimeoutMs = 150;  // a pty or a local adapter answers at once
  std::vector<bplink::DetectedPort> found;
  const int detected = bplink::DetectAll(found, options);
  for (const bplink::DetectedPort& port : found) {
    std::cout << Narrow(port.port) << ": " << bplink::PortStatusText(port.status);
    if (port.status == bplink::PortStatus::kFound) std::cout << ", protocol " << port.device.nProtocol;
    if (!port.error.text.empty()) std::cout << " (" << port.error.text << ")";
    std::cout << '\n';
  }
  const bplink::DetectedPort* first = bplink::FirstFound(found);
  const bplink::Family* family = first != nullptr ? bplink::FamilyForProtocol(first->device.nProtocol) : nullptr;
  if (detected != bplink::kResultOk || family == nullptr) {
    std::cerr << "no device: " << bplink::ResultText(detected) << '\n';
    bplink::SetEnv(nullptr);
    return 1;
  }

  // The protocol searches the Env's ports itself; it finds the same device.
  CDevice_COM device;
  device.SetRecvTimeout(options.serialTimeoutMs);
  std::unique_ptr<CProtocolBase> protocol = family->make();
  protocol->SetDevice(&device, false);
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  protocol->SetProgressInfo(&progress, &state, &stage);
  const int result = protocol->PC_Download(DATAMODE_BP);
  _DOWNLOAD_DATAINFO data;
  protocol->GetDownLoadData(&data);
  bplink::SetEnv(nullptr);

  std::cout << family->className << ": " << bplink::ResultText(result) << ", " << data.BPSet.vecRecords.size()
            << " readings\n";
  if (result != bplink::kResultOk) std::cerr << "why: " << device.GetLastLinkError().text << '\n';
  return result == bplink::kResultOk && !data.BPSet.vecRecords.empty() ? 0 : 1;
}
