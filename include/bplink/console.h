// bplink::ConsoleSink: where the library's console lines go.
//
// The library prints nothing but the lines of the HID patient-information
// transfer: the codes of its announcement ("0X37, 0X9F", "0X4A, 0X37") and,
// after an upload, the device's verdict, as raw GBK bytes. By default they
// go to the process's standard output, each ending in CR LF, as hosts have
// always seen them. A host that writes its own output there (a program
// printing JSON to stdout, for one) installs a sink of its own and sends
// them where it wants, or nowhere.
#pragma once

#include <bplink/export.h>

#include <string_view>

namespace bplink {

class BPLINK_API ConsoleSink {
 public:
  virtual ~ConsoleSink();  // out of line: its vtable has one home, the library
  // One line, its bytes as the library made them, without the line end.
  // Called on the thread that runs the operation. Must not throw; the
  // library catches anything that escapes and ends the transfer with the
  // exception result.
  virtual void Line(std::string_view bytes) = 0;
  // The sink the library starts with: standard output, CR LF after each
  // line, flushed. Never null; lives until the process ends.
  static ConsoleSink* Default();
};

// What the library writes its console lines to now: the installed sink,
// else Default(). Never null.
BPLINK_API ConsoleSink* CurrentConsole();
// Installs a sink; nullptr restores Default(). The library does not own
// `sink`, which must stay alive until it is replaced and no operation that
// may still use it is running. Safe from any thread.
BPLINK_API void SetConsole(ConsoleSink* sink);

}  // namespace bplink
