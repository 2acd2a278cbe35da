// Which device nodes the real Env offers as serial ports, and in which order.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transport/serial_port_names.h"

namespace {

namespace fs = std::filesystem;

class SerialPortNames : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("bplink-ports-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "dev");
    fs::create_directories(root_ / "sys");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Node(const std::string& name) { std::ofstream(root_ / "dev" / name) << ""; }
  void UartType(const std::string& name, const std::string& type) {
    fs::create_directories(root_ / "sys" / name);
    std::ofstream(root_ / "sys" / name / "type") << type << "\n";
  }
  std::vector<std::string> List() { return bplink::ListSerialPorts(root_ / "dev", root_ / "sys"); }

  fs::path root_;
};

TEST_F(SerialPortNames, AdaptersFirstThenRfcommThenUartsEachInNumericOrder) {
  for (const char* name : {"ttyS1", "ttyUSB10", "rfcomm0", "ttyACM0", "ttyUSB2", "ttyS0", "ttyS2", "ttyS3",
                           "ttyUSB0", "tty0", "ttyUSB", "ttyUSBx", "ttySAC0", "console", "ttyACM1234567"})
    Node(name);
  UartType("ttyS0", "4");  // a 16550A
  UartType("ttyS1", "4");
  UartType("ttyS2", "0");  // PORT_UNKNOWN: no UART; ttyS3 has no sysfs entry at all
  EXPECT_EQ(List(), (std::vector<std::string>{"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "rfcomm0",
                                              "ttyS0", "ttyS1"}));
  EXPECT_TRUE(bplink::ListSerialPorts(root_ / "nowhere", root_ / "sys").empty());
}

}  // namespace
