target_sources(bplink_sim PRIVATE vestra16/download.cpp vestra16/link.cpp)
