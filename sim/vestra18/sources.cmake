target_sources(bplink_sim PRIVATE vestra18/vestra18_monitor.cpp)
