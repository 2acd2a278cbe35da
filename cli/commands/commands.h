// The subcommands of the bplink program. Each adds itself to the app and
// reports its exit status through `exit_code` when it runs.
#pragma once

#include <CLI/CLI.hpp>

namespace bplink::cli {

void AddDownloadCommand(CLI::App& app, int& exit_code);

}  // namespace bplink::cli
