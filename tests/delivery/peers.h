// The real peers the delivery tests send to, shared by the library's tests
// and the program's: the FHIR server (Medplum's FHIR router behind Node's
// HTTPS server, with certificates made here by openssl), and whether the
// HL7 receiver's and the npm peers' prerequisites are installed.
#pragma once

#include <nlohmann/json.hpp>

#include <curl/curl.h>

#include <memory>
#include <string>
#include <vector>

#include "peer_process.h"

namespace bplink::delivery::testing {

// The folder of the peers (tests/delivery/peers) and how long one may take
// to start.
extern const std::string kPeers;
constexpr int kReadyMs = 20000;
// The bearer token the FHIR server asks for.
constexpr const char* kFhirToken = "tok-3f9a1c77e2d84b51";

bool HavePythonHl7();
bool HaveNodePeers();

// The server and its certificates: a clinic's own authority (ca.pem), the
// server's certificate from it, another authority that did not sign it
// (other.pem), and the token file (token).
class FhirServer {
 public:
  // `strict`: the router processes transactions with strict isolation.
  explicit FhirServer(bool strict = false);

  const std::string& Error() const { return error_; }
  std::string Base() const;
  std::string File(const std::string& name) const { return dir_ / name; }

  // GET below the base, as a record's own client would; null when it fails.
  // One handle for every read, so they share one TLS connection.
  nlohmann::json Get(const std::string& path) const;
  // Every resource a search finds.
  std::vector<nlohmann::json> Search(const std::string& query) const;

 private:
  struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
  };
  struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
  };

  TempFolder dir_;
  std::unique_ptr<PeerProcess> process_;
  std::string error_;
  mutable std::unique_ptr<CURL, CurlDeleter> reader_;
  mutable std::unique_ptr<curl_slist, ListDeleter> headers_;
};

// A reference resolved on the server: the resource, or null.
nlohmann::json Resolve(const FhirServer& server, const nlohmann::json& reference);

}  // namespace bplink::delivery::testing
