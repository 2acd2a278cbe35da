# Debian packages of the install components (cmake/install.cmake):
#   libbplink0     the shared libraries (libbplink and its companions
#                  libbplink_sim_c, libbplink_report_c, which
#                  need its exact version), the udev rules and their helper.
#                  One package for the four: CPack would give a package of
#                  its own ldconfig maintainer scripts, which Debian no
#                  longer wants, or empty ones.
#   libbplink-dev  headers, CMake package, pkg-config files, the .so links, libbplink.a
#   bplink         the program and its man pages
#   libbplink-doc  the API documentation (Doxygen, from the headers)
# Build them from a Release tree configured with CMAKE_INSTALL_PREFIX=/usr:
#   cpack --config build/CPackConfig.cmake -G DEB
# scripts/package does exactly that and runs lintian over the result.

set(BPLINK_DEB_RELEASE 1)
set(BPLINK_DEB_VERSION ${PROJECT_VERSION}-${BPLINK_DEB_RELEASE})
# A packager puts a real address here; the default's domain is reserved as
# one that never resolves.
set(BPLINK_DEB_MAINTAINER "bplink developers <bplink@bplink.invalid>" CACHE STRING "The Maintainer field of the Debian packages")

set(CPACK_PACKAGE_NAME bplink)
set(CPACK_PACKAGE_VENDOR "bplink developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description below starts with its own synopsis line. CPack
# would put the project's summary above it unless the summary is CPack's own
# default, so it is that.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL Runtime Development Program)
if(TARGET bplink_api_docs)
  list(APPEND CPACK_COMPONENTS_ALL Documentation)
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${BPLINK_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BPLINK_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A host built against this release runs on every later 0.x: the symbols
# file (packaging/debian/libbplink0.symbols, which the ABI test holds to the
# built libraries) gives each symbol the release that first had it, and the
# shlibs file, for tools that read no symbols, asks for this release or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Files are owned by root whoever builds the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libbplink${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The library is made known to the dynamic linker by dpkg's ldconfig trigger;
# the maintainer scripts only let devices already plugged in see the rules.
set(debian ${PROJECT_SOURCE_DIR}/packaging/debian)
file(COPY ${debian}/libbplink0.postinst ${debian}/libbplink0.postrm ${debian}/libbplink0.triggers
          ${debian}/libbplink0.symbols DESTINATION ${PROJECT_BINARY_DIR}/debian-control)
foreach(script postinst postrm triggers symbols)
  file(RENAME ${PROJECT_BINARY_DIR}/debian-control/libbplink0.${script} ${PROJECT_BINARY_DIR}/debian-control/${script})
  list(APPEND CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian-control/${script})
endforeach()
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "library for blood-pressure monitors over USB HID and serial links
The library through which a PC downloads the measurements, SpO2
samples, plans and patient data that blood-pressure monitors and
ambulatory recorders stored, uploads measurement plans and deletes
records. It also installs udev rules that let the user at the seat
open USB serial adapters and HID monitors without root (a helper reads
each hidraw node's report descriptor to find the monitors), and the
library's companions: simulated devices for trying a C host without
hardware (libbplink_sim_c) and the ambulatory report (libbplink_report_c).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libbplink-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# libhidapi-dev: bplink.pc requires hidapi-hidraw for linking libbplink.a.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libbplink${PROJECT_VERSION_MAJOR} (= ${BPLINK_DEB_VERSION}), libhidapi-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_ARCHITECTURE_INDEPENDENT OFF)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "library for blood-pressure monitors - development files
Headers, the CMake package (find_package(bplink)), the pkg-config
files and the static library for building programs against libbplink,
the library through which a PC talks to blood-pressure monitors over
USB HID and serial links.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME bplink)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION utils)
# The program links the library's code in, but its devices are opened through
# the library package's udev rules; `report --format pdf` prints with Chromium.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "libbplink${PROJECT_VERSION_MAJOR} (= ${BPLINK_DEB_VERSION})")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "chromium")
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "talk to blood-pressure monitors over USB HID and serial links
The bplink program finds the connected blood-pressure monitor,
downloads what it stored as tables, CSV or JSON, writes the ambulatory
report, uploads measurement plans and deletes records; every command
also runs against a built-in simulated device.")

set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_NAME libbplink-doc)
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_SECTION doc)
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_ARCHITECTURE all)
# The pages load Debian's jQuery rather than a copy of their own.
set(CPACK_DEBIAN_DOCUMENTATION_PACKAGE_DEPENDS libjs-jquery)
set(CPACK_COMPONENT_DOCUMENTATION_DESCRIPTION "library for blood-pressure monitors - API documentation
The reference of libbplink's C++ classes and functions and of its C
interface, generated from the headers, as HTML: the library through
which a PC talks to blood-pressure monitors over USB HID and serial
links.")

# Every package carries its copyright and changelog, as Debian wants.
if(NOT WIN32)
  find_program(GZIP gzip)
  foreach(component ${CPACK_COMPONENTS_ALL})
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(docs ${PROJECT_BINARY_DIR}/debian-doc/${package})
    file(MAKE_DIRECTORY ${docs})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${docs}/changelog.Debian @ONLY)
    add_custom_command(OUTPUT ${docs}/changelog.Debian.gz
      COMMAND ${GZIP} -9nkf ${docs}/changelog.Debian
      DEPENDS ${docs}/changelog.Debian)
    list(APPEND debian_docs ${docs}/changelog.Debian.gz)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${docs}/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component}
      EXCLUDE_FROM_ALL)
  endforeach()
  add_custom_target(bplink_debian_docs ALL DEPENDS ${debian_docs})
endif()

# On Windows one ZIP of everything: bin/bplink.exe and the DLLs,
# lib/libbplink.dll.a, the headers and the CMake package.
#   cpack --config build-windows/CPackConfig.cmake -G ZIP
if(WIN32)
  set(CPACK_GENERATOR ZIP)
endif()

include(CPack)
