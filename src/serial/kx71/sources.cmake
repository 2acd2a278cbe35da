list(APPEND BPLINK_SERIAL_SOURCES
  serial/kx71/link.cpp
  serial/kx71/handshake.cpp
  serial/kx71/packets.cpp
  serial/kx71/download.cpp
  serial/kx71/upload.cpp
)
