list(APPEND BPLINK_SERIAL_SOURCES
  serial/vestra18/protocol.cpp
  serial/vestra18/handshake.cpp
  serial/vestra18/download.cpp
  serial/vestra18/record_frame.cpp
)
