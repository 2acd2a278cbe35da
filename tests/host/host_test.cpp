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

#if defined(_WIN32)
#include <windows.h>
#else
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

// The shared library as built, loaded by file name as a host loads it.
class Library {
 public:
#if defined(_WIN32)
  Library() : handle_(::LoadLibraryA(BPLINK_LIBRARY_FILE)) {}
  ~Library() { if (handle_ != nullptr) ::FreeLibrary(handle_); }
  void* Find(const char* name) const { return reinterpret_cast<void*>(::GetProcAddress(handle_, name)); }
  std::string Error() const { return "error " + std::to_string(::GetLastError()); }
#else
  Library() : handle_(dlopen(BPLINK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() { if (handle_ != nullptr) dlclose(handle_); }
  void* Find(const char* name) const { return dlsym(handle_, name); }
  std::string Error() const { return dlerror(); }
#endif
  bool Loaded() const { return handle_ != nullptr; }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

 private:
#if defined(_WIN32)
  HMODULE handle_;
#else
  void* handle_;
#endif
};

// Every function a host finds by its plain C name, and one of the library's
// C++ symbols (the same mangling with GCC on both systems).
const char* const kExportedNames[] = {
    "PackData",
    "UnPackData",
    "_ZN6bplink10CurrentEnvEv",
};

TEST(Host, ExportsItsFunctionsByName) {
  const Library lib;
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  for (const char* name : kExportedNames) EXPECT_NE(lib.Find(name), nullptr) << name;
#if defined(_WIN32)
  // hidapi is built into the DLL, but it is not part of what the DLL offers.
  EXPECT_EQ(lib.Find("hid_init"), nullptr);
#endif
  auto pack = reinterpret_cast<int (*)(const BYTE*, DWORD, BYTE*)>(lib.Find("PackData"));
  auto unpack = reinterpret_cast<int (*)(const BYTE*, DWORD, BYTE*, DWORD)>(lib.Find("UnPackData"));
  ASSERT_NE(pack, nullptr);
  ASSERT_NE(unpack, nullptr);
  const BYTE plain[4] = {0xFF, 0xFE, 0xFD, 0xFC};
  BYTE packed[5] = {}, back[4] = {};
  EXPECT_EQ(pack(plain, 4, packed), 1);
  EXPECT_EQ(packed[0], 0x8F);
  EXPECT_EQ(unpack(packed, 5, back, 4), 1);
  EXPECT_EQ(back[3], 0xFC);
}

// Every function <bplink/bplink_c.h> declares is in the library under its
// plain name, and the list the lookups use is the header's.
TEST(Host, CInterfaceIsExportedByPlainNames) {
  std::ifstream header(BPLINK_C_HEADER);
  ASSERT_TRUE(header) << BPLINK_C_HEADER;
  std::stringstream text;
  text << header.rdbuf();
  const std::string declarations = text.str();
  std::set<std::string> declared;
  const std::regex function(R"(BPLINK_C_CALL (bplink_\w+)\()");
  for (auto it = std::sregex_iterator(declarations.begin(), declarations.end(), function);
       it != std::sregex_iterator(); ++it)
    declared.insert((*it)[1]);
  EXPECT_EQ(declared, std::set<std::string>(std::begin(kCInterfaceFunctions), std::end(kCInterfaceFunctions)));
  const Library lib;
  ASSERT_TRUE(lib.Loaded()) << lib.Error();
  for (const char* name : kCInterfaceFunctions) EXPECT_NE(lib.Find(name), nullptr) << name;
}

}  // namespace
