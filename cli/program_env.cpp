#include "program_env.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace bplink::cli {

ProgramEnv::ProgramEnv() : EnvWrapper(Env::Default()), start_(std::chrono::steady_clock::now()) {}

void ProgramEnv::LimitPorts(std::vector<std::wstring> names, bool simulated) {
  ports_ = std::move(names);
  simulated_ports_ = simulated;
}

void ProgramEnv::Sleep(unsigned milliseconds) {
  if (!simulated_ports_) EnvWrapper::Sleep(milliseconds);
}

std::vector<std::wstring> ProgramEnv::ComPortNames() {
  return ports_ ? *ports_ : EnvWrapper::ComPortNames();
}

bool ProgramEnv::CanOpenComPort(const std::wstring& path) {
  if (simulated_ports_ && ports_) {
    return std::any_of(ports_->begin(), ports_->end(),
                       [&path](const std::wstring& name) { return ComPortPath(name) == path; });
  }
  return EnvWrapper::CanOpenComPort(path);
}

double ProgramEnv::ElapsedMs() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

ProgramEnv& TheProgramEnv() {
  static ProgramEnv env;
  return env;
}

void ProgramConsole::Line(std::string_view bytes) {
  if (trace_ == nullptr) return;
  // The verdicts a device gives an uploaded patient block.
  static constexpr std::pair<std::string_view, std::string_view> kVerdicts[] = {
      {"\xB7\xA2\xCB\xCD\xB3\xC9\xB9\xA6.", "patient block sent successfully"},
      {"\xD0\xA3\xD1\xE9\xBA\xCD\xD2\xEC\xB3\xA3", "patient block checksum abnormal"},
      {"\xB0\xFC\xD0\xF2\xBA\xC5\xD2\xEC\xB3\xA3", "patient block packet number abnormal"}};
  std::string text;
  for (const auto& [gbk, words] : kVerdicts)
    if (bytes == gbk) text = words;
  if (text.empty()) {
    // Anything else as it stands where it is printable ASCII, else in hex.
    for (unsigned char c : bytes) {
      char cell[5];
      std::snprintf(cell, sizeof cell, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
      text += cell;
    }
  }
  *trace_ << TraceStamp(TheProgramEnv().ElapsedMs()) << "device console: " << text << '\n' << std::flush;
}

std::string TraceStamp(double ms) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%10.3f ms] ", ms);
  return stamp;
}

ProgramConsole& TheProgramConsole() {
  static ProgramConsole console;
  return console;
}

}  // namespace bplink::cli
