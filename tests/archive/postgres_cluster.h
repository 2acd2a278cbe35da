// A real, throw-away PostgreSQL server for one test: a cluster made with
// Debian's initdb in a temporary folder, reached on a Unix socket there, with
// password authentication, the password only in a password file. Stopped and
// removed when the object goes.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class PostgresCluster {
 public:
  // Null, with `why` said, when the server binaries are not installed.
  // `tcp`: the server also listens on 127.0.0.1 (Port()), without TLS until
  // EnableTls().
  static std::unique_ptr<PostgresCluster> Start(std::string& why, bool tcp = false);
  ~PostgresCluster();

  // A connection string without the password, through the Unix-domain
  // socket: the client finds the password in the password file PGPASSFILE
  // names, set for the test process (every role the tests make shares it).
  std::string Location(const std::string& role = "bplink") const;
  int Port() const { return port_; }
  const std::filesystem::path& Dir() const { return dir_; }
  // Runs statements as the cluster's superuser; throws when one fails.
  void Sql(const std::string& statements) const;
  // Turns TLS on with a certificate made for the test; false, with `why`,
  // when openssl is not installed.
  bool EnableTls(std::string& why);
  static constexpr const char* kPassword = "Ph7-archive-s3cret";

 private:
  PostgresCluster() = default;
  std::filesystem::path dir_;
  int port_ = 0;
};
