#include "program_env.h"

#include <algorithm>

namespace bplink::cli {

ProgramEnv::ProgramEnv() : EnvWrapper(Env::Default()), start_(std::chrono::steady_clock::now()) {}

void ProgramEnv::LimitPorts(std::vector<std::wstring> names, bool simulated) {
  ports_ = std::move(names);
  simulated_ports_ = simulated;
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

}  // namespace bplink::cli
