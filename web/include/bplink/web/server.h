// The workstation `bplink serve` runs: an HTTP server on this PC's loopback
// interface only (127.0.0.1 and ::1), serving the pages through which a
// technician finds the connected devices, downloads, uploads a plan and
// deletes, on the same library code the program calls.
//
// Who may use it: whoever holds the one-time token of the first address
// (Url()), which the browser trades for a session cookie (HttpOnly,
// SameSite=Strict); every other request without that cookie is refused, as
// is one whose Host is not a loopback name (a page of another site made to
// resolve to 127.0.0.1), and every change needs the session's CSRF token.
#pragma once

#include <bplink/host/link.h>
#include <bplink/web/archiving.h>
#include <bplink/web/records.h>
#include <bplink/web/studies.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bplink::web {

// The server could not listen; the message says where and why.
class ServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ServerOptions {
  host::Link* link = nullptr;    // the devices; not owned
  Archiving* archive = nullptr;  // where downloads are filed; null: they are shown only. Not owned.
  Studies* studies = nullptr;    // the archive's studies; null: the worklist says there is no archive. Not owned.
  Records* records = nullptr;    // its patients, log, amendments and sending; null with studies. Not owned.
  int port = 0;                  // 0: a free port
  std::string simulated;         // the family of the simulated device served, for the page header
  std::string user;              // who works here, when there is no archive to say it
};

class Server {
 public:
  // Listens on 127.0.0.1 and, where the system has it, ::1 (the same port),
  // serving from threads of its own. Throws ServerError.
  explicit Server(const ServerOptions& options);
  // Stop() if not yet done.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int Port() const;
  // http://127.0.0.1:PORT/?token=... : the address to open, once.
  std::string Url() const;
  // Where it listens: "127.0.0.1:PORT", "[::1]:PORT".
  std::vector<std::string> Addresses() const;

  // Asks a transfer under way to stop (what arrived is kept and filed),
  // waits for it, then stops listening.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace bplink::web
