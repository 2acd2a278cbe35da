// One family's host side and simulated device, ready for a whole transfer:
// the protocol object with its three progress variables and a model holding
// a given number of records. The benchmarks bind it to whatever device they
// measure through (the real serial port on a pty, or the in-process adapter).
#pragma once

#include <bplink/bplink.h>

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "device_model.h"

namespace bplink::bench {

enum class Family { kHid, kKX71, kKV32, kVestra16, kVestra16C, kVestra18 };

inline constexpr Family kSerialFamilies[] = {Family::kKX71, Family::kKV32, Family::kVestra16,
                                             Family::kVestra16C, Family::kVestra18};
inline constexpr Family kAllFamilies[] = {Family::kHid,      Family::kKX71,       Family::kKV32,
                                          Family::kVestra16, Family::kVestra16C, Family::kVestra18};

std::string_view FamilyName(Family family);
// The most records the family's device can hold for one download.
int MaxRecords(Family family);

class Rig {
 public:
  virtual ~Rig() = default;

  virtual sim::DeviceModel& Model() = 0;
  virtual CProtocolBase& Protocol() = 0;
  virtual bool CanUpload() const = 0;
  // Replaces the protocol object by a new one, unbound, with an empty store.
  virtual void RenewProtocol() = 0;

  // Every transfer goes through this device; `opened` as SetDevice takes it.
  void Bind(CDevice& device, bool opened = false);
  // PC_Download in the family's data mode; its result.
  int Download();
  // PC_Upload of a plan in the family's data mode; its result.
  int Upload();
  // Blood-pressure records the last download stored, over every data set.
  std::size_t StoredRecords();

 protected:
  explicit Rig(enum_DataMode mode) : mode_(mode) {}

 private:
  enum_DataMode mode_;
  int progress_ = 0;
  int state_ = 0;
  enum_TransportType stage_ = TRANSPORT_BP_MODE0;
};

// A rig whose device stores `records` blood-pressure records.
std::unique_ptr<Rig> MakeRig(Family family, int records);

}  // namespace bplink::bench
