# Writes the assets into one C++ source: each file's bytes as an array, and
# the table FindAsset (assets.h) looks names up in. Run at build time:
#   cmake -DOUTPUT=assets.cpp -DINPUTS="a.css|b.js" -P embed_assets.cmake
string(REPLACE "|" ";" INPUTS "${INPUTS}")
set(arrays "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
  get_filename_component(name "${input}" NAME)
  get_filename_component(extension "${input}" LAST_EXT)
  if(extension STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(extension STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(extension STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "asset ${name}: no content type for '${extension}'")
  endif()
  file(READ "${input}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kBytes${index}[] = {${bytes}};\n")
  string(APPEND table "    {\"${name}\", \"${type}\", {reinterpret_cast<const char*>(kBytes${index}), ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.new" "// Written by web/embed_assets.cmake from web/assets/; do not edit.
#include \"assets.h\"

namespace bplink::web {
namespace {

${arrays}
const Asset kAssets[] = {
${table}};

}  // namespace

const Asset* FindAsset(std::string_view name) {
  for (const Asset& asset : kAssets)
    if (asset.name == name) return &asset;
  return nullptr;
}

}  // namespace bplink::web
")
# Only a change rebuilds what includes it.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
