// bplink sim FAMILY: serve a simulated device on a pseudo-terminal until
// Ctrl-C or SIGTERM, so any host can be pointed at its path.
//
// Pseudo-terminals and sigwait are POSIX; a Windows build has the command
// but says it cannot serve there (--sim FAMILY works on every system).

#include <csignal>
#include <iostream>
#include <memory>

#include "commands/commands.h"
#include "exit_status.h"
#include "links.h"
#if !defined(_WIN32)
#include "pty_bridge.h"
#endif

namespace bplink::cli {
namespace {

void RunSim(const GlobalOptions& global, const std::string& name) {
  const Family* family = FindFamily(name);
  if (family == nullptr) throw CommandError(kExitBadInput, "no device family is called " + name);
  if (family->link != LinkKind::kSerial)
    throw CommandError(kExitBadInput, "a " + name + " device is not a serial device and cannot be served on a "
                                      "pseudo-terminal; use `--sim " + name + "` with any command instead");
  const std::unique_ptr<sim::DeviceModel> model = MakeSimulated(*family, global);
#if defined(_WIN32)
  throw CommandError(kExitFailed, "this system has no pseudo-terminals to serve a device on; use `--sim " + name +
                                      "` with any command instead");
#else

  // The signals are taken by sigwait below; the bridge's thread inherits the mask.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  sim::PtyBridge bridge(*model);
  if (!bridge.Start()) throw CommandError(kExitFailed, "no pseudo-terminal to be had");
  std::cout << bridge.Path() << '\n' << std::flush;
  std::cerr << "Serving a simulated " << name << " device on " << bridge.Path() << "; Ctrl-C to stop.\n";
  int signal = 0;
  sigwait(&stop, &signal);
  bridge.Stop();
#endif
}

}  // namespace

void AddSimCommand(CLI::App& app, const GlobalOptions& global) {
  auto family = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand("sim", "Serve a simulated device on a pseudo-terminal and print its path");
  command->add_option("family", *family, "The device family")->required()->check(CLI::IsMember(FamilyNames()));
  command->callback([&global, family] { RunSim(global, *family); });
}

}  // namespace bplink::cli
