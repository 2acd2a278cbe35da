#include "exit_status.h"

#include <bplink/codes.h>

#include <string>

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

std::string ResultMessage(int result) {
  return bplink::ResultText(result);
}

}  // namespace bplink::cli
