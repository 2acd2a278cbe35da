// The port list: the Env's candidates in its order, the probe, the names.

#include <bplink/comports.h>
#include <bplink/device.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "virtual_env.h"
#if !defined(_WIN32)
#  include "pty.h"
#  include "real_time.h"
#endif

namespace {

using bplink::ComPortPath;
using Names = std::vector<std::wstring>;

Names PortNames(const COMPORT_LIST& list) {
  Names names;
  for (const COMPORT_ENTRY& e : list) names.push_back(e.strPortName);
  return names;
}

TEST(EnumerateComPorts, ProbeKeepsOpenablePortsInSearchOrder) {
  const Names candidates = {L"COM1", L"COM2", L"COM4", L"COM255", L"COM3"};  // as Windows searches: COM3 last
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  env.SetPortNames(candidates);
  env.SetOpenablePaths({ComPortPath(L"COM3"), ComPortPath(L"COM1")});

  COMPORT_LIST list(2);  // whatever the caller's list held goes
  EnumerateComPorts(list, false);
  EXPECT_EQ(PortNames(list), candidates);
  EXPECT_TRUE(env.ProbedPaths().empty());

  EnumerateComPorts(list, true);
  ASSERT_EQ(PortNames(list), (Names{L"COM1", L"COM3"}));
  for (const COMPORT_ENTRY& e : list) {
    EXPECT_EQ(e.strPath, ComPortPath(e.strPortName));
    EXPECT_EQ(e.strFriendlyName, e.strPortName);
    EXPECT_EQ(e.strDescription, e.strPortName);
    EXPECT_EQ(e.bUsb, 0);
  }
  ASSERT_EQ(env.ProbedPaths().size(), candidates.size());  // each once, in list order
  EXPECT_EQ(env.ProbedPaths().back(), ComPortPath(L"COM3"));
}

TEST(ComPortDescription, CutsOnlyAClosingParenthesisedTail) {
  using bplink::ComPortDescription;
  EXPECT_EQ(ComPortDescription(L"USB Serial Port (COM5)"), L"USB Serial Port");
  EXPECT_EQ(ComPortDescription(L"Modem (internal (COM2)"), L"Modem");
  EXPECT_EQ(ComPortDescription(L"Port (COM5) x"), L"Port (COM5) x");  // ")" is not last
  EXPECT_EQ(ComPortDescription(L" (COM5)"), L" (COM5)");              // " (" at the start
  EXPECT_EQ(ComPortDescription(L")"), L")");
}

#if !defined(_WIN32)
// The real probe against real ttys: a port held by a CDevice_COM is dropped,
// a free one kept, and the probe leaves nothing open behind it.
struct MachineProbe : bplink::EnvWrapper {
  explicit MachineProbe(Names ports) : EnvWrapper(bplink::Env::Default()), ports(std::move(ports)) {}
  Names ComPortNames() override { return ports; }
  Names ports;
};

TEST(EnumerateComPorts, RealProbeDropsHeldPortsAndLeavesNothingOpen) {
  auto open_descriptors = [] {
    auto fds = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(fds), end(fds));
  };
  bplink::sim::Pty free_port, held_port;
  ASSERT_TRUE(free_port.IsOpen() && held_port.IsOpen());
  const std::wstring free_path(free_port.Path().begin(), free_port.Path().end());
  const std::wstring held_path(held_port.Path().begin(), held_port.Path().end());
  CDevice_COM holder;
  ASSERT_EQ(holder.Open(held_path, bplink::testing::Line(CBR_9600)), 1);

  MachineProbe env({held_path, L"/dev/no-such-tty", free_path});
  bplink::testing::ScopedEnv scope(&env);
  const auto before = open_descriptors();
  COMPORT_LIST list;
  EnumerateComPorts(list, true);
  EXPECT_EQ(open_descriptors(), before);
  ASSERT_EQ(PortNames(list), (Names{free_path}));
  CDevice_COM user;
  EXPECT_EQ(user.Open(list[0].strPath, bplink::testing::Line(CBR_9600)), 1);  // no lock left on it
}
#endif

}  // namespace
