// Secrets the server hands out: the one-time token of the first address,
// session and request tokens.
#pragma once

#include <string>
#include <string_view>

namespace bplink::web {

// 32 bytes from the system's cryptographic random source, as 64 hex digits.
// Throws std::runtime_error when the source fails.
std::string RandomToken();

// Compares two secrets in a time that does not depend on where they differ.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace bplink::web
