target_sources(bplink_sim PRIVATE vestra16/blocks.cpp vestra16/monitor.cpp)
