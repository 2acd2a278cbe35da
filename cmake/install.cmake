# What `cmake --install` puts where, in three components that are also the
# Debian packages (cmake/packaging.cmake):
#   Runtime      the shared libraries and the udev rules      (libbplink0)
#   Development  headers, CMake package, pkg-config, the .so  (libbplink-dev)
#   Program      the bplink program, its man page, the docs   (bplink)

include(CMakePackageConfigHelpers)

set(BPLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/bplink)
# udev reads /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d, never a
# multiarch directory, so this is not CMAKE_INSTALL_LIBDIR.
set(BPLINK_UDEV_RULES_DIR lib/udev/rules.d CACHE STRING "Where the udev rules go, under the install prefix")

install(TARGETS bplink EXPORT bplinkTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/bplink ${PROJECT_BINARY_DIR}/include/bplink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# The C interface's companions: simulated devices to try a host without
# hardware, and the report. Separate libraries, so libbplink carries neither;
# they go wherever libbplink goes, and the CMake package names them
# bplink::sim_c and bplink::report_c.
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

# The CMake package: find_package(bplink 0.2) takes any 0.x from 0.2 on.
install(EXPORT bplinkTargets FILE bplinkTargets.cmake NAMESPACE bplink::
  DESTINATION ${BPLINK_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/bplinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/bplinkConfig.cmake INSTALL_DESTINATION ${BPLINK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/bplinkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/bplinkConfig.cmake ${PROJECT_BINARY_DIR}/bplinkConfigVersion.cmake
  DESTINATION ${BPLINK_CMAKE_DIR} COMPONENT Development)

# pkg-config, relocatable: the prefix is found from where the file lies, so
# a staged or moved installation still points at itself.
file(RELATIVE_PATH BPLINK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
if(BUILD_SHARED_LIBS)
  set(BPLINK_PC_CFLAGS "")
  set(BPLINK_PC_REQUIRES_PRIVATE "")
else()
  set(BPLINK_PC_CFLAGS " -DBPLINK_STATIC")
  set(BPLINK_PC_REQUIRES_PRIVATE "Requires.private: hidapi-hidraw")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/bplink.pc.in ${PROJECT_BINARY_DIR}/bplink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/bplink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

# The udev rules: the USB serial adapters, and the HID monitors by the ids
# given here ("vvvv:pppp", hexadecimal, a list).
set(BPLINK_UDEV_HID_IDS "" CACHE STRING "USB ids (vvvv:pppp;...) of HID monitors whose hidraw nodes the seat user may open")
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
endif()

install(TARGETS bplink_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Program)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Program)

# The man page, written from the program's --help and --version at build
# time. AUTO makes it when help2man is there; ON insists (the packages do).
set(BPLINK_MAN_PAGE AUTO CACHE STRING "Generate the bplink(1) man page with help2man: AUTO, ON or OFF")
if(BPLINK_MAN_PAGE AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  find_program(HELP2MAN help2man)
  find_program(GZIP gzip)
  if(HELP2MAN AND GZIP)
    set(man ${PROJECT_BINARY_DIR}/man/bplink.1)
    add_custom_command(OUTPUT ${man}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section 1
              --name "talk to blood-pressure monitors over USB HID and serial links"
              --output ${man} $<TARGET_FILE:bplink_cli>
      # -n: no name or time stamp inside, so the same build gives the same bytes.
      COMMAND ${GZIP} -9nf ${man}
      DEPENDS bplink_cli
      COMMENT "Writing the bplink(1) man page")
    add_custom_target(bplink_man ALL DEPENDS ${man}.gz)
    install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Program)
  elseif(BPLINK_MAN_PAGE STREQUAL "ON")
    message(FATAL_ERROR "BPLINK_MAN_PAGE=ON needs help2man and gzip (Debian: apt-get install help2man)")
  else()
    message(STATUS "help2man not found: no man page (BPLINK_MAN_PAGE=ON makes this an error)")
  endif()
endif()
