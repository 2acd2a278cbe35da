// Where the archive is, as the user wrote it.

#include <libpq-fe.h>

#include <cctype>
#include <memory>

#include <bplink/archive/archive.h>

#include "connection.h"

namespace bplink::archive {
namespace {

constexpr std::string_view kWhereCredentialsGo =
    "put the password in the password file (~/.pgpass, or the file PGPASSFILE names, readable by you only) "
    "or in a service file (~/.pg_service.conf or PGSERVICEFILE) and give --archive 'service=NAME'";

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// "key=value ...": libpq's other form of a connection string.
bool IsKeywordForm(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const std::size_t name = i;
  while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) ++i;
  if (i == name) return false;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i < text.size() && text[i] == '=';
}

}  // namespace

std::string DefaultArchivePath(const char* xdg_data_home, const char* home) {
  // An XDG variable that is not an absolute path is to be ignored.
  if (xdg_data_home && xdg_data_home[0] == '/') return std::string(xdg_data_home) + "/bplink/archive.sqlite";
  if (!home || !*home) throw ArchiveError("no archive named, and neither XDG_DATA_HOME nor HOME is set");
  return std::string(home) + "/.local/share/bplink/archive.sqlite";
}

Location ParseLocation(std::string_view text) {
  if (text.empty()) throw ArchiveError("the archive location is empty");
  if (!StartsWith(text, "postgresql://") && !StartsWith(text, "postgres://") && !IsKeywordForm(text))
    return {Engine::kSqlite, std::string(text)};

  const std::string conninfo(text);
  char* error = nullptr;
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(conninfo.c_str(), &error),
                                                                        &PQconninfoFree);
  // libpq's reason may quote the text, password and all: it is not repeated.
  PQfreemem(error);
  if (!options)
    throw ArchiveError("the PostgreSQL archive location cannot be read: write it as postgresql://[user@]host/database"
                       "[?param=value] or as 'key=value ...'");
  for (const PQconninfoOption* o = options.get(); o->keyword; ++o) {
    const std::string_view key = o->keyword;
    const std::string_view value = o->val ? o->val : "";
    if (key == "password" && !value.empty())
      throw ArchiveError("a password in the archive location is refused, since others on this PC can read a "
                         "command line and the environment; " + std::string(kWhereCredentialsGo));
    if (key == "sslmode" && (value == "disable" || value == "allow"))
      throw ArchiveError(detail::SslModeRefused(value, "in the archive location"));
  }
  return {Engine::kPostgres, conninfo};
}

}  // namespace bplink::archive
