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
#include "settings.h"

namespace bplink::cli {

// What a simulated device stores and which fault it shows.
using SimSettings = sim::SimSettings;

enum class LinkKind { kHid, kSerial };

struct Family {
  std::string name;
  std::string class_name;  // the protocol class, as hosts know it
  LinkKind link;
  std::vector<int> protocols;  // the protocol codes this family's class serves
  std::function<std::unique_ptr<CProtocolBase>()> make_protocol;
  // The family's demo device, from the simulators' registry; throws
  // std::invalid_argument for settings the model cannot take.
  std::function<std::unique_ptr<sim::DeviceModel>(const SimSettings&)> make_model;
  // The plan members (as plan files name them) its devices keep and a
  // download reads back; empty for a family that takes no plan.
  std::vector<std::string> plan_members;
  // A host may ask it to delete measurements (the device type may still refuse).
  bool deletes = false;
  // What its transfers answer when the device stops answering part-way.
  int silence_result = kResultIoFailed;
};

// Every family name the program accepts.
const std::vector<std::string>& FamilyNames();
// Null for a name or code no family has.
const Family* FindFamily(const std::string& name);
const Family* FamilyForProtocol(int protocol);

}  // namespace bplink::cli
