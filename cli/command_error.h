// How a command fails: main() prints the message and exits with the status.
#pragma once

#include <stdexcept>
#include <string>

namespace bplink::cli {

// A failure a command reports: the message for stderr and the exit status.
class CommandError : public std::runtime_error {
 public:
  CommandError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int Status() const { return status_; }

 private:
  int status_;
};

}  // namespace bplink::cli
