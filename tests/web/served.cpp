#include "served.h"

#include <csignal>
#include <chrono>
#include <regex>
#include <thread>

std::unique_ptr<Served> Served::Start(const std::vector<std::string>& args, const std::filesystem::path& dir,
                                      std::string& why) {
  std::unique_ptr<Served> served(new Served);
  std::vector<std::string> all = {"serve", "--no-browser"};
  all.insert(all.end(), args.begin(), args.end());
  served->program_ = std::make_unique<RunningProgram>(all, dir);
  static const std::regex kUrl(R"(^http://127\.0\.0\.1:([0-9]+)/\?token=[0-9a-f]{64}\n)");
  // Opening an archive on a PostgreSQL server the machine's other work
  // slows down may take a while: a generous limit, polled often.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < limit) {
    std::smatch m;
    const std::string out = served->program_->Out();
    if (std::regex_search(out, m, kUrl)) {
      served->url_ = m[0].str().substr(0, m[0].length() - 1);
      served->port_ = std::stoi(m[1]);
      return served;
    }
    if (ReadText(dir / "bg.err").find("bplink: ") != std::string::npos) break;  // it failed
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  why = "bplink serve printed no address: " + served->program_->Out() + ReadText(dir / "bg.err");
  return nullptr;
}

Served::~Served() {
  if (program_) program_->Signal(SIGINT);
}

bool Served::OpenSession() {
  const std::string target = url_.substr(url_.find('/', std::string("http://").size()));
  httplib::Result first = Get(target, false);
  if (!first || first->status != 303) return false;
  static const std::regex kCookie(R"(^(bplink_[0-9]+=[0-9a-f]{64});)");
  std::smatch m;
  const std::string set = first->get_header_value("Set-Cookie");
  if (!std::regex_search(set, m, kCookie)) return false;
  cookie_ = m[1];
  httplib::Result page = Get("/devices");
  static const std::regex kCsrf(R"re(<meta name="csrf-token" content="([0-9a-f]{64})">)re");
  if (!page || !std::regex_search(page->body, m, kCsrf)) return false;
  csrf_ = m[1];
  return true;
}

httplib::Result Served::Get(const std::string& path, bool session, httplib::Headers headers) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30);
  if (session && !cookie_.empty()) headers.emplace("Cookie", cookie_);
  return client.Get(path, headers);
}

httplib::Result Served::Post(const std::string& path, const std::string& form, bool session, httplib::Headers headers) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(30);
  if (session && !cookie_.empty()) headers.emplace("Cookie", cookie_);
  return client.Post(path, headers, form, "application/x-www-form-urlencoded");
}

ProgramRun Served::Stop() {
  program_->Signal(SIGINT);
  ProgramRun run = program_->Wait();
  program_.reset();
  return run;
}
