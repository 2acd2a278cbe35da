// The host's progress and state variables of one protocol object.
//
// The host may read them, and write the stop request into the state, from
// another thread while an operation runs, so every access goes through
// std::atomic_ref. A variable the host did not register (null) is skipped
// rather than dereferenced. A HostVariables is a view: it owns nothing.
#pragma once

#include <bplink/codes.h>

#include <atomic>

namespace bplink {

class HostVariables {
 public:
  HostVariables(int* progress, int* state) : progress_(progress), state_(state) {}

  void SetProgress(int percent) const {
    if (progress_ != nullptr) std::atomic_ref<int>(*progress_).store(percent);
  }
  void SetState(int state) const {
    if (state_ != nullptr) std::atomic_ref<int>(*state_).store(state);
  }
  int State() const { return state_ != nullptr ? std::atomic_ref<int>(*state_).load() : 0; }
  bool StopRequested() const { return State() == kStateStopRequested; }
  // The state that ends an operation with this result: succeeded for 1, else failed.
  void Finish(int result) const { SetState(result == kResultOk ? kStateSucceeded : kStateFailed); }

 private:
  int* progress_;
  int* state_;
};

}  // namespace bplink
