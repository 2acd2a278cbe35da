// The Env seam: installing and restoring, and what the real machine answers.

#include <bplink/env.h>
#include <gtest/gtest.h>

#include "virtual_env.h"

namespace {

using bplink::CurrentEnv;
using bplink::Env;

TEST(Env, InstalledEnvIsUsedUntilRestored) {
  Env* real = CurrentEnv();
  ASSERT_EQ(real, Env::Default());
  {
    bplink::testing::VirtualEnv fake;
    bplink::testing::ScopedEnv scope(&fake);
    EXPECT_EQ(CurrentEnv(), &fake);
    CurrentEnv()->Sleep(250);
    CurrentEnv()->Sleep(1000);
    EXPECT_EQ(fake.ElapsedMs(), 1250u);
    // The local time moves with the virtual clock.
    EXPECT_EQ(CurrentEnv()->LocalTime(), (bplink::CalendarTime{2026, 1, 15, 9, 30, 1}));
  }
  EXPECT_EQ(CurrentEnv(), real);
}

#if !defined(_WIN32)
TEST(Env, PosixPortPathsLiveUnderDev) {
  EXPECT_EQ(bplink::ComPortPath(L"ttyUSB0"), L"/dev/ttyUSB0");
  EXPECT_EQ(bplink::ComPortPath(L"/dev/pts/3"), L"/dev/pts/3");
}

TEST(Env, RealMachineAnswersSensibly) {
  Env* env = Env::Default();
  EXPECT_TRUE(bplink::IsValidTime(env->LocalTime()));
  EXPECT_FALSE(env->CanOpenComPort(L"/dev/no-such-port"));
  EXPECT_TRUE(env->CanOpenComPort(L"/dev/null"));
  // Every listed port is a device node that exists now.
  for (const std::wstring& name : env->ComPortNames()) {
    const std::wstring path = bplink::ComPortPath(name);
    EXPECT_EQ(path.rfind(L"/dev/", 0), 0u);
  }
}
#endif

}  // namespace
