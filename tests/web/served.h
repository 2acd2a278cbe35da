// `bplink serve` started for a test, as a person starts it: the address it
// prints, and (for tests that talk HTTP themselves) a session opened with
// that address's one-time token.
#pragma once

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "program_runner.h"

class Served {
 public:
  // Starts `bplink serve --no-browser ARGS` in `dir`; empty when it printed
  // no address within 30 s (`why` then holds what it said).
  static std::unique_ptr<Served> Start(const std::vector<std::string>& args, const std::filesystem::path& dir,
                                       std::string& why);
  ~Served();

  const std::string& Url() const { return url_; }  // with the token
  int Port() const { return port_; }
  // Trades the token for the session cookie, then reads the session's CSRF
  // token from a page. False when either failed.
  bool OpenSession();
  const std::string& Cookie() const { return cookie_; }  // "bplink_PORT=..."
  const std::string& Csrf() const { return csrf_; }

  // A client of this server; `session`: with the session's cookie.
  httplib::Result Get(const std::string& path, bool session = true, httplib::Headers headers = {});
  httplib::Result Post(const std::string& path, const std::string& form, bool session = true,
                       httplib::Headers headers = {});

  // Ctrl-C, then its end: its exit status and what it printed.
  ProgramRun Stop();

 private:
  Served() = default;
  std::unique_ptr<RunningProgram> program_;
  std::string url_;
  int port_ = 0;
  std::string cookie_;
  std::string csrf_;
};
