// The serial device nodes of a Linux machine, in search order.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bplink {

// The names of the serial ports under `dev` (normally /dev): USB serial
// adapters (ttyUSB), USB modem-class adapters (ttyACM), bound Bluetooth
// RFCOMM ttys (rfcomm), then the built-in UARTs (ttyS), each family in
// numeric order. A ttyS node counts only when `sysClassTty` (normally
// /sys/class/tty) shows a UART behind it. An error while reading the
// directory ends the listing with what was read so far.
std::vector<std::string> ListSerialPorts(const std::filesystem::path& dev,
                                         const std::filesystem::path& sysClassTty);

}  // namespace bplink
