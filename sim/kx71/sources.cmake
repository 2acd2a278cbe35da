target_sources(bplink_sim PRIVATE
  kx71/link.cpp
  kx71/download.cpp
)
