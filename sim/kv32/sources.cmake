target_sources(bplink_sim PRIVATE kv32/kv32_monitor.cpp)
