# Stand-ins that answer each serial family's detection probe, until the
# family's own model answers it.
target_sources(bplink_sim PRIVATE detect/probe_responders.cpp)
