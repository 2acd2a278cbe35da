#include "families.h"

#include <algorithm>

#include "models.h"

namespace bplink::cli {
namespace {

// Each family's make_model is filled in below, from the simulators'
// registry under the family's name.
const std::vector<Family>& Table() {
  static const std::vector<Family> families = [] {
    std::vector<Family> table = {
        {"hid", "CProtocol_NEW", LinkKind::kHid, {1, 2, 3, 4, 5},
         [] { return std::make_unique<CProtocol_NEW>(); }, nullptr,
         {"period1", "period2", "extra", "patient"}, true, kResultIoFailed},
        {"kx71", "CProtocolCOMKX71", LinkKind::kSerial, {kProtocolKX71},
         [] { return std::make_unique<CProtocolCOMKX71>(); }, nullptr,
         {"period1", "period2", "patient"}, false, kResultIoFailed},
        {"kv32", "CProtocolCOMKV32", LinkKind::kSerial, {kProtocolKV32},
         [] { return std::make_unique<CProtocolCOMKV32>(); }, nullptr,
         {"period1", "period2", "extra", "patient"}, false, kResultIoFailed},
        {"vestra16", "CProtocolCOMVESTRA16", LinkKind::kSerial, {kProtocolVESTRA16},
         [] { return std::make_unique<CProtocolCOMVESTRA16>(); }, nullptr,
         {"period1", "period2", "extra", "patient"}, false, kResultUnexpectedReply},
        {"vestra16c", "CProtocolCOMVESTRA16C", LinkKind::kSerial, {kProtocolVESTRA16C},
         [] { return std::make_unique<CProtocolCOMVESTRA16C>(); }, nullptr,
         {"period1", "period2", "extra", "patient"}, false, kResultUnexpectedReply},
        {"vestra18", "CProtocolCOMVESTRA18", LinkKind::kSerial, {kProtocolVESTRA18},
         [] { return std::make_unique<CProtocolCOMVESTRA18>(); }, nullptr, {}, false, kResultIoFailed},
    };
    for (Family& family : table)
      family.make_model = [name = family.name](const SimSettings& settings) { return sim::MakeModel(name, settings); };
    return table;
  }();
  return families;
}

}  // namespace

const std::vector<std::string>& FamilyNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const Family& family : Table()) all.push_back(family.name);
    return all;
  }();
  return names;
}

const Family* FindFamily(const std::string& name) {
  const auto& table = Table();
  const auto it = std::find_if(table.begin(), table.end(), [&](const Family& f) { return f.name == name; });
  return it != table.end() ? &*it : nullptr;
}

const Family* FamilyForProtocol(int protocol) {
  for (const Family& family : Table())
    if (std::find(family.protocols.begin(), family.protocols.end(), protocol) != family.protocols.end())
      return &family;
  return nullptr;
}

}  // namespace bplink::cli
