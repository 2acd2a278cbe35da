#include "peers.h"

#include <filesystem>

namespace bplink::delivery::testing {

using nlohmann::json;

const std::string kPeers = DELIVERY_PEERS;

bool HavePythonHl7() {
  int status = 0;
  Capture("/usr/bin/python3 -c 'import hl7.mllp' 2>/dev/null", status);
  return status == 0;
}

bool HaveNodePeers() {
  return HaveCommand("node") && std::filesystem::exists(kPeers + "/node_modules/@medplum/fhir-router") &&
         std::filesystem::exists(kPeers + "/node_modules/xdt");
}

FhirServer::FhirServer(bool strict) {
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  WriteFile(dir_ / "server.ext", "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
  WriteFile(dir_ / "token", std::string(kFhirToken) + "\n");
  const std::string commands =
      "cd " + dir_.Path().string() + " && openssl req -x509" + ec +
      " -keyout ca.key -out ca.pem -days 2 -subj /CN=clinic-ca" +
      " && openssl req -x509" + ec + " -keyout other.key -out other.pem -days 2 -subj /CN=other-ca" +
      " && openssl req" + ec + " -keyout server.key -out server.csr -subj /CN=127.0.0.1" +
      " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext"
      " -out server.pem";
  int status = 0;
  const std::string said = Capture("(" + commands + ") 2>&1", status);
  if (status != 0) {
    error_ = "openssl could not make the certificates: " + said;
    return;
  }
  std::vector<std::string> argv{"node", kPeers + "/fhir_server.js", dir_ / "server.pem", dir_ / "server.key",
                                dir_ / "token"};
  if (strict) argv.push_back("strict");
  process_ = std::make_unique<PeerProcess>(argv, kReadyMs);
  if (process_->Port() == 0) error_ = process_->Error();
}

std::string FhirServer::Base() const { return "https://127.0.0.1:" + std::to_string(process_->Port()) + "/fhir"; }

json FhirServer::Get(const std::string& path) const {
  if (!reader_) {
    reader_.reset(curl_easy_init());
    headers_.reset(curl_slist_append(nullptr, (std::string("Authorization: Bearer ") + kFhirToken).c_str()));
    curl_easy_setopt(reader_.get(), CURLOPT_CAINFO, File("ca.pem").c_str());
    curl_easy_setopt(reader_.get(), CURLOPT_HTTPHEADER, headers_.get());
    curl_easy_setopt(reader_.get(), CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* out) {
      static_cast<std::string*>(out)->append(data, size * n);
      return size * n;
    });
  }
  std::string body;
  const std::string url = Base() + "/" + path;
  curl_easy_setopt(reader_.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(reader_.get(), CURLOPT_WRITEDATA, &body);
  const CURLcode code = curl_easy_perform(reader_.get());
  long status = 0;
  curl_easy_getinfo(reader_.get(), CURLINFO_RESPONSE_CODE, &status);
  return code == CURLE_OK && status == 200 ? json::parse(body, nullptr, false) : json();
}

std::vector<json> FhirServer::Search(const std::string& query) const {
  std::vector<json> found;
  const json bundle = Get(query + (query.find('?') == std::string::npos ? "?" : "&") + "_count=1000");
  for (const json& entry : bundle.value("entry", json::array())) found.push_back(entry["resource"]);
  return found;
}

json Resolve(const FhirServer& server, const json& reference) {
  return server.Get(reference["reference"].get<std::string>());
}

}  // namespace bplink::delivery::testing
