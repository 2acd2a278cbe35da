// Opening an address in the user's web browser, where one can be opened.
#pragma once

#include <string>

namespace bplink::cli {

// Asks the desktop to open `url` (xdg-open on Linux, the shell on Windows)
// and does not wait for the browser. False, with `why` said, where there is
// no desktop to ask (no display, no xdg-open) or the shell refused.
bool OpenInBrowser(const std::string& url, std::string& why);

}  // namespace bplink::cli
