// Running the outside programs some report tests need (Chromium, node).
#pragma once

#include <filesystem>
#include <string>

bool HaveCommand(const std::string& name);
// Runs a shell command; its exit status, or -1 when it did not exit.
int RunCommand(const std::string& command);
// An empty directory of its own for the running test.
std::filesystem::path FreshTempDir();
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& text);
