// What a host sees: the public header and the shared library, nothing else.

#include <bplink/bplink.h>
#include <gtest/gtest.h>

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

TEST(Host, DrivesABaseProtocolObjectInSlotOrder) {
  LoopDevice device;
  int progress = 0, state = 0;
  enum_TransportType stage = TRANSPORT_BP_MODE0;
  CProtocolBase* protocol = new CProtocolBase;
  protocol->SetDevice(&device, false);
  ASSERT_EQ(protocol->SetProgressInfo(&progress, &state, &stage), 1);

  EXPECT_EQ(protocol->PC_Download(DATAMODE_BP), 1);
  EXPECT_EQ(protocol->PC_Delete(DATAMODE_BP), 1);
  EXPECT_EQ(protocol->PC_Upload(DATAMODE_BP), 1);
  int modes[9] = {};
  EXPECT_EQ(protocol->GetDownLoadDataMode(modes), 1);
  _UPLOAD_NEEDED_DATA needed;
  EXPECT_EQ(protocol->PC_DownloadBPInfoTimeInterval(needed), 10);
  EXPECT_EQ(needed.vecInterval1.size(), 9u);
  EXPECT_TRUE(protocol->SetUpLoadData(_BP_TRANSPORT_INFO{}));
  tag_SUPPORT_PROTOCOL info;
  EXPECT_EQ(protocol->GetCurDeviceInfo(info), 1);
  _SUB_VERSION version;
  EXPECT_EQ(protocol->GetProtocolVersion(version), 1);
  EXPECT_EQ(version.nMainVersion, 1);
  _DOWNLOAD_DATAINFO data;
  EXPECT_EQ(protocol->GetDownLoadData(&data), 1);
  delete protocol;  // through the virtual destructor; the device stays the host's
  EXPECT_EQ(device.SendData(nullptr, 0), 1);
}

TEST(Host, CodecIsReachableAsPlainCFunctions) {
#if defined(_WIN32)
  GTEST_SKIP() << "symbol lookup by plain name is checked on ELF builds";
#else
  void* lib = dlopen(BPLINK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  using PackFn = int (*)(const BYTE*, DWORD, BYTE*);
  using UnpackFn = int (*)(const BYTE*, DWORD, BYTE*, DWORD);
  auto pack = reinterpret_cast<PackFn>(dlsym(lib, "PackData"));
  auto unpack = reinterpret_cast<UnpackFn>(dlsym(lib, "UnPackData"));
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

}  // namespace
