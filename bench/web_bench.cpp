// The workstation's cost on a clinic's archive: how long `bplink serve`
// takes to answer the Worklist (whole, and filtered by one patient) and a
// Study page with its charts, and how long a record the device sends takes
// to reach the progress bar of a browser following the download.
//
// The pages are asked of the real `bplink serve` program, started as a
// child on the archive: the worklist and study pages go through the
// program's own studies code (cli/commands), which no library holds, so
// that is what a clinic's browser meets. The progress half runs the web
// library's server in this process on a simulated recorder, as `bplink
// serve --sim hid` does, so that the device's side of the link can be
// clocked: the device wrapper and the client reading the event stream take
// their times from the same clock.
//
//   web_bench [--archive PATH | --postgres CONNINFO | --postgres-cluster]
//             [--patients N] [--readings N] [--requests N]
//             [--records N] [--pace MS] [--downloads N] [--quick]

#include <bplink/archive/archive.h>
#include <bplink/env.h>
#include <bplink/host/link.h>
#include <bplink/report/stats.h>
#include <bplink/web/archive_filing.h>
#include <bplink/web/server.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "in_process_device.h"
#include "models.h"
#include "postgres_cluster.h"
#include "web_clinic.h"
#include "web_timing.h"

extern char** environ;

namespace bplink::bench {
namespace {

namespace fs = std::filesystem;

struct Settings {
  ClinicShape shape;
  std::string archive;   // a SQLite file; "" for the default one
  std::string postgres;  // a PostgreSQL location; "" for SQLite
  bool cluster = false;  // a throw-away PostgreSQL server of its own
  int requests = 200;
  int warm_up = 5;
  // The simulated recorder's store, and how long each of its answer frames
  // takes. The delay is that of the latest record before an event, so a
  // frame must take longer than the delay measured: the browser tests' pace.
  int records = 200;
  unsigned pace_ms = 20;
  int downloads = 3;
  bool quick = false;
};

class Failed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

double MsSince(WebClock::time_point start) {
  return std::chrono::duration<double, std::milli>(WebClock::now() - start).count();
}

void PrintSpread(const char* what, const Spread& s, const std::string& extra) {
  std::printf("  %-34s %5zu  median %8.2f ms  p95 %8.2f ms  max %8.2f ms%s\n", what, s.count, s.median_ms, s.p95_ms,
              s.max_ms, extra.c_str());
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

// ---------------------------------------------------------------------------
// The archive.

// The archive named, else one kept between runs under the temporary
// folder, named by its size; a quick run's goes with the run's folder.
archive::Location ArchiveOf(const Settings& s, const fs::path& dir) {
  if (!s.postgres.empty()) return archive::ParseLocation(s.postgres);
  if (!s.archive.empty()) return {archive::Engine::kSqlite, s.archive};
  if (s.quick) return {archive::Engine::kSqlite, (dir / "clinic.sqlite").string()};
  const std::string name = "clinic-" + std::to_string(s.shape.patients) + "x" + std::to_string(s.shape.readings) + ".sqlite";
  return {archive::Engine::kSqlite, (fs::temp_directory_path() / "bplink_web_bench" / name).string()};
}

// Fills the archive, or takes it as it is when it holds this clinic already.
void PrepareArchive(const archive::Location& location, const ClinicShape& shape) {
  const auto start = WebClock::now();
  const auto archive = archive::Archive::Open(location);
  const ClinicCount want = Expected(shape);
  const ClinicCount held = CountClinic(*archive);
  const char* where = location.engine == archive::Engine::kSqlite ? location.target.c_str() : "the PostgreSQL archive";
  if (held == want) {
    std::printf("archive: %s holds the clinic already (%lld studies, %lld readings): reused as it is\n", where,
                static_cast<long long>(held.studies), static_cast<long long>(held.readings));
    return;
  }
  if (held.studies > 0)
    throw Failed(std::string(where) + " holds " + std::to_string(held.studies) + " studies and " +
                 std::to_string(held.readings) + " readings, not the " + std::to_string(want.studies) +
                 " studies of the clinic asked for: remove it, or name another with --archive");
  const ClinicCount filled = FillClinic(*archive, shape);
  if (filled != want)
    throw Failed("the archive was filled with " + std::to_string(filled.studies) + " studies and " +
                 std::to_string(filled.readings) + " readings, " + std::to_string(want.readings) + " expected");
  std::printf("archive: %s filled in %.1f s: %d patients, %lld readings, %lld studies signed, %lld reviewed\n", where,
              MsSince(start) / 1000, shape.patients, static_cast<long long>(filled.readings),
              static_cast<long long>(filled.signed_studies), static_cast<long long>(filled.reviewed));
}

// The study of the patient in the middle of the clinic, and that patient.
std::pair<std::int64_t, std::string> MiddleStudy(const archive::Location& location, const ClinicShape& shape) {
  const std::string patient = PatientIdentifier(shape.patients / 2);
  const auto archive = archive::Archive::Open(location, {archive::OpenMode::kExisting, archive::SchemaVersion(), {}});
  archive::WorklistFilter filter;
  filter.patient = patient;
  const std::vector<archive::StudyEntry> studies = archive->Worklist(filter);
  if (studies.size() != 1) throw Failed("patient " + patient + " has " + std::to_string(studies.size()) + " studies, not one");
  return {studies.front().id, patient};
}

// What the archive itself spends on the calls behind the pages (the
// program's studies code makes them for every request, each on a
// connection of its own), timed here in process: the rest of a page's time
// is the server's.
void MeasureArchiveCalls(const archive::Location& location, std::int64_t study, const std::string& patient,
                         const Settings& s) {
  const int times = std::max(3, s.requests / 10);
  std::unique_ptr<archive::Archive> archive;
  const auto time = [&](const char* what, const std::function<void()>& call) {
    std::vector<double> ms;
    for (int i = 0; i < times + 1; ++i) {
      const auto start = WebClock::now();
      call();
      if (i > 0) ms.push_back(MsSince(start));
    }
    PrintSpread(what, SpreadOf(ms), "");
  };
  const archive::OpenOptions existing{archive::OpenMode::kExisting, archive::SchemaVersion(), {}};
  std::printf("archive calls behind the pages, in process:\n");
  time("open (each request opens one)", [&] { archive = archive::Archive::Open(location, existing); });
  time("Worklist, every study", [&] { archive->Worklist({}); });
  archive::WorklistFilter one;
  one.patient = patient;
  time("Worklist, one patient", [&] { archive->Worklist(one); });
  time("Query, every patient and device", [&] { archive->Query({}); });
  const std::int64_t recording = archive->LoadStudy(study).recordings.at(0);
  const report::Profile* profile = report::FindProfile("esh2023");
  if (profile == nullptr) throw Failed("no esh2023 profile");
  time("the study's recording for its report", [&] {
    archive->LoadStudy(study);
    archive->Load(recording);
    archive::ReportableRecording(*archive, recording, *profile);
  });
}

// ---------------------------------------------------------------------------
// `bplink serve` as a child process.

class ServeProgram {
 public:
  ServeProgram(const archive::Location& location, const fs::path& dir) : err_(dir / "serve.err") {
    std::vector<std::string> args = {BPLINK_PROGRAM, "serve", "--no-browser", "--archive", location.target};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) throw Failed("no pipe for bplink serve's output");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = posix_spawn(&pid_, BPLINK_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
      close(out[0]);
      throw Failed(std::string("cannot start ") + BPLINK_PROGRAM + ": " + std::strerror(spawned));
    }
    // Its first line is the address; a PostgreSQL archive may take a while to open.
    std::string line;
    const auto limit = WebClock::now() + kStartLimit;
    pollfd ready{out[0], POLLIN, 0};
    char c = 0;
    while (WebClock::now() < limit && poll(&ready, 1, 100) >= 0) {
      if ((ready.revents & (POLLIN | POLLHUP)) == 0) continue;
      if (read(out[0], &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    close(out[0]);
    static const std::regex kUrl(R"(^http://127\.0\.0\.1:([0-9]+)(/\?token=[0-9a-f]+)$)");
    std::smatch m;
    if (!std::regex_match(line, m, kUrl)) {
      End();
      throw Failed("bplink serve printed no address: " + line + Said());
    }
    port_ = std::stoi(m[1]);
    first_ = m[2];
  }
  ~ServeProgram() { End(); }
  ServeProgram(const ServeProgram&) = delete;
  ServeProgram& operator=(const ServeProgram&) = delete;

  int Port() const { return port_; }
  const std::string& First() const { return first_; }  // "/?token=..."
  std::string Said() const {
    std::ifstream in(err_);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().empty() ? "" : "; it said: " + text.str();
  }

 private:
  static constexpr auto kStartLimit = std::chrono::seconds(60);
  // Ctrl-C, as a person stops it, and its end.
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  fs::path err_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::string first_;
};

// A client of the server with the session the one-time address opens:
// one connection kept open, as a browser keeps it.
class SessionClient {
 public:
  SessionClient(int port, const std::string& first) : port_(port), client_("127.0.0.1", port) {
    client_.set_keep_alive(true);
    client_.set_read_timeout(60);
    const httplib::Result r = client_.Get(first);
    static const std::regex kCookie(R"(^(bplink_[0-9]+=[0-9a-f]+);)");
    std::smatch m;
    const std::string set = r ? r->get_header_value("Set-Cookie") : "";
    if (!r || r->status != 303 || !std::regex_search(set, m, kCookie))
      throw Failed("the one-time address opened no session (" + (r ? std::to_string(r->status) : httplib::to_string(r.error())) + ")");
    cookie_ = {{"Cookie", m[1]}};
  }

  // The page at `path`, whole, and how long it took.
  std::pair<std::string, double> Page(const std::string& path) {
    const auto start = WebClock::now();
    const httplib::Result r = client_.Get(path, cookie_);
    const double ms = MsSince(start);
    if (!r) throw Failed("GET " + path + ": " + httplib::to_string(r.error()));
    if (r->status != 200) throw Failed("GET " + path + ": status " + std::to_string(r->status) + ": " + r->body.substr(0, 400));
    return {r->body, ms};
  }

  // The session's CSRF token, from a page that carries it.
  std::string Csrf(const std::string& path) {
    static const std::regex kCsrf(R"re(<meta name="csrf-token" content="([0-9a-f]+)">)re");
    std::smatch m;
    const std::string body = Page(path).first;
    if (!std::regex_search(body, m, kCsrf)) throw Failed(path + " carries no CSRF token");
    return m[1];
  }

  int Port() const { return port_; }
  httplib::Client& Raw() { return client_; }
  const httplib::Headers& Cookie() const { return cookie_; }

 private:
  int port_;
  httplib::Client client_;
  httplib::Headers cookie_;
};

// One page `requests` times after a few unmeasured ones; `check` says what
// is wrong with a body, or "" when nothing.
template <typename Check>
void TimePage(SessionClient& client, const char* what, const std::string& path, const Settings& s, Check check) {
  std::vector<double> ms;
  std::size_t bytes = 0;
  for (int i = 0; i < s.warm_up + s.requests; ++i) {
    auto [body, took] = client.Page(path);
    if (const std::string wrong = check(body); !wrong.empty()) throw Failed("GET " + path + ": " + wrong);
    if (i >= s.warm_up) ms.push_back(took);
    bytes = body.size();
  }
  PrintSpread(what, SpreadOf(ms), "  (" + std::to_string(bytes / 1024) + " KiB, " + path + ")");
}

void MeasurePages(const archive::Location& location, const Settings& s, const fs::path& dir) {
  const auto [study, patient] = MiddleStudy(location, s.shape);
  MeasureArchiveCalls(location, study, patient, s);
  ServeProgram serve(location, dir);
  SessionClient client(serve.Port(), serve.First());
  std::printf("pages: bplink serve on 127.0.0.1:%d, %d requests each after %d unmeasured, one connection kept open\n",
              serve.Port(), s.requests, s.warm_up);
  const auto rows = [](const std::string& body) { return Occurrences(body, "<tr data-state="); };
  TimePage(client, "worklist", "/worklist", s, [&](const std::string& body) {
    return rows(body) == static_cast<std::size_t>(s.shape.patients)
               ? ""
               : "the worklist shows " + std::to_string(rows(body)) + " studies, not " + std::to_string(s.shape.patients);
  });
  TimePage(client, "worklist of one patient", "/worklist?patient=" + patient, s, [&](const std::string& body) {
    return rows(body) == 1 && body.find(patient) != std::string::npos ? "" : "not the one study of " + patient;
  });
  TimePage(client, "study with charts", "/study?s=" + std::to_string(study), s, [&](const std::string& body) {
    return body.find("Study " + std::to_string(study)) != std::string::npos && body.find("<svg") != std::string::npos
               ? ""
               : "no study page with charts";
  });
}

// ---------------------------------------------------------------------------
// Record to progress bar.

// The machine as it is, without serial ports: the simulated recorder is on
// the USB HID link alone, as `bplink serve --sim hid` serves it.
class NoSerialPorts : public EnvWrapper {
 public:
  NoSerialPorts() : EnvWrapper(Env::Default()) {}
  std::vector<std::wstring> ComPortNames() override { return {}; }
  bool CanOpenComPort(const std::wstring&) override { return false; }
};

// The recorder's side of the link: each answer frame takes `pace` to come
// (a slow line, as --sim-pace makes it), and the moment it is handed over
// is noted.
class ClockedDevice : public CDevice {
 public:
  ClockedDevice(CDevice& inner, unsigned pace_ms) : inner_(inner), pace_(pace_ms) {}
  int Open(CString path, DCB dcb) override { return inner_.Open(path, dcb); }
  int Open(int device) override { return inner_.Open(device); }
  int Close() override { return inner_.Close(); }
  int SendData(BYTE* buffer, DWORD size) override { return inner_.SendData(buffer, size); }
  int RecvData(BYTE* buffer, DWORD size) override {
    if (pace_.count() > 0) std::this_thread::sleep_for(pace_);
    const int r = inner_.RecvData(buffer, size);
    if (r != 0) {
      const std::lock_guard hold(lock_);
      sent_.push_back(WebClock::now());
    }
    return r;
  }
  // The times of the frames handed over since the last call.
  std::vector<WebClock::time_point> Take() {
    const std::lock_guard hold(lock_);
    return std::exchange(sent_, {});
  }

 private:
  CDevice& inner_;
  std::chrono::milliseconds pace_;
  std::mutex lock_;
  std::vector<WebClock::time_point> sent_;
};

// One caller at a time on the one simulated device, as the program's link
// gives it to detection.
class SharedDevice : public CDevice {
 public:
  SharedDevice(CDevice& inner, std::mutex& lock) : inner_(inner), lock_(lock) {}
  int Open(CString path, DCB dcb) override { return Hold([&] { return inner_.Open(path, dcb); }); }
  int Open(int device) override { return Hold([&] { return inner_.Open(device); }); }
  int Close() override { return Hold([&] { return inner_.Close(); }); }
  int SendData(BYTE* buffer, DWORD size) override { return Hold([&] { return inner_.SendData(buffer, size); }); }
  int RecvData(BYTE* buffer, DWORD size) override { return Hold([&] { return inner_.RecvData(buffer, size); }); }

 private:
  template <typename Call>
  int Hold(Call call) {
    const std::lock_guard hold(lock_);
    return call();
  }
  CDevice& inner_;
  std::mutex& lock_;
};

class SimulatedLink : public host::Link {
 public:
  SimulatedLink(int records, unsigned pace_ms) {
    sim::SimSettings settings;
    settings.records = records;
    model_ = sim::MakeModel("hid", settings);
    device_.AttachHid(model_.get());
    clocked_ = std::make_unique<ClockedDevice>(device_, pace_ms);
  }
  CDevice& Device() override { return *clocked_; }
  DetectAllOptions DetectionOptions() override {
    DetectAllOptions options;
    options.probeHid = true;
    options.makeDevice = [this](LinkKind kind) -> std::unique_ptr<CDevice> {
      if (kind != LinkKind::kUsbHid) return nullptr;
      return std::make_unique<SharedDevice>(*clocked_, shared_);
    };
    return options;
  }
  void UsePort(const std::wstring&) const override {}
  std::string WhyNoLink(LinkKind) const override { return {}; }
  const LinkError* LastError() const override { return nullptr; }
  ClockedDevice& Clocked() { return *clocked_; }

 private:
  std::unique_ptr<sim::DeviceModel> model_;
  sim::InProcessDevice device_;
  std::unique_ptr<ClockedDevice> clocked_;
  std::mutex shared_;
};

struct DownloadSeen {
  // The arrival of each progress event that moved the bar or changed its
  // label. Left out: the first (the state when the stream was opened), and
  // the one the end of the job repeats.
  std::vector<WebClock::time_point> moved;
  int last_percent = -1;
  std::optional<WebClock::time_point> done;  // the end: the download filed
};

// Starts a download of the simulated recorder and follows its event stream
// to its end.
DownloadSeen FollowDownload(SessionClient& client, const std::string& csrf) {
  httplib::Params form{{"csrf", csrf}, {"d", "usb"}, {"mode", std::to_string(DATAMODE_BP)}};
  const httplib::Result started = client.Raw().Post("/device/download", client.Cookie(), form);
  if (!started || started->status != 303)
    throw Failed("the download did not start: " + (started ? std::to_string(started->status) + " " + started->body.substr(0, 400)
                                                           : httplib::to_string(started.error())));
  const std::string job = started->get_header_value("Location");
  DownloadSeen seen;
  EventStreamReader reader;
  std::optional<std::string> shown;
  httplib::Client stream("127.0.0.1", client.Port());
  stream.set_read_timeout(60);
  const httplib::Result r = stream.Get(job + "/events", client.Cookie(), [&](const char* data, std::size_t size) {
    const WebClock::time_point now = WebClock::now();
    for (const StreamEvent& e : reader.Feed({data, size})) {
      if (e.name == "done") seen.done = now;
      if (e.name != "progress") continue;
      seen.last_percent = nlohmann::json::parse(e.data).value("percent", -1);
      if (shown && *shown != e.data) seen.moved.push_back(now);
      shown = e.data;
    }
    return true;
  });
  if (!r || r->status != 200) throw Failed("the event stream of " + job + " failed");
  if (!seen.done) throw Failed("the event stream of " + job + " ended without its end");
  // The job's page says how it ended.
  const std::string page = client.Page(job).first;
  if (page.find("Downloaded: ") == std::string::npos) throw Failed(job + " did not download whole");
  return seen;
}

// The Env installed for as long as the object lives.
class Installed {
 public:
  explicit Installed(Env& env) { SetEnv(&env); }
  ~Installed() { SetEnv(nullptr); }
  Installed(const Installed&) = delete;
  Installed& operator=(const Installed&) = delete;
};

void MeasureProgress(const Settings& s, const fs::path& dir) {
  NoSerialPorts env;
  const Installed installed(env);
  SimulatedLink link(s.records, s.pace_ms);
  const std::unique_ptr<web::Archiving> filing =
      web::ArchiveAt({archive::Engine::kSqlite, (dir / "downloads.sqlite").string()}, "bench-station");
  web::ServerOptions options;
  options.link = &link;
  options.archive = filing.get();
  options.simulated = "hid";
  options.user = "bench";
  web::Server server(options);
  const std::string url = server.Url();
  SessionClient client(server.Port(), url.substr(url.find("/?token=")));
  const std::string csrf = client.Csrf("/devices");

  std::vector<double> delays, tails;
  std::size_t frames = 0, events = 0;
  double download_ms = 0;
  for (int i = 0; i < s.downloads; ++i) {
    link.Clocked().Take();
    const auto start = WebClock::now();
    const DownloadSeen seen = FollowDownload(client, csrf);
    download_ms += MsSince(start);
    if (seen.last_percent != 100) throw Failed("the progress bar ended at " + std::to_string(seen.last_percent) + " %");
    const std::vector<WebClock::time_point> sent = link.Clocked().Take();
    const std::vector<double> these = DelaysFromLatestRecord(sent, seen.moved);
    delays.insert(delays.end(), these.begin(), these.end());
    const std::vector<double> tail = DelaysFromLatestRecord(sent, {*seen.done});
    tails.insert(tails.end(), tail.begin(), tail.end());
    frames += sent.size();
    events += seen.moved.size();
  }
  server.Stop();
  std::printf("progress: %d downloads of %d records from a simulated recorder (hid, %u ms per answer frame), "
              "%zu frames and %zu progress events, %.0f ms a download\n",
              s.downloads, s.records, s.pace_ms, frames, events, download_ms / s.downloads);
  PrintSpread("record to progress event", SpreadOf(delays), "");
  PrintSpread("last record to the end (filed)", SpreadOf(tails), "");
}

// ---------------------------------------------------------------------------

int Usage() {
  std::fprintf(stderr,
               "usage: web_bench [--archive PATH | --postgres CONNINFO | --postgres-cluster] [--patients N] "
               "[--readings N] [--requests N] [--records N] [--pace MS] [--downloads N] [--quick]\n");
  return 2;
}

}  // namespace
}  // namespace bplink::bench

int main(int argc, char** argv) {
  using namespace bplink::bench;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it comes, also into a file
  Settings s;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    try {
      if (arg == "--quick") {
        s.quick = true;
        s.shape.patients = 24, s.requests = 5, s.warm_up = 1, s.records = 30, s.downloads = 1;
      } else if (arg == "--archive" && has_value) {
        s.archive = argv[++i];
      } else if (arg == "--postgres" && has_value) {
        s.postgres = argv[++i];
      } else if (arg == "--postgres-cluster") {
        s.cluster = true;
      } else if (arg == "--patients" && has_value) {
        s.shape.patients = std::stoi(argv[++i]);
      } else if (arg == "--readings" && has_value) {
        s.shape.readings = std::stoi(argv[++i]);
      } else if (arg == "--requests" && has_value) {
        s.requests = std::stoi(argv[++i]);
      } else if (arg == "--records" && has_value) {
        s.records = std::stoi(argv[++i]);
      } else if (arg == "--pace" && has_value) {
        s.pace_ms = static_cast<unsigned>(std::stoul(argv[++i]));
      } else if (arg == "--downloads" && has_value) {
        s.downloads = std::stoi(argv[++i]);
      } else {
        return Usage();
      }
    } catch (const std::exception&) {
      return Usage();
    }
  }
  if (s.shape.patients < 2 || s.shape.readings < 2 || s.requests < 1 || s.records < 1 || s.downloads < 1) return Usage();

  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("bplink_web_bench_" + std::to_string(getpid()));
  int status = 0;
  try {
    fs::create_directories(dir);
    std::unique_ptr<PostgresCluster> cluster;
    if (s.cluster) {
      std::string why;
      cluster = PostgresCluster::Start(why);
      if (!cluster) throw Failed("no PostgreSQL server: " + why);
      s.postgres = cluster->Location();
    }
    const bplink::archive::Location location = ArchiveOf(s, dir);
    PrepareArchive(location, s.shape);
    MeasurePages(location, s, dir);
    MeasureProgress(s, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "web_bench: FAILED: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
