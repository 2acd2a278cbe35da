list(APPEND BPLINK_SERIAL_SOURCES
  serial/kv32/link.cpp
  serial/kv32/plan_block.cpp
  serial/kv32/download.cpp
  serial/kv32/upload.cpp
  serial/kv32/spo2_download.cpp
)
