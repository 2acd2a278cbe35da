// The port list: the Env's candidates in its order, the probe, the names.

#include <bplink/comports.h>
#include <bplink/device.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "virtual_env.h"

#if !defined(_WIN32)
#  include <dirent.h>
#  include <unistd.h>

#  include <filesystem>

#  include "pty.h"
#  include "real_time.h"
#endif

namespace {

using bplink::ComPortDescription;
using bplink::ComPortPath;

std::vector<std::wstring> FixedComNames() {
  std::vector<std::wstring> names;
  for (int n = 1; n <= 255; ++n)
    if (n != 3) names.push_back(L"COM" + std::to_wstring(n));
  names.push_back(L"COM3");
  return names;
}

std::vector<std::wstring> PortNames(const COMPORT_LIST& list) {
  std::vector<std::wstring> names;
  for (const COMPORT_ENTRY& e : list) names.push_back(e.strPortName);
  return names;
}

TEST(EnumerateComPorts, ProbeKeepsOpenablePortsInSearchOrder) {
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  env.SetPortNames(FixedComNames());
  env.SetOpenablePaths({ComPortPath(L"COM3"), ComPortPath(L"COM1")});
  COMPORT_LIST list(2);  // whatever the caller's list held goes

  EnumerateComPorts(list, true);

  ASSERT_EQ(PortNames(list), (std::vector<std::wstring>{L"COM1", L"COM3"}));
  for (const COMPORT_ENTRY& e : list) {
    EXPECT_EQ(e.strPath, ComPortPath(e.strPortName));
    EXPECT_EQ(e.strFriendlyName, e.strPortName);
    EXPECT_EQ(e.strDescription, e.strPortName);
    EXPECT_EQ(e.bUsb, 0);
  }
  // Every candidate was tried once, in the order of the list.
  std::vector<std::wstring> expected;
  for (const std::wstring& name : FixedComNames()) expected.push_back(ComPortPath(name));
  EXPECT_EQ(env.ProbedPaths(), expected);
}

TEST(EnumerateComPorts, WithoutProbeEveryCandidateStays) {
  bplink::testing::VirtualEnv env;
  bplink::testing::ScopedEnv scope(&env);
  env.SetPortNames(FixedComNames());
  COMPORT_LIST list;

  EnumerateComPorts(list, false);

  EXPECT_EQ(PortNames(list), FixedComNames());
  EXPECT_TRUE(env.ProbedPaths().empty());

  env.SetPortNames({});
  EnumerateComPorts(list, true);
  EXPECT_TRUE(list.empty());
}

TEST(ComPortDescription, CutsOnlyAClosingParenthesisedTail) {
  EXPECT_EQ(ComPortDescription(L"USB Serial Port (COM5)"), L"USB Serial Port");
  EXPECT_EQ(ComPortDescription(L"Communications Port (COM1)"), L"Communications Port");
  EXPECT_EQ(ComPortDescription(L"Port (COM5) x"), L"Port (COM5) x");      // ")" is not last
  EXPECT_EQ(ComPortDescription(L" (COM5)"), L" (COM5)");                  // " (" at the start
  EXPECT_EQ(ComPortDescription(L"A (B) (COM5)"), L"A (B) (COM5)");        // first ")" is not last
  EXPECT_EQ(ComPortDescription(L"Port(COM5)"), L"Port(COM5)");            // no " ("
  EXPECT_EQ(ComPortDescription(L"Modem (internal (COM2)"), L"Modem");
  EXPECT_EQ(ComPortDescription(L""), L"");
  EXPECT_EQ(ComPortDescription(L")"), L")");
}

#if !defined(_WIN32)
// The real probe against real ttys: a port held by a CDevice_COM is dropped,
// a free one kept, and the probe leaves nothing open behind it.
class PassThroughEnv : public bplink::testing::VirtualEnv {
 public:
  bool CanOpenComPort(const std::wstring& path) override {
    return bplink::Env::Default()->CanOpenComPort(path);
  }
};

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(EnumerateComPorts, RealProbeDropsHeldPortsAndLeavesNothingOpen) {
  bplink::sim::Pty free_port, held_port;
  ASSERT_TRUE(free_port.IsOpen() && held_port.IsOpen());
  const std::wstring free_path(free_port.Path().begin(), free_port.Path().end());
  const std::wstring held_path(held_port.Path().begin(), held_port.Path().end());
  CDevice_COM holder;
  ASSERT_EQ(holder.Open(held_path, bplink::testing::Line(9600)), 1);

  PassThroughEnv env;
  bplink::testing::ScopedEnv scope(&env);
  env.SetPortNames({held_path, L"/dev/no-such-tty", free_path});
  const int before = OpenDescriptors();
  COMPORT_LIST list;
  EnumerateComPorts(list, true);

  EXPECT_EQ(OpenDescriptors(), before);
  ASSERT_EQ(PortNames(list), (std::vector<std::wstring>{free_path}));
  EXPECT_EQ(list[0].strPath, free_path);
  CDevice_COM user;
  EXPECT_EQ(user.Open(free_path, bplink::testing::Line(9600)), 1);  // no lock was left on it
}
#endif

}  // namespace
