// The Env seam: installing and restoring, forwarding, and what the real
// machine answers.

#include <bplink/env.h>
#include <gtest/gtest.h>

#include "virtual_env.h"

namespace {

using bplink::CalendarTime;
using bplink::CurrentEnv;
using Names = std::vector<std::wstring>;

// A wrapper installed for the library forwards every call it does not
// override to its target, and the real Env is back once it is gone.
TEST(EnvWrapper, ForwardsAllButWhatItOverridesWhileInstalled) {
  ASSERT_EQ(CurrentEnv(), bplink::Env::Default());
  bplink::testing::VirtualEnv target;
  target.SetPortNames({L"ttyUSB0", L"ttyS0"});
  target.SetOpenablePaths({L"/dev/ttyUSB0"});
  struct OnePort : bplink::EnvWrapper {
    using EnvWrapper::EnvWrapper;
    Names ComPortNames() override { return {L"pts/7"}; }
  } one(&target);
  {
    bplink::testing::ScopedEnv scope(&one);
    CurrentEnv()->Sleep(250);
    CurrentEnv()->Sleep(1000);
    EXPECT_EQ(target.Sleeps(), (std::vector<unsigned>{250, 1000}));
    // The virtual local time moves with the virtual clock.
    EXPECT_EQ(CurrentEnv()->LocalTime(), (CalendarTime{2026, 1, 15, 9, 30, 1}));
    EXPECT_EQ(CurrentEnv()->ComPortNames(), Names{L"pts/7"});
    EXPECT_TRUE(CurrentEnv()->CanOpenComPort(L"/dev/ttyUSB0"));
    EXPECT_FALSE(CurrentEnv()->CanOpenComPort(L"/dev/ttyS0"));
    EXPECT_EQ(target.ProbedPaths().size(), 2u);
  }
  EXPECT_EQ(CurrentEnv(), bplink::Env::Default());
  EXPECT_EQ(bplink::EnvWrapper(&target).ComPortNames(), (Names{L"ttyUSB0", L"ttyS0"}));
}

#if !defined(_WIN32)
TEST(Env, RealMachineAnswersSensiblyWithPortsUnderDev) {
  EXPECT_EQ(bplink::ComPortPath(L"ttyUSB0"), L"/dev/ttyUSB0");
  EXPECT_EQ(bplink::ComPortPath(L"/dev/pts/3"), L"/dev/pts/3");
  bplink::Env* env = bplink::Env::Default();
  EXPECT_TRUE(bplink::IsValidTime(env->LocalTime()));
  EXPECT_FALSE(env->CanOpenComPort(L"/dev/no-such-port"));
  // Every listed port is a device node that exists now.
  for (const std::wstring& name : env->ComPortNames()) EXPECT_EQ(bplink::ComPortPath(name).rfind(L"/dev/", 0), 0u);
}
#endif

}  // namespace
