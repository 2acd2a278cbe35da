#include "postgres_cluster.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

// A TCP port nothing listens on now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free TCP port for the test server");
  close(fd);
  return ntohs(address.sin_port);
}

}  // namespace

std::unique_ptr<PostgresCluster> PostgresCluster::Start(std::string& why, bool tcp) {
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
  if (tcp) cluster->port_ = FreePort();
  const std::string listen = tcp ? "-c listen_addresses='127.0.0.1' -c port=" + std::to_string(cluster->port_)
                                 : std::string("-c listen_addresses=''");
  Run({(kBin / "pg_ctl").string(), "-D", (dir / "data").string(), "-l", log.string(), "-w", "-t", "60", "-o",
       listen + " -c unix_socket_directories='" + dir.string() + "' -c fsync=off -c full_page_writes=off",
       "start"},
      log);
  std::filesystem::remove(dir / "pw");

  // The client's side: the password in a file only its owner reads.
  const auto passfile = dir / "client.pgpass";
  std::ofstream(passfile) << "*:*:*:*:" << kPassword << '\n';
  std::filesystem::permissions(passfile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  setenv("PGPASSFILE", passfile.c_str(), 1);
  unsetenv("PGPASSWORD");
  unsetenv("PGSERVICE");
  unsetenv("PGSSLMODE");
  return cluster;
}

void PostgresCluster::Sql(const std::string& statements) const {
  PGconn* db = PQconnectdb(Location().c_str());
  PGresult* result = PQexec(db, statements.c_str());
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
  const std::string error = PQerrorMessage(db);
  PQclear(result);
  PQfinish(db);
  if (!ok) throw std::runtime_error("SQL failed: " + error + " in: " + statements);
}

bool PostgresCluster::EnableTls(std::string& why) {
  if (!std::filesystem::exists("/usr/bin/openssl")) {
    why = "openssl not installed: the test of a connection with TLS is skipped";
    return false;
  }
  const auto data = dir_ / "data";
  const auto log = dir_ / "openssl.log";
  std::vector<std::string> args = {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                                   "-subj", "/CN=localhost", "-days", "2",
                                   "-keyout", (data / "server.key").string(), "-out", (data / "server.crt").string()};
  {
    std::ofstream{log};
    GiveToServerUser(log);
  }
  Run(args, log);  // as the server's user, who must own the key
  std::filesystem::permissions(data / "server.key",
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  Sql("ALTER SYSTEM SET ssl = on");
  Sql("SELECT pg_reload_conf()");
  // The reload is asynchronous: wait until a new session sees it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    PGconn* db = PQconnectdb(Location().c_str());
    PGresult* result = PQexec(db, "SHOW ssl");
    const bool on = PQresultStatus(result) == PGRES_TUPLES_OK && std::string(PQgetvalue(result, 0, 0)) == "on";
    PQclear(result);
    PQfinish(db);
    if (on) return true;
    usleep(50000);
  }
  why = "the test server did not turn TLS on";
  return false;
}

PostgresCluster::~PostgresCluster() { Stop(dir_); }

std::string PostgresCluster::Location(const std::string& role) const {
  return "postgresql://" + role + "@/postgres?host=" + dir_.string() +
         (port_ != 0 ? "&port=" + std::to_string(port_) : std::string());
}
