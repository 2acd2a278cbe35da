target_sources(bplink_sim PRIVATE
  kx71/recorder.cpp
  kx71/packets.cpp
)
