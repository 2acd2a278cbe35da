// bplink: talk to blood-pressure monitors over USB HID and serial links.
// Including this header is all a host needs.
#pragma once

#include <bplink/codes.h>
#include <bplink/comports.h>
#include <bplink/console.h>
#include <bplink/device.h>
#include <bplink/env.h>
#include <bplink/export.h>
#include <bplink/families.h>
#include <bplink/packing.h>
#include <bplink/protocol_base.h>
#include <bplink/protocol_kv32.h>
#include <bplink/protocol_kx71.h>
#include <bplink/protocol_new.h>
#include <bplink/protocol_vestra16.h>
#include <bplink/protocol_vestra16c.h>
#include <bplink/protocol_vestra18.h>
#include <bplink/records.h>
#include <bplink/select_protocol.h>
#include <bplink/version.h>
#include <bplink/wintypes.h>
