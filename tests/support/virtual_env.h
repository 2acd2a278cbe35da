// An Env for tests: a virtual clock that Sleep advances instantly, a local
// time that moves with it, and serial ports that exist only in the test.
//
// The Env's calls are safe from several threads at once (DetectAll's workers
// sleep and probe ports together): the clock is one sum of every sleep made,
// so with workers it runs ahead of what a wall clock would show. The setters
// are for the test's own thread, before the library runs.
#pragma once

#include <bplink/env.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bplink::testing {

class VirtualEnv : public Env {
 public:
  VirtualEnv();

  // Env
  void Sleep(unsigned milliseconds) override;
  CalendarTime LocalTime() override;
  std::vector<std::wstring> ComPortNames() override;
  bool CanOpenComPort(const std::wstring& path) override;

  // The local time at virtual time zero; LocalTime adds whole elapsed seconds.
  void SetLocalTime(const CalendarTime& t) { start_ = t; }
  void SetPortNames(std::vector<std::wstring> names) { port_names_ = std::move(names); }
  // Paths (as ComPortPath builds them) that the open probe succeeds on.
  void SetOpenablePaths(std::set<std::wstring> paths) { openable_ = std::move(paths); }

  std::uint64_t ElapsedMs() const;
  // What was asked so far; read them once no call of the library runs.
  const std::vector<unsigned>& Sleeps() const { return sleeps_; }
  const std::vector<std::wstring>& ProbedPaths() const { return probed_; }

 private:
  mutable std::mutex mutex_;
  CalendarTime start_;
  std::uint64_t elapsed_ms_ = 0;
  std::vector<unsigned> sleeps_;
  std::vector<std::wstring> port_names_;
  std::set<std::wstring> openable_;
  std::vector<std::wstring> probed_;
};

// Installs an Env for the lifetime of a scope and restores the real one.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env) { SetEnv(env); }
  ~ScopedEnv() { SetEnv(nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
};

}  // namespace bplink::testing
