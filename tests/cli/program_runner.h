// Running the bplink program as a person would: arguments in, standard
// output, standard error and the exit status out.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProgramRun {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs the program to its end, with standard input from /dev/null.
ProgramRun RunProgram(const std::vector<std::string>& args);

// Starts the program in the background, its output going to files in `dir`.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir);
  ~RunningProgram();
  void Signal(int signal) const;
  // Waits until its standard error holds `text` at least `times` times; false
  // when it ended or ~10 s passed first.
  bool AwaitErr(const std::string& text, int times) const;
  // Its standard output so far.
  std::string Out() const;
  ProgramRun Wait();

 private:
  pid_t pid_ = -1;
  mutable std::optional<int> ended_status_;
  std::filesystem::path out_, err_;
};

// An empty directory of its own for the running test.
std::filesystem::path TestDir();
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
nlohmann::json ReadJson(const std::filesystem::path& path);
