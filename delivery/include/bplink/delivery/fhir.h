// The FHIR transaction Bundle a shipment is sent as: the report's bundle
// for the study, with the patient as the record knows them and every entry a
// conditional create, so a second sending creates nothing twice.
#pragma once

#include <bplink/delivery/delivery.h>

#include <nlohmann/json.hpp>

namespace bplink::delivery {

// A draft's Observations are "preliminary", a signed study's "final"; a
// signed study's bundle also holds the physician's DiagnosticReport (its
// signature as the analysis carries it, else the shipment's interpretation,
// signer and time), keyed by its version like every other entry.
// Throws std::invalid_argument when the patient has no identifier.
nlohmann::json FhirTransaction(const Shipment& shipment);

}  // namespace bplink::delivery
