// The program's own bplink::Env: the real machine (it wraps Env::Default()),
// except that the serial search can be limited to the ports the program
// names (--port, or the port of an in-process simulated device), and that
// with a device simulated in process the library's pauses take no time. It
// also keeps the program's clock for trace timestamps, so no other part of
// the program reads a clock itself.
#pragma once

#include <bplink/console.h>
#include <bplink/env.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace bplink::cli {

class ProgramEnv : public EnvWrapper {
 public:
  ProgramEnv();

  // Only these ports are searched. A port that is simulated in process is
  // also reported as openable without asking the machine.
  //
  // `simulated`: the run's device is simulated in process. It answers at
  // once or not at all, so from then on Sleep returns at once: neither the
  // library's pauses nor a silent device's receive time-outs cost real time.
  void LimitPorts(std::vector<std::wstring> names, bool simulated);
  // The ports a search of the machine may use: these, or with nullopt every
  // port the machine has.
  void SearchPorts(std::optional<std::vector<std::wstring>> names) { ports_ = std::move(names); }

  void Sleep(unsigned milliseconds) override;
  std::vector<std::wstring> ComPortNames() override;
  bool CanOpenComPort(const std::wstring& path) override;

  // A pause of real time, whatever the device: a slowed simulated line.
  void RealSleep(unsigned milliseconds) { EnvWrapper::Sleep(milliseconds); }

  // Milliseconds since the program started.
  double ElapsedMs() const;

 private:
  std::optional<std::vector<std::wstring>> ports_;
  bool simulated_ports_ = false;
  std::chrono::steady_clock::time_point start_;
};

// The Env the program installed in main().
ProgramEnv& TheProgramEnv();

// The stamp that starts every --trace line: "[   12.345 ms] ".
std::string TraceStamp(double ms);

// Where the library's console lines (those of the patient transfer) go: never
// to standard output, which carries the program's own output (a download's
// JSON, for one); under --trace to the trace, with the frames; else nowhere.
class ProgramConsole : public ConsoleSink {
 public:
  // Null: the lines are dropped.
  void ShowOn(std::ostream* trace) { trace_ = trace; }
  // "[   12.345] device console: 0X37, 0X9F"; the device's verdicts, which
  // come in the GBK encoding, in words.
  void Line(std::string_view bytes) override;

 private:
  std::ostream* trace_ = nullptr;
};

// The console sink the program installed in main().
ProgramConsole& TheProgramConsole();

}  // namespace bplink::cli
