#include "program_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

static int StatusOf(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir)
    : out_(dir / "bg.out"), err_(dir / "bg.err") {
  std::vector<std::string> copy = args;
  copy.insert(copy.begin(), BPLINK_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0 && !ended_status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void RunningProgram::Signal(int signal) const { kill(pid_, signal); }

bool RunningProgram::AwaitErr(const std::string& text, int times) {
  for (int poll = 0; poll < 500; ++poll) {
    const std::string err = ReadText(err_);
    int n = 0;
    for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + text.size())) ++n;
    if (n >= times) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_status_ = StatusOf(status);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string RunningProgram::Out() const { return ReadText(out_); }

ProgramRun RunningProgram::Wait() {
  int status = 0;
  if (!ended_status_) ended_status_ = waitpid(pid_, &status, 0) == pid_ ? StatusOf(status) : -1;
  return {*ended_status_, ReadText(out_), ReadText(err_)};
}

ProgramRun RunProgram(const std::vector<std::string>& args) {
  // Not TestDir(): that would empty the test's own directory.
  const auto dir = std::filesystem::temp_directory_path() / ("bplink_cli_run_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return RunningProgram(args, dir).Wait();
}

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
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

nlohmann::json ReadJson(const std::filesystem::path& path) { return nlohmann::json::parse(ReadText(path)); }
