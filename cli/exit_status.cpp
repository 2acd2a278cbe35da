#include "exit_status.h"

#include <bplink/codes.h>

#include <string_view>

namespace bplink::cli {

int ExitForResult(int result) {
  switch (result) {
    case kResultOk: return kExitOk;
    case kResultNoLink:
    case kResultNoDevice: return kExitNoDevice;
    case kResultIoFailed:
    case kResultNotForDevice: return kExitLinkFailed;
    case kResultNotInFamily:
    case kResultUnexpectedReply: return kExitRefused;
    default: return kExitFailed;
  }
}

std::string ResultText(int result) {
  std::string_view text;
  switch (result) {
    case kResultOk: text = "done"; break;
    case kResultFalse: text = "the step failed"; break;
    case kResultNoLink: text = "the device could not be opened, or no port answered"; break;
    case kResultIoFailed: text = "the device did not answer"; break;
    case kResultNotInFamily: text = "not supported by this device"; break;
    case kResultUnexpectedReply: text = "the device refused, or answered something unexpected"; break;
    case kResultException: text = "an internal error stopped the transfer"; break;
    case kResultCannotStart: text = "the transfer cannot start (no device, or data mode 0)"; break;
    case kResultNotForDevice: text = "the data could not be decoded, or the request does not suit this device"; break;
    case kResultNoDevice: text = "no device found"; break;
    default: text = "failed"; break;
  }
  return std::string(text) + " (" + std::to_string(result) + ")";
}

}  // namespace bplink::cli
