// The device families the program knows, in one table: how to make a
// family's protocol object, its simulated device, and which protocol codes
// it serves. A family joins the program by adding its entry in families.cpp.
#pragma once

#include <bplink/bplink.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_model.h"

namespace bplink::cli {

// What a simulated device stores and which fault it shows.
struct SimSettings {
  int device_type = kDeviceAmbulatory;  // HID family only
  std::optional<int> records;           // readings in the first store; default: a day's recording
  std::optional<int> silent_after;      // the device stops sending after this many records
  unsigned pace_ms = 0;                 // each frame the device sends takes this long to arrive
};

enum class LinkKind { kHid, kSerial };

struct Family {
  std::string name;
  std::string class_name;  // the protocol class, as hosts know it
  LinkKind link;
  std::vector<int> protocols;  // the protocol codes this family's class serves
  std::function<std::unique_ptr<CProtocolBase>()> make_protocol;
  // Throws std::invalid_argument for settings the model cannot take.
  std::function<std::unique_ptr<sim::DeviceModel>(const SimSettings&)> make_model;
};

// Every family name the program accepts, also those not in this build.
const std::vector<std::string>& FamilyNames();
// Null when the family is not in this build.
const Family* FindFamily(const std::string& name);
const Family* FamilyForProtocol(int protocol);
// "the kx71 family is not available in this build".
std::string NotInBuild(const std::string& name);

}  // namespace bplink::cli
