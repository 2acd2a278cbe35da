// The words for each result code, written once for every host and for the
// bplink program.

#include <bplink/codes.h>

namespace bplink {

const char* ResultText(int result) {
  switch (result) {
    case kResultFalse: return "the step failed";
    case kResultOk: return "done";
    case kResultNoLink: return "the device could not be opened, or no port answered";
    case kResultIoFailed: return "the device did not answer";
    case kResultNotInFamily: return "not supported by this device";
    case kResultUnexpectedReply: return "the device refused, or answered something unexpected";
    case kResultException: return "an internal error stopped the operation";
    case kResultCannotStart: return "the operation cannot start (no device, no state variable, or data mode 0)";
    case kResultNotForDevice: return "the data could not be decoded, or the request does not suit this device";
    case kResultNoDevice: return "no device found";
    case kResultStopped: return "stopped by the host; what had arrived is kept";
    case kResultPlanWarned:
      return "the plan cannot give a valid recording; nothing was sent (accept its warnings to send it)";
    case kResultWouldErase: return "the device holds readings this would erase unread; nothing was erased";
    default: return "unknown result";
  }
}

}  // namespace bplink
