#include "program_runner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
long ProcessId() { return _getpid(); }

// One argument as the C runtime of the started program splits it back out:
// quoted, with backslashes doubled only where a quote follows them.
std::wstring Quoted(const std::string& arg) {
  const std::wstring wide = std::filesystem::path(arg).wstring();
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : wide) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

HANDLE Inheritable(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return ::CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
#else
long ProcessId() { return getpid(); }
int StatusOf(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }
#endif

}  // namespace

#if defined(_WIN32)

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir, bool)
    : out_(dir / "bg.out"), err_(dir / "bg.err") {
  std::wstring command = Quoted(BPLINK_PROGRAM);
  for (const std::string& arg : args) command += L" " + Quoted(arg);
  const HANDLE in = Inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = Inheritable(out_, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE err = Inheritable(err_, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION info{};
  // A console to share, which Ctrl-Break travels through; a test run
  // without a usable one (under a service, a CI runner or wine without a
  // terminal) makes its own.
  static const bool console = [] {
    DWORD mode = 0;
    if (::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) || ::GetConsoleWindow() != nullptr) return true;
    ::FreeConsole();
    return ::AllocConsole() != 0;
  }();
  (void)console;
  // A process group of its own, so a Ctrl-Break can be sent to it alone.
  if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                       &startup, &info)) {
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<long>(info.dwProcessId);
  }
  for (HANDLE h : {in, out, err})
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

RunningProgram::~RunningProgram() {
  if (process_ == nullptr) return;
  if (!ended_status_) {
    ::TerminateProcess(process_, 1);
    ::WaitForSingleObject(process_, INFINITE);
  }
  ::CloseHandle(process_);
}

bool RunningProgram::Signal(int signal) const {
  if (signal == SIGINT) return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_)) != 0;
  return ::TerminateProcess(process_, 1) != 0;
}

bool RunningProgram::Ended(int& status) {
  DWORD code = 0;
  if (process_ == nullptr || ::WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return process_ == nullptr;
  ::GetExitCodeProcess(process_, &code);
  status = static_cast<int>(code);
  return true;
}

ProgramRun RunningProgram::Wait() {
  if (!ended_status_) {
    DWORD code = 0;
    const bool ok = process_ != nullptr && ::WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0 &&
                    ::GetExitCodeProcess(process_, &code);
    ended_status_ = ok ? static_cast<int>(code) : -1;
  }
  return {*ended_status_, ReadText(out_), ReadText(err_)};
}

#else

RunningProgram::RunningProgram(const std::vector<std::string>& args, const std::filesystem::path& dir, bool terminal)
    : out_(dir / "bg.out"), err_(dir / "bg.err") {
  if (terminal) terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (terminal_ >= 0 && (grantpt(terminal_) != 0 || unlockpt(terminal_) != 0)) return;
  const std::string err = terminal_ >= 0 ? ptsname(terminal_) : err_.string();
  std::vector<std::string> copy = args;
  copy.insert(copy.begin(), BPLINK_PROGRAM);
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
    dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644), STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

RunningProgram::~RunningProgram() {
  if (pid_ > 0 && !ended_status_) {
    kill(static_cast<pid_t>(pid_), SIGKILL);
    waitpid(static_cast<pid_t>(pid_), nullptr, 0);
  }
  if (terminal_ >= 0) close(terminal_);
}

bool RunningProgram::Signal(int signal) const { return kill(static_cast<pid_t>(pid_), signal) == 0; }

bool RunningProgram::Ended(int& status) {
  int wait_status = 0;
  if (waitpid(static_cast<pid_t>(pid_), &wait_status, WNOHANG) != pid_) return false;
  status = StatusOf(wait_status);
  return true;
}

ProgramRun RunningProgram::Wait() {
  int status = 0;
  std::string shown;  // what the terminal got, read as it comes: a full one would stop the program
  for (bool ended = false; terminal_ >= 0 && !ended_status_;) {
    pollfd ready{terminal_, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = poll(&ready, 1, 20) > 0 && (ready.revents & POLLIN) ? read(terminal_, buffer, sizeof buffer) : 0;
    if (n > 0) shown.append(buffer, static_cast<std::size_t>(n));
    else if (ended) ended_status_ = StatusOf(status);
    else ended = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG) == pid_;
  }
  if (!ended_status_)
    ended_status_ = waitpid(static_cast<pid_t>(pid_), &status, 0) == pid_ ? StatusOf(status) : -1;
  return {*ended_status_, ReadText(out_), terminal_ >= 0 ? shown : ReadText(err_)};
}

#endif

bool RunningProgram::AwaitErr(const std::string& text, int times) {
  for (int poll = 0; poll < 500; ++poll) {
    const std::string err = ReadText(err_);
    int n = 0;
    for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + text.size())) ++n;
    if (n >= times) return true;
    int status = -1;
    if (Ended(status)) {
      ended_status_ = status;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string RunningProgram::Out() const { return ReadText(out_); }


ProgramRun RunProgram(const std::vector<std::string>& args) {
  // Not TestDir(): that would empty the test's own directory.
  const auto dir = std::filesystem::temp_directory_path() / ("bplink_cli_run_" + std::to_string(ProcessId()));
  std::filesystem::create_directories(dir);
  return RunningProgram(args, dir).Wait();
}

std::filesystem::path TestDir() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("bplink_cli_" + std::string(test->test_suite_name()) + "_" + test->name() + "_" +
                    std::to_string(ProcessId()));
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

namespace {

// The JSON library refuses to write text that is not UTF-8.
bool IsUtf8(const std::string& text) {
  try {
    return !nlohmann::json(text).dump().empty();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace

// UTF-8 means no byte of a device's Latin-1 text as it stands.
void ExpectPlain(const ProgramRun& run, const std::vector<std::string>& empty) {
  static const std::regex kCode(R"(\(-?[0-9]+\))"), kNone(R"(([A-Za-z]+ [0-9]): 0 records)");
  for (const std::string* text : {&run.out, &run.err}) {
    EXPECT_TRUE(IsUtf8(*text)) << *text;
    std::smatch m;
    EXPECT_FALSE(std::regex_search(*text, m, kCode)) << m.str() << " in\n" << *text;
    for (auto it = std::sregex_iterator(text->begin(), text->end(), kNone); it != std::sregex_iterator(); ++it)
      EXPECT_THAT(empty, ::testing::Contains((*it)[1].str())) << (*it)[0] << " in\n" << *text;
  }
}
