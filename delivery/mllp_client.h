// One HL7 message over MLLP to a receiver, waiting for its framed answer.
#pragma once

#include <string>
#include <string_view>

namespace bplink::delivery {

struct MllpExchange {
  bool answered = false;  // a framed reply arrived
  bool connected = false; // some try reached the receiver
  std::string reply;      // the message inside the frame
  std::string error;      // why no reply came, from the last try
  int tries = 0;
};

// Connects to host:port, sends `message` framed and waits for one framed
// reply; a try that gets none (the receiver cannot be reached, closes, or
// stays silent for `timeout_ms`) is followed by up to `retries` more after a
// pause of `pause_ms` (through the library's Env). Every try sends the same
// message, so the receiver can tell a repeat by its control id.
MllpExchange ExchangeOverMllp(const std::string& host, int port, std::string_view message, int timeout_ms,
                              int retries, int pause_ms);

}  // namespace bplink::delivery
