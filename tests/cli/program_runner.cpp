#include "program_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

pid_t Start(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
  std::vector<char*> argv;
  std::string program = BPLINK_PROGRAM;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, STDIN_FILENO);
    dup2(o, STDOUT_FILENO);
    dup2(e, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int StatusOf(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace

std::filesystem::path TestDir() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("bplink_cli_" + std::string(test->test_suite_name()) + "_" + test->name() + "_" +
                    std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

nlohmann::json ReadJson(const std::filesystem::path& path) { return nlohmann::json::parse(ReadText(path)); }

ProgramRun RunProgram(const std::vector<std::string>& args) {
  // Not TestDir(): that would empty the test's own directory.
  const auto dir = std::filesystem::temp_directory_path() / ("bplink_cli_run_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const pid_t pid = Start(args, dir / "out", dir / "err");
  ProgramRun run;
  run.status = StatusOf(pid);
  run.out = ReadText(dir / "out");
  run.err = ReadText(dir / "err");
  return run;
}

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir)
    : out_(dir / "bg.out"), err_(dir / "bg.err") {
  pid_ = Start(args, out_, err_);
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0 && !ended_status_) {
    kill(pid_, SIGKILL);
    StatusOf(pid_);
  }
}

void RunningProgram::Signal(int signal) const { kill(pid_, signal); }

bool RunningProgram::AwaitErr(const std::string& text, int times) const {
  constexpr auto kPoll = std::chrono::milliseconds(20);
  constexpr int kPolls = 500;
  for (int i = 0; i < kPolls; ++i) {
    if (Count(ReadText(err_), text) >= times) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return false;
    }
    std::this_thread::sleep_for(kPoll);
  }
  return false;
}

std::string RunningProgram::Out() const { return ReadText(out_); }

ProgramRun RunningProgram::Wait() {
  ProgramRun run;
  run.status = ended_status_ ? *ended_status_ : StatusOf(pid_);
  pid_ = -1;
  run.out = ReadText(out_);
  run.err = ReadText(err_);
  return run;
}
