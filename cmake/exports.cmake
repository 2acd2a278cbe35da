# What each shared library exports: on ELF a version script (a `.map` beside
# the library's sources) admits the library's own names and hides the rest;
# on Windows the dllexport annotations alone decide.
#
#   bplink_export_map(TARGET MAP_FILE)
function(bplink_export_map target map)
  if(WIN32 OR APPLE)
    return()
  endif()
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  # Relink when the script changes.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
