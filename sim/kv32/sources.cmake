target_sources(bplink_sim PRIVATE kv32/link.cpp)
