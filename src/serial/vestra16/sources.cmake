list(APPEND BPLINK_SERIAL_SOURCES
  serial/vestra16/settings_block.cpp
  serial/vestra16/record_block.cpp
  serial/vestra16/byte_link.cpp
  serial/vestra16/protocol.cpp
  serial/vestra16/link.cpp
  serial/vestra16/download.cpp
  serial/vestra16/unpack.cpp
  serial/vestra16/upload.cpp
  serial/vestra16/pack.cpp
)
