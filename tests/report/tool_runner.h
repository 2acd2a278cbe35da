// The outside programs some report tests need (Chromium, node), run through
// the shell. The bplink program itself runs through program_runner.h.
#pragma once

#include <string>

bool HaveCommand(const std::string& name);
// Runs a shell command; its exit status, or -1 when it did not exit.
int RunCommand(const std::string& command);
