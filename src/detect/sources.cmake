# Device detection: the HID request and the serial probes.
list(APPEND BPLINK_DETECT_SOURCES
  detect/select_protocol.cpp
  detect/serial_probes.cpp
)
