// Runs the report subcommand on its own, as the program will once it is
// wired in: report_driver report INPUT [options].

#include "command.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
  CLI::App app{"bplink report, alone"};
  app.require_subcommand(1);
  bplink::report::AddReportCommand(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  return 0;
}
