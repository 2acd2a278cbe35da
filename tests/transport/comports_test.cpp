// Where the serial ports come from: the Env seam, the port list the search
// walks (the Env's candidates in its order, the probe, the names) and the
// device nodes the real Env offers.

#include <bplink/comports.h>
#include <bplink/env.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/line_timing.h"
#include "virtual_env.h"
#if !defined(_WIN32)
#  include <unistd.h>

#  include <filesystem>
#  include <fstream>

#  include "transport/serial_port_names.h"
#else
#  include "transport/com_port_names_windows.h"
#endif

namespace {

// A byte is ten bits on the line; a part of a millisecond counts as a whole
// one, and a whole number of milliseconds is not rounded further.
TEST(LineTime, RoundsUpToWholeMilliseconds) {
  EXPECT_EQ(bplink::LineTimeMs(1, 115200), 1u);
  EXPECT_EQ(bplink::LineTimeMs(12, 4800), 25u);
  EXPECT_EQ(bplink::LineTimeMs(12, 0), 0u);
  EXPECT_EQ(bplink::DeadlineMs(4294967290u, 12, 4800), 4294967295u);
}

using bplink::ComPortPath;
using bplink::CurrentEnv;
using Names = std::vector<std::wstring>;

// A wrapper installed for the library forwards every call it does not
// override to its target, and the real Env is back once it is gone.
TEST(EnvWrapper, ForwardsAllButWhatItOverridesWhileInstalled) {
  bplink::testing::VirtualEnv target;
  target.SetPortNames({L"ttyUSB0", L"ttyS0"});
  target.SetOpenablePaths({L"/dev/ttyUSB0"});
  struct OnePort : bplink::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    Names ComPortNames() override { return {L"pts/7"}; }
  } one(&target);
  {
    bplink::testing::ScopedEnv scope(&one);
    CurrentEnv()->Sleep(1250);
    EXPECT_EQ(target.Sleeps(), std::vector<unsigned>{1250});
    // The virtual local time moves with the virtual clock.
    EXPECT_EQ(CurrentEnv()->LocalTime(), (bplink::CalendarTime{2026, 1, 15, 9, 30, 1}));
    EXPECT_EQ(CurrentEnv()->ComPortNames(), Names{L"pts/7"});
    EXPECT_TRUE(CurrentEnv()->CanOpenComPort(L"/dev/ttyUSB0"));
    EXPECT_FALSE(CurrentEnv()->CanOpenComPort(L"/dev/ttyS0"));
  }
  EXPECT_EQ(CurrentEnv(), bplink::Env::Default());
  EXPECT_EQ(bplink::EnvWrapper(&target).ComPortNames(), (Names{L"ttyUSB0", L"ttyS0"}));
}

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

#if defined(_WIN32)
// The registry's ports in the search order, COM3 last; without its answer
// every name of the fixed list.
TEST(Env, RegisteredPortsInSearchOrderElseAllOfThem) {
  using bplink::OrderComPortNames;
  EXPECT_EQ(OrderComPortNames(Names{L"COM3", L"COM10", L"COM1", L"COM300"}),
            (Names{L"COM1", L"COM10", L"COM3", L"COM300"}));
  EXPECT_TRUE(OrderComPortNames(Names{}).empty());
  const Names all = OrderComPortNames(std::nullopt);
  ASSERT_EQ(all.size(), 255u);
  EXPECT_EQ(all[2], L"COM4");
  EXPECT_EQ(all.back(), L"COM3");
  EXPECT_EQ(ComPortPath(L"COM3"), L"\\\\.\\COM3");
  EXPECT_TRUE(bplink::IsValidTime(bplink::Env::Default()->LocalTime()));
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(ComPortPath(L"COM254")));
}
#else
// The real machine's probe is tried on held and free ttys with the serial
// port's own tests.
TEST(Env, RealMachineAnswersSensiblyWithPortsUnderDev) {
  EXPECT_EQ(ComPortPath(L"ttyUSB0"), L"/dev/ttyUSB0");
  EXPECT_EQ(ComPortPath(L"/dev/pts/3"), L"/dev/pts/3");
  EXPECT_TRUE(bplink::IsValidTime(bplink::Env::Default()->LocalTime()));
  EXPECT_FALSE(bplink::Env::Default()->CanOpenComPort(L"/dev/no-such-port"));
}

TEST(SerialPortNames, AdaptersFirstThenRfcommThenUartsEachInNumericOrder) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("bplink-ports-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root / "dev");
  for (const char* name : {"ttyS1", "ttyUSB10", "rfcomm0", "ttyACM0", "ttyUSB2", "ttyS0", "ttyS2", "ttyS3",
                           "ttyUSB0", "tty0", "ttyUSB", "ttyUSBx", "ttySAC0", "console", "ttyACM1234567"})
    std::ofstream(root / "dev" / name) << "";
  // UART type 4 is a 16550A, 0 (PORT_UNKNOWN) no UART; ttyS3 has no sysfs entry at all.
  for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "4"}, std::pair{"ttyS2", "0"}}) {
    fs::create_directories(root / "sys" / name);
    std::ofstream(root / "sys" / name / "type") << type << "\n";
  }
  EXPECT_EQ(bplink::ListSerialPorts(root / "dev", root / "sys"),
            (std::vector<std::string>{"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "rfcomm0", "ttyS0", "ttyS1"}));
  EXPECT_TRUE(bplink::ListSerialPorts(root / "nowhere", root / "sys").empty());
  fs::remove_all(root);
}
#endif

}  // namespace
