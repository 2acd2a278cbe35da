# What `cmake --install` puts where, in components that are also the Debian
# packages (cmake/packaging.cmake):
#   Runtime        the shared libraries, the udev rules and their helper  (libbplink0)
#   Development    headers, CMake package, pkg-config, the .so links, .a  (libbplink-dev)
#   Program        the bplink program, its man pages, the docs            (bplink)
#   Documentation  the API reference (cmake/docs.cmake)                   (libbplink-doc)

include(CMakePackageConfigHelpers)

set(BPLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bplink)

install(TARGETS bplink EXPORT bplinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
)
# libbplink.a beside the shared library, for hosts that link statically.
if(TARGET bplink_static)
  install(TARGETS bplink_static EXPORT bplinkTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/bplink ${PROJECT_BINARY_DIR}/include/bplink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
# bplink::DetectAll, detection over every port at once, is part of libbplink.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/scan/include/bplink/scan
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/bplink COMPONENT Development)

# The companions: the C interface's simulated devices and report. Separate
# libraries, so libbplink carries neither; they go wherever libbplink goes,
# and the CMake package names them bplink::sim_c and bplink::report_c.
if(TARGET bplink_sim_c)
  install(TARGETS bplink_sim_c bplink_report_c EXPORT bplinkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  )
  install(FILES ${PROJECT_SOURCE_DIR}/sim/c_api/include/bplink/bplink_sim_c.h
                ${PROJECT_SOURCE_DIR}/report/c_api/include/bplink/bplink_report_c.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/bplink COMPONENT Development)
endif()

# The CMake package: find_package(bplink 0.3) takes any 0.x from 0.3 on.
install(EXPORT bplinkTargets FILE bplinkTargets.cmake NAMESPACE bplink::
  DESTINATION ${BPLINK_CMAKE_DIR} COMPONENT Development)
# A static libbplink brings the threads of its detection over every port to
# the host's link (Threads::Threads). Built on its own (BUILD_SHARED_LIBS=OFF)
# on Windows it names hidapi's CMake target; elsewhere a static library names
# hidapi by its library name, which needs nothing found.
set(BPLINK_CONFIG_DEPENDENCIES "find_dependency(Threads)")
if(WIN32 AND NOT BUILD_SHARED_LIBS)
  string(APPEND BPLINK_CONFIG_DEPENDENCIES "\nfind_dependency(hidapi CONFIG)")
endif()
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/bplinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bplinkConfig.cmake INSTALL_DESTINATION ${BPLINK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bplinkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/bplinkConfig.cmake ${PROJECT_BINARY_DIR}/bplinkConfigVersion.cmake
  DESTINATION ${BPLINK_CMAKE_DIR} COMPONENT Development)

# pkg-config, one file for each library. The prefix written into them is the
# one installed to (`cmake --install --prefix` included), so an installation
# under /usr gives -I/usr/include, which pkg-config leaves out as the
# system's, and one elsewhere points at itself.
#   bplink.pc             libbplink; `--static`: libbplink.a with hidapi and the C++ runtime
#   bplink-sim-c.pc       libbplink_sim_c
#   bplink-report-c.pc    libbplink_report_c
set(BPLINK_PC_FILES bplink)
set(BPLINK_PC_bplink_NAME bplink)
set(BPLINK_PC_bplink_DESCRIPTION "${PROJECT_DESCRIPTION}")
set(BPLINK_PC_bplink_LIBS "-lbplink")
if(BUILD_SHARED_LIBS)
  set(BPLINK_PC_bplink_CFLAGS "")
else()
  set(BPLINK_PC_bplink_CFLAGS " -DBPLINK_STATIC")
endif()
# libbplink.a needs hidapi and the C++ runtime (a C host's compiler does not
# bring it); the shared library has them as its own dependencies.
set(BPLINK_PC_bplink_PRIVATE "Requires.private: hidapi-hidraw\nLibs.private: -lstdc++ -pthread")
if(TARGET bplink_sim_c)
  list(APPEND BPLINK_PC_FILES bplink-sim-c bplink-report-c)
  set(BPLINK_PC_bplink-sim-c_NAME bplink-sim-c)
  set(BPLINK_PC_bplink-sim-c_DESCRIPTION "Simulated blood-pressure monitors for hosts of bplink's C interface")
  set(BPLINK_PC_bplink-sim-c_REQUIRES "Requires: bplink = ${PROJECT_VERSION}\n")
  set(BPLINK_PC_bplink-sim-c_LIBS "-lbplink_sim_c")
  set(BPLINK_PC_bplink-report-c_NAME bplink-report-c)
  set(BPLINK_PC_bplink-report-c_DESCRIPTION "The ambulatory blood-pressure report for hosts of bplink's C interface")
  set(BPLINK_PC_bplink-report-c_REQUIRES "Requires: bplink = ${PROJECT_VERSION}\n")
  set(BPLINK_PC_bplink-report-c_LIBS "-lbplink_report_c")
endif()
foreach(pc IN LISTS BPLINK_PC_FILES)
  set(BPLINK_PC_NAME ${BPLINK_PC_${pc}_NAME})
  set(BPLINK_PC_DESCRIPTION ${BPLINK_PC_${pc}_DESCRIPTION})
  set(BPLINK_PC_REQUIRES ${BPLINK_PC_${pc}_REQUIRES})
  set(BPLINK_PC_LIBS ${BPLINK_PC_${pc}_LIBS})
  set(BPLINK_PC_CFLAGS ${BPLINK_PC_${pc}_CFLAGS})
  set(BPLINK_PC_PRIVATE ${BPLINK_PC_${pc}_PRIVATE})
  # @BPLINK_PC_PREFIX@ is left for the install step to fill in.
  set(BPLINK_PC_PREFIX "@BPLINK_PC_PREFIX@")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/bplink.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc.in @ONLY)
  install(CODE "
    set(BPLINK_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc.in\" \"${PROJECT_BINARY_DIR}/pkgconfig/install/${pc}.pc\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\" TYPE FILE
         FILES \"${PROJECT_BINARY_DIR}/pkgconfig/install/${pc}.pc\")
  " COMPONENT Development)
endforeach()

# The udev rules, and the program they run on every hidraw node to mark the
# HID monitors (udev/bplink_hid_id.cpp). udev reads /usr/lib/udev/rules.d and
# /usr/local/lib/udev/rules.d, never a multiarch directory, so they do not go
# under CMAKE_INSTALL_LIBDIR; and it looks for a program named without a path
# only in its own directory, so the rules name the helper in full.
set(BPLINK_UDEV_DIR lib/udev CACHE STRING "Where the udev rules (rules.d/) and the helper go, under the install prefix")
set(BPLINK_UDEV_RULES_DIR ${BPLINK_UDEV_DIR}/rules.d)
set(BPLINK_HID_ID_PROGRAM ${CMAKE_INSTALL_PREFIX}/${BPLINK_UDEV_DIR}/bplink-hid-id)
# The HID monitors named by USB id as well ("vvvv:pppp", hexadecimal, a list).
set(BPLINK_UDEV_HID_IDS "" CACHE STRING "USB ids (vvvv:pppp;...) of HID monitors whose hidraw nodes the seat user may open, besides those bplink-hid-id marks")
set(BPLINK_UDEV_HID_RULES "")
foreach(id IN LISTS BPLINK_UDEV_HID_IDS)
  if(NOT id MATCHES "^([0-9a-f][0-9a-f][0-9a-f][0-9a-f]):([0-9a-f][0-9a-f][0-9a-f][0-9a-f])$")
    message(FATAL_ERROR "BPLINK_UDEV_HID_IDS: '${id}' is not vvvv:pppp in lower-case hexadecimal")
  endif()
  string(APPEND BPLINK_UDEV_HID_RULES
    "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"${CMAKE_MATCH_1}\", ATTRS{idProduct}==\"${CMAKE_MATCH_2}\", TAG+=\"uaccess\"\n")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/udev/60-bplink.rules.in ${PROJECT_BINARY_DIR}/udev/60-bplink.rules @ONLY)
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/udev/60-bplink.rules DESTINATION ${BPLINK_UDEV_RULES_DIR} COMPONENT Runtime)
  install(TARGETS bplink_hid_id RUNTIME DESTINATION ${BPLINK_UDEV_DIR} COMPONENT Runtime)
endif()

install(TARGETS bplink_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Program)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NEWS.md
  ${PROJECT_SOURCE_DIR}/SECURITY.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Program)

# The man pages: bplink(1) and one for each command (bplink-download(1),
# ...), written in docs/man/ with the parts several pages share filled in
# here: docs/man/NAME.roff is @BPLINK_MAN_NAME@ in a page (exit-status.roff
# is @BPLINK_MAN_EXIT_STATUS@). tests/install's man page test holds them to
# the program: every command has its page, and every option its command's
# --help lists appears in it.
set(BPLINK_MAN_PAGES AUTO CACHE STRING "Install the man pages: AUTO (where gzip is), ON or OFF")
set(BPLINK_MAN_DATE "December 2026")
if(BPLINK_MAN_PAGES AND NOT WIN32)
  find_program(GZIP gzip)
  if(NOT GZIP AND BPLINK_MAN_PAGES STREQUAL "ON")
    message(FATAL_ERROR "BPLINK_MAN_PAGES=ON needs gzip")
  endif()
endif()
if(BPLINK_MAN_PAGES AND NOT WIN32 AND GZIP)
  file(GLOB man_parts CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.roff)
  foreach(part_file IN LISTS man_parts)
    get_filename_component(part ${part_file} NAME_WLE)
    string(TOUPPER "BPLINK_MAN_${part}" variable)
    string(REPLACE "-" "_" variable ${variable})
    file(READ ${part_file} ${variable})
    string(STRIP "${${variable}}" ${variable})
    # A part that changes configures the pages again.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${part_file})
  endforeach()
  file(GLOB man_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/*.1.in)
  set(man_pages)
  foreach(source IN LISTS man_sources)
    get_filename_component(page ${source} NAME_WLE)
    # configure_file fills a name it does not know with nothing: a part
    # misspelt, or its file missing, would drop a section unseen.
    file(STRINGS ${source} placeholders REGEX "@[A-Za-z_]+@")
    string(REGEX MATCHALL "@[A-Za-z_]+@" placeholders "${placeholders}")
    foreach(placeholder IN LISTS placeholders)
      string(REPLACE "@" "" name ${placeholder})
      if(NOT DEFINED ${name})
        message(FATAL_ERROR "docs/man/${page}.in: ${placeholder} names no shared part (docs/man/*.roff) or variable")
      endif()
    endforeach()
    configure_file(${source} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
    # -n: no name or time stamp inside, so the same build gives the same bytes.
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
      COMMAND ${GZIP} -9nkf ${PROJECT_BINARY_DIR}/man/${page}
      DEPENDS ${PROJECT_BINARY_DIR}/man/${page})
    list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(bplink_man ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Program)
endif()
