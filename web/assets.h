// The style sheet, script and icon, built into the program (assets/; CMake
// writes them into a source file), so the workstation fetches nothing at run
// time and serves nothing from the disk. A name is looked up in that fixed
// set and nowhere else: no path can leave it.
#pragma once

#include <string_view>

namespace bplink::web {

struct Asset {
  std::string_view name;  // "style.css"
  std::string_view type;  // its Content-Type
  std::string_view bytes;
};

// Null when the set has no asset of exactly this name.
const Asset* FindAsset(std::string_view name);

}  // namespace bplink::web
