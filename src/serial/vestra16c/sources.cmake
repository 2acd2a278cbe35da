list(APPEND BPLINK_SERIAL_SOURCES
  serial/vestra16c/protocol.cpp
  serial/vestra16c/link.cpp
  serial/vestra16c/download.cpp
  serial/vestra16c/unpack.cpp
  serial/vestra16c/upload.cpp
  serial/vestra16c/pack.cpp
)
