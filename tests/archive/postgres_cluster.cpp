#include "postgres_cluster.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

// Debian's server binaries by their full path: another initdb on PATH is
// not the one a fresh Debian machine has.
const std::filesystem::path kBin = "/usr/lib/postgresql/15/bin";
const char* const kServerUser = "nobody";  // the server refuses to run as root

// Runs a server program, as kServerUser when this process is root, its
// output to `log`. Throws when it fails.
void Run(std::vector<std::string> args, const std::filesystem::path& log) {
  if (getuid() == 0)
    args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(args[0] + " failed; see " + log.string());
}

void GiveToServerUser(const std::filesystem::path& path) {
  if (getuid() != 0) return;
  const passwd* user = getpwnam(kServerUser);
  if (!user || chown(path.c_str(), user->pw_uid, user->pw_gid) != 0)
    throw std::runtime_error("cannot give " + path.string() + " to " + kServerUser);
}

void Stop(const std::filesystem::path& dir) {
  try {
    Run({(kBin / "pg_ctl").string(), "-D", (dir / "data").string(), "-m", "immediate", "-w", "stop"},
        dir / "server.log");
  } catch (const std::exception&) {
    // The server is gone already; the folder still goes.
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

// A test that crashed left its server running: the folder names the test
// process, and a server whose test is gone is stopped.
void StopOrphans() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), error)) {
    if (entry.path().filename().string().rfind("bplink_pg_", 0) != 0) continue;
    std::ifstream owner_file(entry.path() / "owner");
    pid_t owner = 0;
    if (owner_file >> owner && owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) Stop(entry.path());
  }
}

}  // namespace

std::unique_ptr<PostgresCluster> PostgresCluster::Start(std::string& why) {
  for (const char* program : {"initdb", "pg_ctl", "postgres"}) {
    if (!std::filesystem::exists(kBin / program)) {
      why = "PostgreSQL server binaries not installed (" + (kBin / program).string() +
            " missing; Debian package postgresql-15): the PostgreSQL archive tests are skipped";
      return nullptr;
    }
  }
  StopOrphans();
  std::unique_ptr<PostgresCluster> cluster(new PostgresCluster);
  std::string pattern = (std::filesystem::temp_directory_path() / "bplink_pg_XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  cluster->dir_ = pattern;
  const auto& dir = cluster->dir_;
  GiveToServerUser(dir);
  std::ofstream(dir / "owner") << getpid() << '\n';
  std::ofstream(dir / "pw") << kPassword << '\n';
  GiveToServerUser(dir / "pw");
  const auto log = dir / "server.log";
  std::ofstream{log};
  GiveToServerUser(log);

  Run({(kBin / "initdb").string(), "-D", (dir / "data").string(), "-U", "bplink", "--pwfile=" + (dir / "pw").string(),
       "--auth=scram-sha-256", "--no-sync", "--no-locale", "-E", "UTF8"},
      log);
  Run({(kBin / "pg_ctl").string(), "-D", (dir / "data").string(), "-l", log.string(), "-w", "-t", "60", "-o",
       "-c listen_addresses='' -c unix_socket_directories='" + dir.string() +
           "' -c fsync=off -c full_page_writes=off",
       "start"},
      log);
  std::filesystem::remove(dir / "pw");

  // The client's side: the password in a file only its owner reads.
  const auto passfile = dir / "client.pgpass";
  std::ofstream(passfile) << "*:*:*:bplink:" << kPassword << '\n';
  std::filesystem::permissions(passfile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  setenv("PGPASSFILE", passfile.c_str(), 1);
  unsetenv("PGPASSWORD");
  unsetenv("PGSERVICE");
  return cluster;
}

PostgresCluster::~PostgresCluster() { Stop(dir_); }

std::string PostgresCluster::Location() const {
  return "postgresql://bplink@/postgres?host=" + dir_.string();
}
