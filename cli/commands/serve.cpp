// bplink serve: the workstation in a browser on this PC. The program makes
// the link (the machine's ports, or --sim's device) and opens the archive;
// the web library (web/) does the rest.

#include <bplink/host/filing.h>
#include <bplink/web/server.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <thread>

#include "browser.h"
#include "commands/commands.h"
#include "exit_status.h"
#include "terminal.h"

#ifdef BPLINK_WITH_ARCHIVE
#include <bplink/web/archive_filing.h>

#include "commands/archive_open.h"
#include "commands/serve_studies.h"
#endif

namespace bplink::cli {
namespace {

struct ServeOptions {
  int port = 0;
  bool no_browser = false;
  std::optional<std::string> archive;
};

// How often the program looks whether Ctrl-C was pressed.
constexpr auto kWatchInterval = std::chrono::milliseconds(100);

void RunServe(const GlobalOptions& global, const ServeOptions& options) {
  Link link(global);
  web::ServerOptions server_options;
  server_options.link = &link;
  server_options.port = options.port;
  server_options.simulated = global.sim.value_or("");
  server_options.user = host::UserName();
#ifdef BPLINK_WITH_ARCHIVE
  std::unique_ptr<web::Archiving> archive;
  const archive::Location location = ArchiveLocation(options.archive);
  try {
    archive = web::ArchiveAt(location, host::StationName());
  } catch (const archive::ArchiveError& e) {
    throw CommandError(kExitCannotWrite, e.what());
  }
  server_options.archive = archive.get();
  const std::unique_ptr<web::Studies> studies = StudiesAt(location);
  server_options.studies = studies.get();
  const std::unique_ptr<web::Records> records = RecordsAt(location);
  server_options.records = records.get();
#endif
  std::unique_ptr<web::Server> server;
  try {
    server = std::make_unique<web::Server>(server_options);
  } catch (const web::ServerError& e) {
    throw CommandError(kExitFailed, e.what());
  }
  // The address alone on standard output, for a person to copy and for scripts.
  std::cout << server->Url() << std::endl;
  std::string where;
  for (const std::string& address : server->Addresses()) where += (where.empty() ? "" : " and ") + address;
  std::cerr << "bplink serve: the workstation listens on " << where
            << " (this PC only); open the address above once: its token opens a session. Ctrl-C stops it.\n";
  if (!options.no_browser) {
    std::string why;
    if (!OpenInBrowser(server->Url(), why)) std::cerr << "bplink serve: no browser opened: " << why << '\n';
  }
  // From here the first Ctrl-C stops the server, the second the program.
  TransferStarts();
  while (InterruptsDuringTransfer() == 0) std::this_thread::sleep_for(kWatchInterval);
  std::cerr << "bplink serve: stopping; a transfer under way keeps and files what arrived (Ctrl-C again to quit)\n";
  server->Stop();
  TransferEnds();
}

}  // namespace

void AddServeCommand(CLI::App& app, const GlobalOptions& global) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* command = app.add_subcommand(
      "serve", "Serve the workstation in a browser on this PC only (127.0.0.1 and ::1): devices, download, plan "
               "upload, delete");
  command->add_option("--http-port", options->port, "The HTTP port to listen on (default: a free one)")
      ->check(CLI::Range(1, 65535));
  command->add_flag("--no-browser", options->no_browser, "Do not open a browser; only print the address");
#ifdef BPLINK_WITH_ARCHIVE
  AddArchiveOption(*command, options->archive);
#endif
  command->callback([&global, options] { RunServe(global, *options); });
}

}  // namespace bplink::cli
