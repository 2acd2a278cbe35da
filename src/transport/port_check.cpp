#include <bplink/transport/port_check.h>

#include <bplink/comports.h>
#include <bplink/env.h>

#include "transport/link_error.h"

namespace bplink {
namespace {

// The line a port is opened with to learn whether it opens: one every serial
// family talks on, so only the port itself can refuse.
constexpr DWORD kCheckBaud = 9600;
constexpr int kOpened = 1;

}  // namespace

std::vector<PortCheck> CheckComPorts() {
  std::vector<PortCheck> checks;
  try {
    Env* env = CurrentEnv();
    for (const std::wstring& name : env->ComPortNames()) {
      PortCheck check;
      check.name = name;
      const std::wstring path = ComPortPath(name);
      check.opens = env->CanOpenComPort(path);
      if (!check.opens) {
        CDevice_COM port;
        if (port.Open(path, SerialLine(kCheckBaud)) == kOpened)
          check.error = LinkError{LinkErrorKind::kOther, 0, "the port search does not take it"};
        else
          check.error = port.GetLastLinkError();
      }
      checks.push_back(std::move(check));
    }
  } catch (...) {
  }
  return checks;
}

std::string WhyNoComPort(const std::vector<PortCheck>& checks) {
  std::string why;
  for (const PortCheck& port : checks) {
    why += (why.empty() ? "" : "; ") + Utf8(port.name);
    if (port.opens)
      why += " opens, but no device answered";
    else
      why += " cannot be opened" + (port.error.text.empty() ? "" : ": " + port.error.text);
  }
  return why.empty() ? "no serial port found" : why;
}

}  // namespace bplink
