// Running the bplink program as a person would: arguments in, standard
// output, standard error and the exit status out.
#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ProgramRun {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// The program started in the background, standard input empty, its output
// going to files in `dir`; `terminal` (POSIX): its standard error on a
// pseudo-terminal instead, and `err` every byte that showed there, escapes
// and all. Killed if it still runs when destroyed.
class RunningProgram {
 public:
  RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir, bool terminal = false);
  ~RunningProgram();
  // SIGINT or SIGTERM on POSIX; on Windows SIGINT is a Ctrl-Break sent to
  // the program's own process group, and anything else ends it. False when
  // it could not be sent (Windows: no console to send it through).
  bool Signal(int signal) const;
  // Waits until its standard error holds `text` at least `times` times; false
  // when it ended or ~10 s passed first.
  bool AwaitErr(const std::string& text, int times);
  std::string Out() const;  // its standard output so far
  ProgramRun Wait();

 private:
  bool Ended(int& status);  // without waiting

  void* process_ = nullptr;  // Windows: the process handle
  long pid_ = -1;
  int terminal_ = -1;  // POSIX: the pseudo-terminal's master side
  std::optional<int> ended_status_;
  std::filesystem::path out_, err_;
};

// Runs the program to its end.
ProgramRun RunProgram(const std::vector<std::string>& args);

// An empty directory of its own for the running test.
std::filesystem::path TestDir();
std::string ReadText(const std::filesystem::path& path);
void WriteText(const std::filesystem::path& path, const std::string& text);
nlohmann::json ReadJson(const std::filesystem::path& path);

// Checks that what a run printed, on either stream, is for a person: UTF-8,
// no bare library code that reads like an exit status ("did not answer (5)"),
// and no store said to hold "0 records" unless it is one of `empty` ("Set 2").
void ExpectPlain(const ProgramRun& run, const std::vector<std::string>& empty = {});
