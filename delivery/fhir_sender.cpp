// The FHIR transaction, and its POST to the server's base URL with libcurl:
// TLS verified (the system's authorities, or the clinic's own with --ca),
// a bearer token from a file or the environment, redirects not followed.

#include <bplink/delivery/fhir.h>

#include "senders.h"
#include "summary.h"

#include <bplink/env.h>

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace bplink::delivery {
namespace {

using nlohmann::json;

constexpr long kFirstServerError = 500;
constexpr long kBadGateway = 502, kServiceUnavailable = 503, kGatewayTimeout = 504;
constexpr int kMillisecondsPerSecond = 1000;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The token, or empty when none is configured; `error` when one was asked
// for and cannot be had. The token itself never goes into `error`.
std::string ReadToken(const DeliveryOptions& options, std::string& error) {
  if (!options.token_file.empty()) {
    std::ifstream in(options.token_file, std::ios::binary);
    if (!in) {
      error = "the token file " + options.token_file + " cannot be read: " + std::strerror(errno);
      return {};
    }
    std::string token{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.front()))) token.erase(0, 1);
    if (token.empty()) error = "the token file " + options.token_file + " is empty";
    else if (token.find_first_of("\r\n") != std::string::npos)
      error = "the token file " + options.token_file + " holds more than one line";
    return token;
  }
  if (options.token_env.empty()) return {};
  const char* value = std::getenv(options.token_env.c_str());
  return value ? value : "";
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// A member's text, or empty where the member is missing or not text: a
// server's answer is read without trusting its shape.
std::string TextAt(const json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// What an OperationOutcome says, issue by issue.
std::string IssuesOf(const json& outcome) {
  std::string text;
  if (!outcome.is_object() || !outcome.contains("issue") || !outcome["issue"].is_array()) return text;
  for (const json& issue : outcome["issue"]) {
    std::string one = issue.is_object() && issue.contains("details") ? TextAt(issue["details"], "text") : "";
    if (one.empty()) one = TextAt(issue, "diagnostics");
    if (one.empty()) one = TextAt(issue, "code");
    if (!one.empty()) text += (text.empty() ? "" : "; ") + one;
  }
  return text;
}

// A failure worth another try: the server not reached or silent, or a
// gateway in front of it that says so. The transaction is conditional
// throughout, so sending it again creates nothing twice.
bool Transient(CURLcode code, long status) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return true;
    case CURLE_OK:
      return status == kBadGateway || status == kServiceUnavailable || status == kGatewayTimeout;
    default:
      return false;
  }
}

void ReadAnswer(const std::string& body, long status, Receipt& receipt) {
  receipt.http_status = static_cast<int>(status);
  const json answer = json::parse(body, nullptr, false);
  const std::string type = TextAt(answer, "resourceType");
  if (type == "OperationOutcome") receipt.operation_outcome = answer;
  if (type != "Bundle" || !answer.contains("entry") || !answer["entry"].is_array()) return;
  const bool accepted = status >= 200 && status < 300;
  for (const json& entry : answer["entry"]) {
    const json response = entry.is_object() && entry.contains("response") ? entry["response"] : json::object();
    receipt.fhir_locations.push_back(TextAt(response, "location"));
    receipt.fhir_statuses.push_back(TextAt(response, "status"));
    if (!accepted && receipt.operation_outcome.is_null() && response.is_object() && response.contains("outcome"))
      receipt.operation_outcome = response["outcome"];
  }
}

// Calls `visit` with every reference a resource holds (Reference.reference).
void ForEachReference(const json& value, const std::function<void(const std::string&)>& visit) {
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (it.key() == "reference" && it->is_string()) visit(it->get<std::string>());
      else ForEachReference(*it, visit);
    }
  } else if (value.is_array()) {
    for (const json& member : value) ForEachReference(member, visit);
  }
}

// A reference to an entry an earlier transaction created, made the
// resource's id on the server.
void RewriteReferences(json& value, const std::map<std::string, std::string>& created) {
  if (value.is_object()) {
    for (auto& [key, member] : value.items()) {
      if (key == "reference" && member.is_string()) {
        if (const auto it = created.find(member.get<std::string>()); it != created.end()) member = it->second;
      } else {
        RewriteReferences(member, created);
      }
    }
  } else if (value.is_array()) {
    for (json& member : value) RewriteReferences(member, created);
  }
}

// "Patient/7" of "Patient/7/_history/2" (or of the full URL a server may answer).
std::string WithoutVersion(const std::string& location) {
  std::string reference = location.substr(0, location.find("/_history/"));
  // Type/id: the last two segments.
  const std::size_t last = reference.rfind('/');
  if (last != std::string::npos && last > 0) {
    const std::size_t type = reference.rfind('/', last - 1);
    if (type != std::string::npos) reference.erase(0, type + 1);
  }
  return reference;
}

// Nothing reached the server: not found, not connected, or not trusted.
bool Unreachable(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

json FhirTransaction(const Shipment& shipment) {
  const Patient& p = shipment.patient;
  report::Analysis analysis = shipment.analysis;
  analysis.recording.subject = {FullName(p), p.id, p.birth_date, p.sex};
  // The physician's report goes with a signed study only: as the archive
  // signed it (every version, so an amendment goes as one), else from what
  // the shipment says of its signature.
  if (shipment.draft || !shipment.signed_at) {
    analysis.recording.signature.reset();
  } else if (!analysis.recording.signature || !analysis.recording.signature->InForce()) {
    report::SignedVersion version;
    version.interpretation = shipment.interpretation;
    version.signer = shipment.signer;
    version.signed_at = *shipment.signed_at;
    analysis.recording.signature = report::Signature{{version}, false};
  }
  json bundle = report::FhirBundle(analysis, OffsetOf(shipment), {p.system, StudySystem(shipment), shipment.study_id});
  for (json& entry : bundle["entry"]) {
    json& resource = entry["resource"];
    if (resource["resourceType"] == "Patient" && resource.contains("name")) {
      json& name = resource["name"][0];
      if (!p.family.empty()) name["family"] = p.family;
      if (!p.given.empty()) name["given"] = {p.given};
    }
    if (shipment.draft && resource["resourceType"] == "Observation" && resource["status"] == "final")
      resource["status"] = "preliminary";
  }
  return bundle;
}

std::vector<json> SplitTransaction(const json& bundle, std::size_t max_entries) {
  const json& entries = bundle.at("entry");
  if (max_entries == 0 || entries.size() <= max_entries) return {bundle};
  // Every entry's fullUrl, by its place: a reference to a later one could
  // not be resolved by the part it is sent in.
  std::map<std::string, std::size_t> place;
  for (std::size_t i = 0; i < entries.size(); ++i) place[TextAt(entries[i], "fullUrl")] = i;
  std::vector<json> parts;
  for (std::size_t first = 0; first < entries.size(); first += max_entries) {
    json part = bundle;
    part["entry"] = json::array();
    for (std::size_t i = first; i < std::min(entries.size(), first + max_entries); ++i) {
      ForEachReference(entries[i]["resource"], [&](const std::string& reference) {
        const auto it = place.find(reference);
        if (it != place.end() && it->second > i)
          throw std::invalid_argument("the transaction's entry " + std::to_string(i) + " refers to a later entry, " +
                                      reference + ", so it cannot be sent in parts");
      });
      part["entry"].push_back(entries[i]);
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

void SendFhir(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
              Receipt& receipt) {
  const auto fail = [&](const std::string& why) { receipt.reason = destination.text + ": " + why; };
  receipt.failure = Receipt::Failure::kInput;
  if (!options.ca_file.empty()) {
    if (std::ifstream ca(options.ca_file); !ca) return fail("the CA file " + options.ca_file + " cannot be read: " +
                                                            std::strerror(errno));
  }
  std::string error;
  const std::string token = ReadToken(options, error);
  if (!error.empty()) return fail(error);
  std::vector<json> parts =
      SplitTransaction(FhirTransaction(shipment), static_cast<std::size_t>(std::max(options.fhir_max_entries, 0)));

  static std::once_flag curl_initialised;
  std::call_once(curl_initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) return fail("the HTTP client could not be started");
  curl_slist* list = nullptr;
  list = curl_slist_append(list, "Content-Type: application/fhir+json");
  list = curl_slist_append(list, "Accept: application/fhir+json");
  const std::unique_ptr<curl_slist, HeaderListDeleter> headers(list);

  char curl_error[CURL_ERROR_SIZE] = {};
  std::string answer;
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, destination.url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, options.ca_file.c_str());
  if (!token.empty()) {
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, CURLAUTH_BEARER);
    curl_easy_setopt(c, CURLOPT_XOAUTH2_BEARER, token.c_str());
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, curl_error);
  // The time-out is how long the server may stay silent: to connect, and
  // then at any moment of the exchange, however large the bundle.
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.timeout_ms));
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>((options.timeout_ms + kMillisecondsPerSecond - 1) / kMillisecondsPerSecond));

  // Where a part before this one put each of its entries: a later part
  // refers to them by the ids the server gave.
  std::map<std::string, std::string> created;
  std::size_t entries_taken = 0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    json& part = parts[k];
    for (json& entry : part["entry"])
      RewriteReferences(entry["resource"], created);
    const std::string body = part.dump();
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    ++receipt.transactions;
    // A part that went whole before this one failed is said with it: the
    // record holds those, and a repeat creates nothing twice.
    const std::string so_far =
        k == 0 ? std::string()
               : " (transaction " + std::to_string(k + 1) + " of " + std::to_string(parts.size()) + "; the " +
                     std::to_string(k) + " before it, " + std::to_string(entries_taken) +
                     " entries, were taken, and sending again completes the study without creating them twice)";
    CURLcode code = CURLE_OK;
    long status = 0;
    int tries = 0;
    for (int attempt = 0; attempt <= options.retries; ++attempt) {
      if (attempt > 0 && options.retry_pause_ms > 0)
        CurrentEnv()->Sleep(static_cast<unsigned>(options.retry_pause_ms));
      ++tries;
      answer.clear();
      curl_error[0] = '\0';
      code = curl_easy_perform(c);
      status = 0;
      curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
      if (!Transient(code, status)) break;
    }
    receipt.tries += tries;
    if (code != CURLE_OK) {
      std::string why = curl_error[0] ? curl_error : curl_easy_strerror(code);
      receipt.failure = Unreachable(code) ? Receipt::Failure::kUnreachable : Receipt::Failure::kNoAnswer;
      if (code == CURLE_PEER_FAILED_VERIFICATION)
        why = "the server's certificate is not trusted (" + why + "); give its authority with --ca FILE";
      if (tries > 1) why += " (" + std::to_string(tries) + " tries)";
      return fail(why + so_far);
    }
    const std::size_t before = receipt.fhir_locations.size();
    ReadAnswer(answer, status, receipt);
    if (status < 200 || status >= 300) {
      receipt.outcome = Receipt::Outcome::kRefused;
      receipt.failure = Receipt::Failure::kNone;
      std::string why = "refused (HTTP " + std::to_string(status) + ")";
      if (const std::string issues = IssuesOf(receipt.operation_outcome); !issues.empty()) why += ": " + issues;
      if (status >= kFirstServerError && tries > 1) why += " (" + std::to_string(tries) + " tries)";
      return fail(why + so_far);
    }
    const json& sent = part["entry"];
    if (receipt.fhir_locations.size() - before != sent.size()) {
      receipt.failure = Receipt::Failure::kNoAnswer;
      return fail("the server answered transaction " + std::to_string(k + 1) + " with " +
                  std::to_string(receipt.fhir_locations.size() - before) + " entries for the " +
                  std::to_string(sent.size()) + " sent" + so_far);
    }
    for (std::size_t i = 0; i < sent.size(); ++i) {
      const std::string& location = receipt.fhir_locations[before + i];
      // A later part can refer only to what the server said where it put.
      if (location.empty() && k + 1 < parts.size()) {
        receipt.failure = Receipt::Failure::kNoAnswer;
        return fail("the server answered transaction " + std::to_string(k + 1) + " without the location of entry " +
                    std::to_string(i + 1) + ", which the next transactions refer to" + so_far);
      }
      created[TextAt(sent[i], "fullUrl")] = WithoutVersion(location);
    }
    entries_taken += sent.size();
  }
  receipt.outcome = Receipt::Outcome::kAcknowledged;
  receipt.failure = Receipt::Failure::kNone;
}

}  // namespace bplink::delivery
