// The library's version, fixed when it was built.

#include <bplink/version.h>

namespace bplink {

const char* Version() noexcept { return BPLINK_VERSION_STRING; }

}  // namespace bplink
