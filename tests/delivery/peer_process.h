// The peers the delivery tests send to, as child processes: started with
// their standard input and output on pipes, ready once they print
// {"port": N}, and ended by closing their standard input (each peer exits
// when it sees that), so nothing is left running after a test.
#pragma once

#include <bplink/delivery/delivery.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bplink::delivery::testing {

class PeerProcess {
 public:
  // Runs `argv` and waits up to `ready_ms` for its port; Port() is 0 (and
  // Error() says why) when it did not come.
  PeerProcess(const std::vector<std::string>& argv, int ready_ms);
  ~PeerProcess();
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  int Port() const { return port_; }
  const std::string& Error() const { return error_; }

 private:
  int pid_ = -1;
  int stdin_fd_ = -1;
  int port_ = 0;
  std::string error_;
};

// A fresh folder under the system's temporary one, removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs a shell command; its standard output, and its exit status in `status`.
std::string Capture(const std::string& command, int& status);
bool HaveCommand(const std::string& name);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// A loopback port nothing listens on (bound, read and released).
int UnusedPort();

// The study every delivery test sends: a day and night of readings, a
// patient with letters beyond ASCII, an interpretation holding every HL7
// delimiter and a line break, signed.
Shipment TestShipment();

// Every rule a practice system's GDT reader relies on, checked strictly:
// each line "lll" + field + content + CR LF with lll its length in bytes,
// 8000 first and 8100 second, 8100 the record's length, and the fields a
// result record must have. The problems found; empty when none.
std::vector<std::string> GdtProblems(const std::string& record);

}  // namespace bplink::delivery::testing
