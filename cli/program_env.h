// The program's own bplink::Env: the real machine (it wraps Env::Default()),
// except that the serial search can be limited to the ports the program
// names (--port, or the port of an in-process simulated device). It also
// keeps the program's clock for trace timestamps, so no other part of the
// program reads a clock itself.
#pragma once

#include <bplink/env.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bplink::cli {

class ProgramEnv : public EnvWrapper {
 public:
  ProgramEnv();

  // Only these ports are searched. A port that is simulated in process is
  // also reported as openable without asking the machine.
  void LimitPorts(std::vector<std::wstring> names, bool simulated);

  std::vector<std::wstring> ComPortNames() override;
  bool CanOpenComPort(const std::wstring& path) override;

  // Milliseconds since the program started.
  double ElapsedMs() const;

 private:
  std::optional<std::vector<std::wstring>> ports_;
  bool simulated_ports_ = false;
  std::chrono::steady_clock::time_point start_;
};

// The Env the program installed in main().
ProgramEnv& TheProgramEnv();

}  // namespace bplink::cli
