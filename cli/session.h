// Reaching a device the way a host drives the library: make the link (a
// real port, or a simulated device in process), identify the device or take
// the protocol the user named, create the family's protocol object, and run
// one transfer at a time on a worker thread while this thread shows the
// progress and passes Ctrl-C on as the library's stop request.
#pragma once

#include <bplink/bplink.h>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "families.h"
#include "in_process_device.h"
#include "recording_device.h"

namespace bplink::cli {

struct GlobalOptions {
  std::optional<std::string> sim;   // --sim FAMILY
  SimSettings sim_settings;
  std::optional<std::string> sim_plan;  // --sim-plan FILE
  std::optional<std::string> port;  // --port PATH
  std::optional<int> protocol;      // --protocol N
  bool trace = false;
  std::optional<unsigned> timeout_ms;
};

// A failure a command reports: the message for stderr and the exit status.
class CommandError : public std::runtime_error {
 public:
  CommandError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

// The machine's two links as one device, the way detection and the protocol
// objects take it: Open(0) reaches the USB HID device, Open(path, dcb) a
// serial port, and the other calls go to whichever was opened last.
class MachineLinks : public CDevice {
 public:
  void SetRecvTimeout(unsigned milliseconds) { com_.SetRecvTimeout(milliseconds); }
  int Open(CString strPath, DCB dcb) override;
  int Open(int nDevice) override;
  int Close() override;
  int RecvData(BYTE* pBuffer, DWORD dwLen) override;
  int SendData(BYTE* pBuffer, DWORD dwLen) override;

 private:
  CDevice_HID hid_;
  CDevice_COM com_;
  CDevice* current_ = &com_;
};

// The transport device of one run: the machine's links or a simulated
// device in process, slowed by --sim-pace and wrapped for --trace.
class Link {
 public:
  explicit Link(const GlobalOptions& options);
  ~Link();
  CDevice& Device();

 private:
  std::unique_ptr<sim::DeviceModel> model_;
  std::unique_ptr<sim::InProcessDevice> simulated_;
  std::unique_ptr<CDevice> paced_;
  MachineLinks machine_;
  std::unique_ptr<sim::RecordingDevice> traced_;
  CDevice* device_ = nullptr;
};

// A device that answered, and the protocol object that serves it.
struct Session {
  // The host's three progress variables, at a fixed place while the session moves.
  struct Progress {
    int percent = 0;
    int state = 0;
    enum_TransportType stage = TRANSPORT_BP_MODE0;
  };
  std::unique_ptr<Progress> progress;
  const Family* family = nullptr;
  std::unique_ptr<CProtocolBase> protocol;
  tag_SUPPORT_PROTOCOL device;
  int modes[kDataModeCount] = {};

  int FirstMode() const;  // 0 when none is offered
  // A transfer's result as an exit status, and in words, as this family means it.
  int ExitFor(int result) const;
  std::string Explain(int result) const;
  bool Offers(int mode) const { return mode > 0 && mode < kDataModeCount && modes[mode] == 1; }
};

// The simulated device of `family` the options ask for. Throws CommandError.
std::unique_ptr<sim::DeviceModel> MakeSimulated(const Family& family, const GlobalOptions& options);

// Identifies the device (detection over USB HID and the serial ports, or
// --protocol) and binds its protocol object to the link. Throws CommandError,
// with what was tried when nothing answered.
Session Connect(const GlobalOptions& options, Link& link);

// How a transfer ended.
struct TransferOutcome {
  int result = 0;
  bool interrupted = false;  // the user pressed Ctrl-C
};

// Runs `transfer` on a worker thread with the session's progress variables
// registered; shows a progress bar on stderr when it is a terminal.
TransferOutcome RunTransfer(Session& session, const std::function<int()>& transfer);

// Installs the Ctrl-C handling: during a transfer the first Ctrl-C asks it
// to stop, a second one (or one outside a transfer) ends the program.
void InstallInterruptHandler();

std::string DataModeName(int mode);

}  // namespace bplink::cli
