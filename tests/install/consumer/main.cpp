// A host program built against an installed bplink, as a clinic's developer
// would build one: it downloads a simulated HID recorder's readings through
// the installed library and says what came.

#include <bplink/bplink.h>

#include <cstring>
#include <iostream>
#include <memory>

#include "in_process_device.h"
#include "settings.h"

namespace bplink::sim::hid {
std::unique_ptr<DeviceModel> MakeModel(const SimSettings& settings);
}

namespace {

constexpr int kReadings = 20;

// Pauses cost nothing: the simulated device answers at once.
class NoWaitEnv : public bplink::EnvWrapper {
 public:
  NoWaitEnv() : EnvWrapper(bplink::Env::Default()) {}
  void Sleep(unsigned) override {}
};

}  // namespace

int main() {
  // The library loaded must be the one whose headers this was built with.
  if (std::strcmp(bplink::Version(), BPLINK_VERSION_STRING) != 0) {
    std::cerr << "library " << bplink::Version() << ", headers " << BPLINK_VERSION_STRING << '\n';
    return 1;
  }
  NoWaitEnv env;
  bplink::SetEnv(&env);

  bplink::sim::SimSettings settings;
  settings.records = kReadings;
  const std::unique_ptr<bplink::sim::DeviceModel> model = bplink::sim::hid::MakeModel(settings);
  bplink::sim::InProcessDevice device(model.get());

  CProtocol_NEW protocol;
  protocol.SetDevice(&device, false);
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  protocol.SetProgressInfo(&progress, &state, &stage);
  const int result = protocol.PC_Download(DATAMODE_BP);
  _DOWNLOAD_DATAINFO data;
  protocol.GetDownLoadData(&data);
  bplink::SetEnv(nullptr);

  const auto& readings = data.BPSet.vecRecords;
  std::cout << "bplink " << bplink::Version() << ": result " << result << " (" << bplink::ResultText(result)
            << "), state " << state << ", " << readings.size() << " readings\n";
  const bool whole = readings.size() == static_cast<std::size_t>(kReadings) && readings.front().nSys > 0;
  return result == bplink::kResultOk && state == bplink::kStateSucceeded && whole ? 0 : 1;
}
