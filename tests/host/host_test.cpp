// What a host sees: the public header and the shared library, nothing else.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "c_exports.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace {

class LoopDevice : public CDevice {
 public:
  int Close() override { return 1; }
  int RecvData(BYTE*, DWORD) override { return 0; }
  int SendData(BYTE*, DWORD) override { return 1; }
};

// Every exported slot answers through the library's vtable as the base
// class does; the host deletes the object, and keeps its device.
TEST(Host, DrivesABaseProtocolObjectInSlotOrder) {
  LoopDevice device;
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  CProtocolBase* protocol = new CProtocolBase;
  protocol->SetDevice(&device, false);
  int modes[9] = {};
  _UPLOAD_NEEDED_DATA needed;
  tag_SUPPORT_PROTOCOL info;
  _SUB_VERSION version;
  _DOWNLOAD_DATAINFO data;
  EXPECT_EQ((std::vector<int>{protocol->SetProgressInfo(&progress, &state, &stage), protocol->PC_Download(DATAMODE_BP),
                              protocol->PC_Delete(DATAMODE_BP), protocol->PC_Upload(DATAMODE_BP),
                              protocol->GetDownLoadDataMode(modes), protocol->PC_DownloadBPInfoTimeInterval(needed),
                              protocol->SetUpLoadData(_BP_TRANSPORT_INFO{}), protocol->GetCurDeviceInfo(info),
                              protocol->GetProtocolVersion(version), protocol->GetDownLoadData(&data)}),
            (std::vector<int>{1, 1, 1, 1, 1, 10, 1, 1, 1, 1}));
  EXPECT_EQ(needed.vecInterval1.size(), 9u);
  delete protocol;  // through the virtual destructor; the device stays the host's
  EXPECT_EQ(device.SendData(nullptr, 0), 1);
}

// The codec by its plain C names, and the library's own symbols, in the
// shared library as built.
TEST(Host, CodecIsReachableAsPlainCFunctions) {
#if defined(_WIN32)
  GTEST_SKIP() << "symbol lookup by plain name is checked on ELF builds";
#else
  void* lib = dlopen(BPLINK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto pack = reinterpret_cast<int (*)(const BYTE*, DWORD, BYTE*)>(dlsym(lib, "PackData"));
  auto unpack = reinterpret_cast<int (*)(const BYTE*, DWORD, BYTE*, DWORD)>(dlsym(lib, "UnPackData"));
  ASSERT_NE(pack, nullptr);
  ASSERT_NE(unpack, nullptr);
  const BYTE plain[4] = {0xFF, 0xFE, 0xFD, 0xFC};
  BYTE packed[5] = {}, back[4] = {};
  EXPECT_EQ(pack(plain, 4, packed), 1);
  EXPECT_EQ(packed[0], 0x8F);
  EXPECT_EQ(unpack(packed, 5, back, 4), 1);
  EXPECT_EQ(back[3], 0xFC);
  EXPECT_NE(dlsym(lib, "_ZN6bplink10CurrentEnvEv"), nullptr);
  dlclose(lib);
#endif
}

// Every function <bplink/bplink_c.h> declares is in the library under its
// plain name, and the list the lookups use is the header's.
TEST(Host, CInterfaceIsExportedByPlainNames) {
  std::ifstream header(BPLINK_C_HEADER);
  std::stringstream text;
  text << header.rdbuf();
  const std::string declarations = text.str();
  std::set<std::string> declared;
  const std::regex function(R"(BPLINK_C_CALL (bplink_\w+)\()");
  for (auto it = std::sregex_iterator(declarations.begin(), declarations.end(), function);
       it != std::sregex_iterator(); ++it)
    declared.insert((*it)[1]);
  EXPECT_EQ(declared, std::set<std::string>(std::begin(kCInterfaceFunctions), std::end(kCInterfaceFunctions)));
#if !defined(_WIN32)
  void* lib = dlopen(BPLINK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  for (const char* name : kCInterfaceFunctions) EXPECT_NE(dlsym(lib, name), nullptr) << name;
  dlclose(lib);
#endif
}

}  // namespace
