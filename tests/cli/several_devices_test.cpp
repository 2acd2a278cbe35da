// The program with more than one port: `bplink detect` reports every device
// and every port that gave none, and a transfer takes the only device found
// or asks which one, naming them. Each device is served by `bplink sim` on a
// pseudo-terminal; a silent pty and a missing path stand for ports with
// nothing on them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "program_runner.h"
#include "pty.h"
#include "real_time.h"

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr int kExitBadInput = 2, kExitNoDevice = 4;
constexpr int kTimeoutMs = 120;
const std::string kMissing = "/dev/bplink-no-such-port";

class SeveralPorts : public ::testing::Test {
 protected:
  // A device of `family` served on a pty of its own; its port.
  std::string Serve(const std::string& family) {
    const auto dir = dir_ / family;  // each program's output files apart
    std::filesystem::create_directories(dir);
    sims_.push_back(std::make_unique<RunningProgram>(std::vector<std::string>{"sim", family}, dir));
    RunningProgram& sim = *sims_.back();
    EXPECT_TRUE(sim.AwaitErr("Ctrl-C to stop", 1)) << sim.Wait().err;
    return sim.Out().substr(0, sim.Out().find('\n'));
  }
  // `bplink ARGS` searching these ports, with a short time-out.
  static ProgramRun Run(std::vector<std::string> args, const std::vector<std::string>& ports) {
    for (const auto& port : ports) args.insert(args.end(), {"--port", port});
    args.insert(args.end(), {"--timeout", std::to_string(kTimeoutMs)});
    return RunProgram(args);
  }

  std::filesystem::path dir_ = TestDir();
  std::vector<std::unique_ptr<RunningProgram>> sims_;
};

TEST_F(SeveralPorts, DetectListsEveryDeviceAndWhyEachOtherPortGaveNone) {
  const std::string recorder = Serve("kx71"), monitor = Serve("vestra18");
  bplink::sim::Pty silent;
  ASSERT_TRUE(silent.IsOpen());
  const std::vector<std::string> ports = {silent.Path(), recorder, kMissing, monitor};

  const ProgramRun detect = Run({"detect"}, ports);
  ASSERT_EQ(detect.status, 0) << detect.err;
  EXPECT_THAT(detect.out, AllOf(HasSubstr("Found: ambulatory recorder on " + recorder + "\n  device type  1\n  protocol     6 (kx71"),
                                HasSubstr("Found: monitor with three stores on " + monitor +
                                          "\n  device type  5\n  protocol     10 (vestra18"),
                                HasSubstr("Nothing on:\n  USB HID: no device answered"),
                                HasSubstr("  " + silent.Path() + ": opens, but no serial family's probe was answered\n"),
                                HasSubstr("  " + kMissing + ": cannot be opened: no such file or directory\n")));

  // Two devices: a transfer does not guess, and names both.
  const ProgramRun download = Run({"download"}, ports);
  EXPECT_EQ(download.status, kExitBadInput);
  EXPECT_THAT(download.err, AllOf(HasSubstr("several devices found; name the one to use with --port PATH:"),
                                  HasSubstr("  " + recorder + ": kx71 (protocol 6)"),
                                  HasSubstr("  " + monitor + ": vestra18 (protocol 10)")));
  EXPECT_THAT(download.err, Not(HasSubstr(silent.Path())));

  // One device among the ports: it is the one, and its class searches only its port.
  const ProgramRun info = Run({"info"}, {silent.Path(), monitor, kMissing});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_THAT(info.out, AllOf(HasSubstr("4  store 1"), HasSubstr("Plan: this device takes none")));
}

// Nothing connected: every port waits out its probes at the same time, so
// four silent ports cost about what one does, not four times as much.
TEST_F(SeveralPorts, NothingConnectedAnswersInAboutOnePortsTime) {
  std::vector<std::unique_ptr<bplink::sim::Pty>> ptys(4);
  std::vector<std::string> ports;
  for (auto& pty : ptys) {
    pty = std::make_unique<bplink::sim::Pty>();
    ASSERT_TRUE(pty->IsOpen());
    ports.push_back(pty->Path());
  }
  const bplink::testing::Stopwatch watch;
  const ProgramRun detect = Run({"detect"}, ports);
  const long long ms = watch.ElapsedMs();
  EXPECT_EQ(detect.status, kExitNoDevice);
  for (const auto& port : ports) EXPECT_THAT(detect.err, HasSubstr(port + " (opens, but no serial family's probe was answered)"));
  // One silent port: five probes, each a pause and two receive time-outs.
  constexpr long long kOnePortMs = 5 * (100 + 2 * kTimeoutMs);
  EXPECT_LT(ms, 2 * kOnePortMs) << "the ports were probed one after another";
}

}  // namespace
