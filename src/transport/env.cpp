// Which Env the library uses: the one a host or test installed, else the
// real machine's.

#include <bplink/env.h>

#include <atomic>

namespace bplink {
namespace {

std::atomic<Env*> g_installed{nullptr};

}  // namespace

Env* CurrentEnv() {
  Env* env = g_installed.load(std::memory_order_acquire);
  return env != nullptr ? env : Env::Default();
}

void SetEnv(Env* env) { g_installed.store(env, std::memory_order_release); }

// Out of line, so each vtable has one home, the library, whatever the build
// type (inline, a debug build exports a copy from every user).
Env::~Env() = default;
EnvWrapper::~EnvWrapper() = default;

}  // namespace bplink
