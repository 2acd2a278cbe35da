/* Simulated devices for hosts of the C interface: a link to one family's
 * demo device, in the host's process, that bplink_detect and the protocol
 * handles of <bplink/bplink_c.h> talk to as to a device on a wire.
 *
 * This is a library of its own (libbplink_sim_c), never part of libbplink:
 * it is for trying a host and for tests, without hardware.
 *
 * While a simulated link is alive it is the process's machine: the serial
 * port search finds its port and no other, and (unless real_time is set) the
 * library's pauses and the device's time-outs take no time. Free it to give
 * the process its ports and clock back. One simulated link at a time.
 */
#ifndef BPLINK_SIM_C_H
#define BPLINK_SIM_C_H

#include <bplink/bplink_c.h>

#if defined(_WIN32)
#  if defined(BPLINK_SIM_C_BUILDING)
#    define BPLINK_SIM_C_API __declspec(dllexport)
#  else
#    define BPLINK_SIM_C_API __declspec(dllimport)
#  endif
#else
#  define BPLINK_SIM_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The simulated device a link is made to (bplink_sim_options_init fills the defaults). */
typedef struct bplink_sim_options {
  uint32_t struct_size;  /* sizeof the struct; bplink_sim_options_init sets it */
  const char* family;    /* "hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18" */
  int32_t device_type;   /* the HID family's device type 1..5; 0: the demo's */
  int32_t records;       /* readings in the first store; -1: a day's recording */
  int32_t silent_after;  /* the device falls silent after this many records; -1: never */
  uint32_t pace_ms;      /* each frame the device sends takes this long to arrive (real time) */
  int32_t real_time;     /* nonzero: the library's pauses take real time */
} bplink_sim_options;

/* Options for `family` with every other field at its default. */
BPLINK_SIM_C_API int BPLINK_C_CALL bplink_sim_options_init(bplink_sim_options* options, const char* family);
/* A link to a new simulated device. BPLINK_NOT_FOR_DEVICE for a family or
 * settings the simulator does not know, with the reason in `why`. */
BPLINK_SIM_C_API int BPLINK_C_CALL bplink_sim_link(const bplink_sim_options* options, bplink_link** link,
                                                   char* why, size_t why_size);

#ifdef __cplusplus
}
#endif

#endif /* BPLINK_SIM_C_H */
