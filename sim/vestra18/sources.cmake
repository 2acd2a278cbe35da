target_sources(bplink_sim PRIVATE vestra18/link.cpp)
