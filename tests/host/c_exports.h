// The C interface's functions by the plain names a host looks them up by
// (dlsym on ELF, GetProcAddress on Windows): the one list both checks use.
#pragma once

inline constexpr const char* kCInterfaceFunctions[] = {
    "bplink_version",
    "bplink_result_text",
    "bplink_link_open",
    "bplink_link_custom",
    "bplink_link_reason",
    "bplink_link_free",
    "bplink_detect",
    "bplink_protocol_new",
    "bplink_protocol_free",
    "bplink_protocol_device",
    "bplink_protocol_data_modes",
    "bplink_protocol_intervals",
    "bplink_protocol_on_progress",
    "bplink_protocol_progress",
    "bplink_protocol_stop",
    "bplink_download_run",
    "bplink_upload",
    "bplink_upload_json",
    "bplink_delete",
    "bplink_plan_default",
    "bplink_download_free",
    "bplink_download_device",
    "bplink_download_sets",
    "bplink_download_set",
    "bplink_download_record",
    "bplink_download_spo2_count",
    "bplink_download_spo2",
    "bplink_download_plan",
};
