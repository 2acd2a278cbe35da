#include "peer_process.h"

#include <bplink/report/readings.h>
#include <bplink/report/stats.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bplink::delivery::testing {

PeerProcess::PeerProcess(const std::vector<std::string>& argv, int ready_ms) {
  int in[2], out[2];
  // Close-on-exec, so a peer started later does not hold this one's input open.
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    error_ = "no pipe";
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  stdin_fd_ = in[1];
  std::string line;
  pollfd p{out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && ::poll(&p, 1, ready_ms) > 0) {
    char chunk[256];
    const ssize_t n = ::read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    line.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  const auto ready = nlohmann::json::parse(line.substr(0, line.find('\n')), nullptr, false);
  if (ready.is_object() && ready.contains("port")) port_ = ready["port"].get<int>();
  else error_ = argv[0] + " did not say its port within " + std::to_string(ready_ms) + " ms (said: " + line + ")";
}

PeerProcess::~PeerProcess() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  if (pid_ <= 0) return;
  // The peer exits when its input closes; one that does not within a few
  // seconds is ended.
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    ::usleep(100 * 1000);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bplink-delivery-XXXXXX").string();
  if (::mkdtemp(pattern.data())) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string Capture(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return out;
  }
  std::array<char, 4096> chunk;
  std::size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
  const int raw = ::pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

bool HaveCommand(const std::string& name) {
  int status = 0;
  Capture("command -v " + name + " >/dev/null 2>&1", status);
  return status == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

Shipment TestShipment() {
  Shipment s;
  s.patient = {"P-1", "urn:oid:1.2.276.0.76.4.8", "Müller", "Anna Lena", "1960-02-29", "female"};
  s.study_id = "S-42";
  s.study_system = "urn:bplink:study:test-clinic";
  report::Recording recording = report::LoadInputFile(DELIVERY_RECORDING);
  s.analysis = report::Analyse(std::move(recording), *report::FindProfile("esh2023"), std::nullopt);
  s.utc_offset = [](const CalendarTime&) { return 120; };
  s.interpretation = "Means 128/79 | normal ^ pattern & dipping ~ 12 % \\ as expected.\nSecond line: Müller, no therapy.";
  s.signer = "Dr. Weiß";
  s.signed_at = CalendarTime{2024, 5, 3, 10, 15, 0};
  return s;
}

std::vector<std::string> GdtProblems(const std::string& record) {
  std::vector<std::string> problems;
  std::set<std::string> fields;
  std::size_t at = 0, declared = 0;
  for (int number = 1; at < record.size(); ++number) {
    const std::size_t end = record.find("\r\n", at);
    const std::string where = "line " + std::to_string(number);
    if (end == std::string::npos) {
      problems.push_back(where + " does not end in CR LF");
      break;
    }
    const std::string line = record.substr(at, end + 2 - at);
    at = end + 2;
    if (line.size() < 9 || line.find_first_not_of("0123456789") < 7) {
      problems.push_back(where + " does not start with a length and a field id");
      continue;
    }
    if (std::stoul(line.substr(0, 3)) != line.size())
      problems.push_back(where + " says " + line.substr(0, 3) + " bytes but is " + std::to_string(line.size()));
    if (line.find_first_of("\r\n") != line.size() - 2) problems.push_back(where + " holds a line break");
    const std::string field = line.substr(3, 4);
    if (number == 1 && field != "8000") problems.push_back("the record does not start with 8000");
    if (number == 2 && field != "8100") problems.push_back("8100 is not the second line");
    if (field == "8100") {
      if (line.size() != 14) problems.push_back("8100 is not five digits");
      declared = std::stoul(line.substr(7, line.size() - 9));
    }
    fields.insert(field);
  }
  if (declared != record.size())
    problems.push_back("8100 says " + std::to_string(declared) + " bytes, the record has " +
                       std::to_string(record.size()));
  for (const char* required : {"8000", "8100", "8315", "8316", "9206", "9218", "3000", "6200"})
    if (!fields.count(required)) problems.push_back(std::string("no field ") + required);
  return problems;
}

}  // namespace bplink::delivery::testing
