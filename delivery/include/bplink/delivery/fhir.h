// The FHIR transaction Bundle a shipment is sent as: the report's bundle
// for the study, with the patient as the record knows them and every entry a
// conditional create, so a second sending creates nothing twice.
#pragma once

#include <bplink/delivery/delivery.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <vector>

namespace bplink::delivery {

// A draft's Observations are "preliminary", a signed study's "final"; a
// signed study's bundle also holds the physician's DiagnosticReport (its
// signature as the analysis carries it, else the shipment's interpretation,
// signer and time), keyed by its version like every other entry.
// Throws std::invalid_argument when the patient has no identifier.
nlohmann::json FhirTransaction(const Shipment& shipment);

// `bundle` (a transaction) cut into transactions of at most `max_entries`
// entries each, in its order; the bundle whole when it has no more (or
// `max_entries` is 0). A later part's references to entries of an earlier
// one are left as their fullUrls: the sender makes them the ids the server
// answered for those entries. Throws std::invalid_argument when an entry
// refers to one after it, which no part before could have created.
std::vector<nlohmann::json> SplitTransaction(const nlohmann::json& bundle, std::size_t max_entries);

}  // namespace bplink::delivery
