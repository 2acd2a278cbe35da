// bplink: the command-line host.

#include <CLI/CLI.hpp>

#include "commands/commands.h"

int main(int argc, char** argv) {
  CLI::App app{"bplink: talk to blood-pressure monitors over USB HID and serial links"};
  app.require_subcommand(1);
  int exit_code = 0;
  bplink::cli::AddDownloadCommand(app, exit_code);
  CLI11_PARSE(app, argc, argv);
  return exit_code;
}
