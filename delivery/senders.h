// One sender per kind of destination. Each fills `receipt` (outcome,
// reason, the peer's answer); Deliver has checked the shipment and catches
// what they throw.
#pragma once

#include <bplink/delivery/delivery.h>

namespace bplink::delivery {

void SendFhir(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
              Receipt& receipt);
void SendHl7(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
             Receipt& receipt);
void WriteGdt(const Shipment& shipment, const Destination& destination, const DeliveryOptions& options,
              Receipt& receipt);

}  // namespace bplink::delivery
