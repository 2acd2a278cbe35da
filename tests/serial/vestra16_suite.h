// The VESTRA16 and VESTRA16C monitors keep the same settings and records and
// talk alike: one suite, defined in vestra16_test.cpp and instantiated in
// each family's test file with what differs as parameters.
#pragma once

#include <bplink/families.h>

#include <cstdint>
#include <memory>
#include <ostream>

#include "serial_bench.h"
#include "vestra16/model.h"

namespace bplink::testing {

struct Vestra16Family {
  const char* name;  // in the families' table
  std::unique_ptr<sim::vestra16::Monitor> (*monitor)();
  tag_SUPPORT_PROTOCOL id;
  std::vector<Write> download;    // the host's writes for a download of three records
  std::uint64_t downloadMs;       // and the time it takes
  std::uint64_t uploadSearchMs;   // finding the monitor for an upload
  BYTE optionOn;                  // the settings byte that means option 2 is on
  Bytes optionSent;               // what option 2 = 0, 1 and 5 are uploaded as
  bool windowByParts;             // each part of the extra window is sent on its own
  int unacknowledged;             // the upload's result when a byte is not acknowledged
  bool aux3;                      // record byte 12 is kept

  friend void PrintTo(const Vestra16Family& f, std::ostream* os) { *os << f.name; }
};

class Vestra16Suite : public ::testing::TestWithParam<Vestra16Family> {
 protected:
  Vestra16Suite() { bench_.Bind(*protocol_); }

  std::unique_ptr<sim::vestra16::Monitor> monitor_ = GetParam().monitor();
  SerialBench bench_{monitor_.get()};
  std::unique_ptr<CProtocolBase> protocol_ = FindFamily(GetParam().name)->make();
};

inline std::string Vestra16Name(const ::testing::TestParamInfo<Vestra16Family>& info) { return info.param.name; }

}  // namespace bplink::testing
