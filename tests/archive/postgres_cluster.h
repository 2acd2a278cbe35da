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
  static std::unique_ptr<PostgresCluster> Start(std::string& why);
  ~PostgresCluster();

  // A connection string without the password: the client finds it in the
  // password file PGPASSFILE names, set for the test process.
  std::string Location() const;
  static constexpr const char* kPassword = "Ph7-archive-s3cret";

 private:
  PostgresCluster() = default;
  std::filesystem::path dir_;
};
