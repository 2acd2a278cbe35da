/* The library's C interface: what a host written in C, C#, Delphi, Python or
 * anything else that can call a C function uses.
 *
 * Plain C (C89 types and C99 fixed-width integers), no C++ type anywhere.
 * Handles are opaque pointers. Every function returns one of the library's
 * result codes (BPLINK_OK = 1 for success; the same codes the protocol classes
 * answer with, see bplink_result_text) and never lets anything escape: a
 * failure inside is caught and answered with BPLINK_EXCEPTION. A null handle
 * or output pointer, or a struct too small for this version, is answered with
 * BPLINK_CANNOT_START and nothing is written.
 *
 * Versioning. Every struct that crosses the boundary begins with struct_size:
 * the host sets it to sizeof the struct it was compiled with before passing
 * it in (BPLINK_INIT does). The library accepts any size from the first
 * version's up, writes only the fields it knows and that fit, so fields can
 * be appended in later versions without breaking older hosts.
 *
 * Threads. The library starts none, except inside bplink_detect_all, which
 * runs one per link and has ended them all when it returns. Calls on one
 * protocol handle run one at a time; the library serves one transfer at a
 * time per process. The one call meant for another thread is
 * bplink_protocol_stop (and the polled bplink_protocol_progress), which reads
 * and writes the transfer's state integer atomically.
 *
 * "None" in a plan is spelled as bplink_plan says (-1 for the extra window's
 * times), whatever the device sent for it.
 */
#ifndef BPLINK_BPLINK_C_H
#define BPLINK_BPLINK_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(BPLINK_STATIC)
#    define BPLINK_C_API
#  elif defined(BPLINK_BUILDING)
#    define BPLINK_C_API __declspec(dllexport)
#  else
#    define BPLINK_C_API __declspec(dllimport)
#  endif
#  define BPLINK_C_CALL __cdecl
#else
#  define BPLINK_C_API __attribute__((visibility("default")))
#  define BPLINK_C_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
enum {
  BPLINK_FALSE = 0,             /* a yes/no step failed */
  BPLINK_OK = 1,                /* success, or nothing to do */
  BPLINK_NO_LINK = 2,           /* the link could not be opened, or no port answered */
  BPLINK_IO_FAILED = 5,         /* a send or receive failed, or the device was silent */
  BPLINK_NOT_IN_FAMILY = 6,     /* not supported by this protocol family */
  BPLINK_UNEXPECTED_REPLY = 7,  /* the device answered something else */
  BPLINK_EXCEPTION = 8,         /* a failure was caught inside the call */
  BPLINK_CANNOT_START = 9,      /* a null handle or pointer, a struct too small, data mode 0 */
  BPLINK_NOT_FOR_DEVICE = 10,   /* not for this device (or index out of range, or undecodable data) */
  BPLINK_NO_DEVICE = 11,        /* detection found no device */
  BPLINK_STOPPED = 12,          /* the host stopped the transfer (bplink_protocol_stop); what arrived is kept */
  BPLINK_PLAN_WARNED = 13,      /* the plan cannot give a valid recording; nothing sent (see bplink_upload_with) */
  BPLINK_WOULD_ERASE = 14       /* readings the device holds would be erased unread; nothing erased */
};

/* Values of the progress state (bplink_protocol_progress, bplink_progress_fn);
 * 0 before the first transfer. */
enum {
  BPLINK_STATE_RUNNING = 1,       /* a transfer runs */
  BPLINK_STATE_FAILED = 2,        /* the last transfer failed */
  BPLINK_STATE_SUCCEEDED = 3,     /* the last transfer ended whole */
  BPLINK_STATE_STOP_REQUESTED = 5 /* bplink_protocol_stop asked the running transfer to stop */
};

/* Which link a machine link handle reaches. */
enum {
  BPLINK_LINK_USB_HID = 1, /* the USB HID device */
  BPLINK_LINK_SERIAL = 2   /* the serial ports (USB serial adapters, COM ports, pseudo-terminals) */
};

/* The number of data modes, 0..8: the length of bplink_data_modes.offered.
 * 1 blood pressure (set 1), 2 set 1 with SpO2, 3 an ambulatory recorder's
 * second set, 4 to 6 a three-store monitor's stores 1 to 3, 7 all three
 * stores at once (never offered), 0 and 8 none. */
#define BPLINK_DATA_MODES 9

/* Sets the struct_size of a struct about to be passed in. */
#define BPLINK_INIT(s) ((s).struct_size = (uint32_t)sizeof(s))

/* A link: the machine's USB HID device and serial ports (bplink_link_open)
 * or a link of the host's own (bplink_link_custom). Freed by
 * bplink_link_free. */
typedef struct bplink_link bplink_link;
/* One protocol object bound to a link (bplink_protocol_new): it runs the
 * transfers of one protocol family. Freed by bplink_protocol_free. */
typedef struct bplink_protocol bplink_protocol;
/* What one download brought (bplink_download_run), read with the
 * bplink_download_ functions. The host owns it; freed by
 * bplink_download_free. */
typedef struct bplink_download bplink_download;

/* A device as detection or a transfer identified it. */
typedef struct bplink_device_info {
  uint32_t struct_size; /* sizeof(bplink_device_info), set by the host (BPLINK_INIT) */
  int32_t device_type;  /* 1 ambulatory recorder (two sets), 2, 4 and 6 monitors (one set), 3 monitor with SpO2, 5 three-store monitor (no plan); 255 before identification, -1 unknown */
  int32_t protocol;     /* the protocol code 1..10 (bplink_protocol_new takes it); 255 before identification, -1 unknown */
  int32_t reserved;     /* the library writes only 255 here */
  int32_t variant;      /* the family's variant, where the device names one, else 0 */
  int32_t version;      /* the HID protocol version byte; 0 for the serial families */
} bplink_device_info;

/* The data modes a device offers (bplink_protocol_data_modes). */
typedef struct bplink_data_modes {
  uint32_t struct_size;               /* sizeof(bplink_data_modes), set by the host */
  int32_t offered[BPLINK_DATA_MODES]; /* indexed by data mode (see BPLINK_DATA_MODES), 1 = offered */
} bplink_data_modes;

/* The alarm limits of one period of a plan; only the USB HID family
 * exchanges them. */
typedef struct bplink_warn_group {
  int32_t on;         /* alarm on when nonzero */
  int32_t limits[6];  /* mmHg: four blood-pressure limits, the last two only where the device keeps a long alarm block */
} bplink_warn_group;

/* The measurement plan with its patient fields, as bplink_upload sends it
 * and bplink_download_plan and bplink_protocol_intervals read it.
 * bplink_plan_default fills the plan a device gets when the host changes
 * nothing. Which fields a device keeps depends on its family; an upload
 * names those it does not keep (bplink_protocol_message). */
typedef struct bplink_plan {
  uint32_t struct_size; /* sizeof(bplink_plan), set by the host (BPLINK_INIT) */
  char patient1[31];    /* first patient text: zero-terminated single-byte text, moved as it stands */
  char patient2[12];    /* second patient text, likewise */
  char patient3[31];    /* third patient text, likewise */
  char patient4[31];    /* fourth patient text, likewise */
  int32_t patient_values[2]; /* two patient values, 0..255 */
  int32_t year;         /* the device's recording start (an upload sends the PC clock instead) */
  int32_t month;        /* month of the start, 1..12 */
  int32_t day;          /* day of the month of the start */
  int32_t hour;         /* hour of the start, 0..23 */
  int32_t minute;       /* minute of the start */
  int32_t second;       /* second of the start */
  int32_t options[4];   /* the four device options as the device keeps them (default 1, 1, 297, 0) */
  int32_t extra_start_hour;   /* the extra window's start hour; -1: no extra window */
  int32_t extra_start_minute; /* the extra window's start minute; -1: none */
  int32_t extra_end_hour;     /* the extra window's end hour; -1: none */
  int32_t extra_end_minute;   /* the extra window's end minute; -1: none */
  int32_t extra_interval;     /* minutes between the extra window's measurements; 0: none (the times are then -1) */
  int32_t period1_hour;       /* the day period's start hour (default 7) */
  int32_t period1_minute;     /* the day period's start minute */
  int32_t period1_interval;   /* minutes between the day period's measurements; 0: no measurements */
  int32_t period2_hour;       /* the night period's start hour, where the day period ends (default 22) */
  int32_t period2_minute;     /* the night period's start minute */
  int32_t period2_interval;   /* minutes between the night period's measurements; 0: no measurements */
  bplink_warn_group day_warn;   /* the day period's alarm limits */
  bplink_warn_group night_warn; /* the night period's alarm limits */
  int32_t warn_switch;          /* the alarm switch, where the device keeps one */
} bplink_plan;

/* The length of bplink_intervals' lists. */
#define BPLINK_MAX_INTERVALS 32

/* What a plan may contain (bplink_protocol_intervals): the intervals the
 * device allows, in minutes, and the plan the device holds now (or the
 * default plan). */
typedef struct bplink_intervals {
  uint32_t struct_size;   /* sizeof(bplink_intervals), set by the host */
  int32_t count1;         /* how many of interval1 hold an interval */
  int32_t count2;         /* how many of interval2 hold an interval */
  int32_t interval1[BPLINK_MAX_INTERVALS]; /* the day period's and the extra window's allowed intervals, minutes */
  int32_t interval2[BPLINK_MAX_INTERVALS]; /* the night period's allowed intervals, minutes */
  bplink_plan plan;       /* the plan the device holds, or the default plan; its struct_size is set by the library */
} bplink_intervals;

/* One set (or store) of blood-pressure measurements in a download
 * (bplink_download_set). */
typedef struct bplink_set_info {
  uint32_t struct_size; /* sizeof(bplink_set_info), set by the host */
  int32_t mode;         /* the data mode that names the set (see BPLINK_DATA_MODES) */
  int32_t announced;    /* records the device announced (may differ from what arrived) */
  int32_t year;         /* the set's start, by the device's clock; all six 0 when none */
  int32_t month;        /* month of the start, 1..12 */
  int32_t day;          /* day of the month of the start */
  int32_t hour;         /* hour of the start, 0..23 */
  int32_t minute;       /* minute of the start */
  int32_t second;       /* second of the start */
  size_t records;       /* records that arrived: bplink_download_record's indexes are 0 to records - 1 */
} bplink_set_info;

/* One blood-pressure measurement, with the fields as the device sent them
 * (bplink_download_record). */
typedef struct bplink_bp_record {
  uint32_t struct_size; /* sizeof(bplink_bp_record), set by the host */
  int32_t year;         /* when it was measured, by the device's clock */
  int32_t month;        /* month, 1..12 */
  int32_t day;          /* day of the month */
  int32_t hour;         /* hour, 0..23 */
  int32_t minute;       /* minute */
  int32_t second;       /* second */
  int32_t sys;          /* systolic pressure, mmHg */
  int32_t press2;       /* diastolic or mean pressure, mmHg: the smaller of press2 and press3 is the diastolic */
  int32_t press3;       /* mean or diastolic pressure, mmHg: the larger of the two is the mean arterial pressure */
  int32_t pulse;        /* pulse, beats per minute */
  int32_t status;       /* the device's status code of the measurement */
  int32_t valid;        /* 1 when the device marked the measurement good (status 0 or 3), else 0 */
  int32_t flags_low;    /* the low bits of the device's flags */
  int32_t flags_high;   /* the high bits of the device's flags */
  int32_t aux1;         /* a device value the record format carries (USB HID record format 3), else 0 */
  int32_t aux2;         /* a second device value (USB HID record format 3), else 0 */
  int32_t aux3;         /* a third device value, where the family sends one, else 0 */
  int32_t minute_offset; /* minutes after the set's start, where the family counts so, else 0 */
} bplink_bp_record;

/* One SpO2 sample of a monitor with SpO2 (bplink_download_spo2). */
typedef struct bplink_spo2_record {
  uint32_t struct_size; /* sizeof(bplink_spo2_record), set by the host */
  int32_t spo2;         /* oxygen saturation, percent */
  int32_t pulse;        /* pulse, beats per minute */
  int32_t time_offset;  /* seconds after the start the device gave for its SpO2 samples */
} bplink_spo2_record;

/* Called on the transfer's thread whenever progress, state or stage changed
 * since the last call: `user` as given to bplink_protocol_on_progress,
 * progress 0..100, state a BPLINK_STATE_ value, stage what the transfer is
 * doing (0 blood pressure in mode 0, 1 reading the plan, 2 blood pressure,
 * 3 SpO2, 4 an ambulatory recorder's second set, 5 delete, 6 to 8 a
 * three-store monitor's stores, 9 plan upload). It must return quickly; it
 * may call bplink_protocol_stop. */
typedef void(BPLINK_C_CALL* bplink_progress_fn)(void* user, int progress, int state, int stage);

/* A link of the host's own (a socket it connected, a simulated device): the
 * library calls these instead of a port. Every function gets `user`. */
typedef struct bplink_link_ops {
  uint32_t struct_size; /* sizeof(bplink_link_ops), set by the host (BPLINK_INIT) */
  /* Open a serial port by path (UTF-8) with its line settings: baud rate,
   * data bits, parity (0 none, 1 odd, 2 even) and stop bits (0 one, 2 two),
   * as a Win32 DCB spells them: 1 = open, 0 = not. Null: no serial port. */
  int(BPLINK_C_CALL* open_port)(void* user, const char* path, uint32_t baud, int byte_size, int parity,
                                int stop_bits);
  /* Open the n-th USB HID device: nonzero = open. Null: no HID device. */
  int(BPLINK_C_CALL* open_hid)(void* user, int n);
  /* Close what is open: nonzero = closed. Null: nothing to close. */
  int(BPLINK_C_CALL* close)(void* user);
  /* Send exactly `size` bytes: nonzero = sent, 0 = failed. */
  int(BPLINK_C_CALL* send)(void* user, const uint8_t* data, uint32_t size);
  /* Receive exactly `size` bytes into `data`, waiting as long as the host's
   * time-out allows: nonzero = received, 0 = failed or timed out. */
  int(BPLINK_C_CALL* recv)(void* user, uint8_t* data, uint32_t size);
  /* Why the last call failed, into text (zero-terminated); may be null. */
  void(BPLINK_C_CALL* reason)(void* user, char* text, size_t size);
  /* Called once when the link handle is freed; may be null. */
  void(BPLINK_C_CALL* release)(void* user);
} bplink_link_ops;

/* ---- The library ---- */

/* The library's version, "MAJOR.MINOR.PATCH", into *text (static text, not
 * to be freed). BPLINK_CANNOT_START for a null `text`. Any thread. */
BPLINK_C_API int BPLINK_C_CALL bplink_version(const char** text);
/* What a result code means, in words, into *text: static text, never null
 * ("unknown result" for a code the library does not answer with).
 * BPLINK_CANNOT_START for a null `text`. Any thread. */
BPLINK_C_API int BPLINK_C_CALL bplink_result_text(int result, const char** text);

/* ---- Links ---- */

/* The machine's links: a link of either kind reaches the USB HID device and
 * the serial ports, whichever the protocol bound to it talks through. For
 * BPLINK_LINK_SERIAL, `port` ("ttyUSB0", "/dev/pts/3", "COM3") limits every
 * port search of this link's transfers and detections to that port; null
 * searches every port, in the library's order. BPLINK_LINK_USB_HID takes no
 * port. Nothing is opened yet: *link is the new handle, which the host frees
 * with bplink_link_free. BPLINK_CANNOT_START for another kind, a port with
 * BPLINK_LINK_USB_HID, or a null `link`. */
BPLINK_C_API int BPLINK_C_CALL bplink_link_open(int kind, const char* port, bplink_link** link);
/* A link of the host's own: the library calls `ops` (copied; the host need
 * not keep it) with `user` instead of a port or the USB HID device. *link is
 * the new handle; BPLINK_CANNOT_START for a null `ops` or one whose
 * struct_size is too small. The handle owns nothing of the host's: its
 * `release` op, if any, is called once when bplink_link_free frees it. */
BPLINK_C_API int BPLINK_C_CALL bplink_link_custom(const bplink_link_ops* ops, void* user, bplink_link** link);
/* Why the link's last operation failed, in the system's and the transport's
 * words, zero-terminated and cut to `size`; "" when it did not. After a
 * transfer or bplink_detect that found no port or device it names each
 * serial port the search could use and why it cannot be opened ("/dev/ttyUSB9
 * cannot be opened: no such file or directory", "permission denied: this
 * user may not open /dev/ttyUSB0 (owner root, group dialout, mode 0660);
 * ..."), or that it opens but nothing answered, and for detection the USB
 * HID link's reason too; otherwise why the link's last open, send or receive
 * failed ("timed out: 0 of 1 byte within 500 ms", "no matching HID device is
 * attached"). A link of the host's own answers with its `reason` op.
 * BPLINK_CANNOT_START for a null link or text, or a `size` of 0. */
BPLINK_C_API int BPLINK_C_CALL bplink_link_reason(const bplink_link* link, char* text, size_t size);
/* The receive time-out of the link's serial ports, in milliseconds, from
 * the next transfer or detection on it (default 500). Every receive that
 * gets no answer costs it once: a port search spends about 100 ms plus the
 * time-out on each port where nothing answers, detection about 5 x (100 + 2
 * x the time-out) on each silent port, and a download that ends when the
 * device falls silent ends one time-out after its last byte. A pty or a
 * fast adapter answers within a few milliseconds; 100 to 200 is plenty there.
 * BPLINK_NOT_FOR_DEVICE for a link of the host's own. */
BPLINK_C_API int BPLINK_C_CALL bplink_link_timeout(bplink_link* link, uint32_t milliseconds);
/* Frees the link (calling a host link's `release`); free the protocol
 * handles bound to it first. Null is fine. BPLINK_OK. */
BPLINK_C_API int BPLINK_C_CALL bplink_link_free(bplink_link* link);

/* ---- Detection ---- */

/* Which device answers: the USB HID device first, then every serial port
 * with each family's probe (one link after the other, on the calling thread).
 * `link` null, or a link from bplink_link_open: the machine's USB HID device
 * and serial ports (a serial link opened on one port limits the search to
 * it; the link's time-out applies); a link of the host's own: that link.
 * BPLINK_OK and `info` filled, or BPLINK_NO_DEVICE (bplink_link_reason then
 * says why each link gave none). */
BPLINK_C_API int BPLINK_C_CALL bplink_detect(bplink_link* link, bplink_device_info* info);

/* ---- Detection over every link at once ---- */

/* What bplink_detect_all asks; bplink_detect_options_init sets the
 * defaults. */
typedef struct bplink_detect_options {
  uint32_t struct_size; /* sizeof(bplink_detect_options), set by the host (BPLINK_INIT) */
  /* The serial ports to ask, as names or paths ("ttyUSB0", "/dev/pts/3",
   * "COM3"), `port_count` of them; null: every port the machine lists. */
  const char* const* ports;
  size_t port_count;          /* how many names `ports` holds; with a null `ports`, 0 */
  int32_t probe_hid;          /* nonzero: ask the USB HID link too */
  uint32_t serial_timeout_ms; /* the serial receive time-out of every probe (see bplink_link_timeout); 0: 500 */
} bplink_detect_options;

/* What one link gave (bplink_detected_port.status). */
enum {
  BPLINK_PORT_FOUND = 1,         /* a device answered; `device` says which */
  BPLINK_PORT_SILENT = 2,        /* it opened, but nothing answered any probe as a known device does */
  BPLINK_PORT_CANNOT_OPEN = 3,   /* missing, held by another program, no serial port, ... (see reason) */
  BPLINK_PORT_NOT_PERMITTED = 4, /* it exists, but this user may not open it */
  BPLINK_PORT_GONE = 5,          /* it opened, then vanished while it was probed */
  BPLINK_PORT_STOPPED = 6        /* not done when detection ended */
};

/* What one link gave in a detection (bplink_detection_port). */
typedef struct bplink_detected_port {
  uint32_t struct_size;       /* sizeof(bplink_detected_port), set by the host (BPLINK_INIT) */
  int32_t link;               /* BPLINK_LINK_USB_HID or BPLINK_LINK_SERIAL */
  int32_t status;             /* BPLINK_PORT_... */
  bplink_device_info device;  /* for BPLINK_PORT_FOUND the device; every field 255 (not identified) otherwise */
  /* Texts owned by the detection, valid until bplink_detection_free: */
  const char* port;           /* the serial port's name as listed or given; "" for the USB HID link */
  const char* status_text;    /* the status in words ("a device answered", "cannot be opened") */
  const char* reason;         /* why it gave no device, the transport's words ("permission denied: ..."); may be "" */
} bplink_detected_port;

/* What one bplink_detect_all found, link by link. The host owns it; freed
 * by bplink_detection_free. */
typedef struct bplink_detection bplink_detection;

/* `options` with every field at its default: every port, the USB HID link
 * too, a 500 ms time-out, and struct_size set. BPLINK_CANNOT_START for a
 * null `options`. */
BPLINK_C_API int BPLINK_C_CALL bplink_detect_options_init(bplink_detect_options* options);
/* Every device connected, and what each other link gave: the USB HID link
 * and every serial port asked at once, one thread per link (all ended when
 * it returns), each port with each family's probe in detection's order, so
 * eight ports take about as long as one. `options` may be null (the
 * defaults). BPLINK_OK when at least one device was found, BPLINK_NO_DEVICE
 * when none was (*out is set either way: the USB HID link first, then the
 * ports in order); BPLINK_EXCEPTION when the ports could not be listed.
 * BPLINK_CANNOT_START, and *out null, for a null `out`, options too small,
 * or a null name among `ports`. The host owns *out: free it with
 * bplink_detection_free. Any thread, one detection at a time. */
BPLINK_C_API int BPLINK_C_CALL bplink_detect_all(const bplink_detect_options* options, bplink_detection** out);
/* How many links the detection holds, into *count: the USB HID link (when
 * it was asked) and every serial port asked. */
BPLINK_C_API int BPLINK_C_CALL bplink_detection_count(const bplink_detection* detection, size_t* count);
/* The link at `index` into *port, whose texts stay valid until
 * bplink_detection_free; BPLINK_NOT_FOR_DEVICE past the last. */
BPLINK_C_API int BPLINK_C_CALL bplink_detection_port(const bplink_detection* detection, size_t index,
                                                     bplink_detected_port* port);
/* Frees what bplink_detect_all found, with every text it handed out. Null
 * is fine. BPLINK_OK. */
BPLINK_C_API int BPLINK_C_CALL bplink_detection_free(bplink_detection* detection);

/* ---- Protocol objects ---- */

/* The protocol object that serves protocol code 1..10 (as
 * bplink_device_info.protocol names it), talking through `link` (borrowed:
 * it must outlive the protocol handle). Nothing is sent yet. *out is the new
 * handle, which the host frees with bplink_protocol_free.
 * BPLINK_NOT_FOR_DEVICE for a code no family serves; BPLINK_CANNOT_START for
 * a null link or out. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_new(int protocol, bplink_link* link, bplink_protocol** out);
/* Frees the protocol object; not while one of its transfers runs. Null is
 * fine. BPLINK_OK. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_free(bplink_protocol* protocol);
/* The device as the object knows it, into *info: after a transfer, as the
 * device told it; before one, 255 in device_type and protocol. Sends
 * nothing. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_device(bplink_protocol* protocol, bplink_device_info* info);
/* Asks the device which data modes it offers, into *modes; the result is
 * the exchange's (BPLINK_NO_LINK, BPLINK_IO_FAILED, ... when the device
 * cannot be reached). */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_data_modes(bplink_protocol* protocol, bplink_data_modes* modes);
/* The intervals a plan may use and the current plan. Answers what the
 * protocol answers: the serial families give the fixed list with
 * BPLINK_NOT_FOR_DEVICE, the USB HID family asks the device. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_intervals(bplink_protocol* protocol, bplink_intervals* out);
/* Progress through a callback, called with `user` on the transfer's thread
 * (see bplink_progress_fn); a null `fn` stops the calls. Set it between
 * transfers. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_on_progress(bplink_protocol* protocol, bplink_progress_fn fn,
                                                           void* user);
/* The running (or last) transfer's progress 0..100, state (BPLINK_STATE_)
 * and stage (as bplink_progress_fn gives it); each pointer may be null. Any
 * thread: the values are read atomically. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_progress(const bplink_protocol* protocol, int* progress, int* state,
                                                        int* stage);
/* Asks the running download or delete to stop at its next step; any thread.
 * The transfer then answers BPLINK_STOPPED, and a download keeps the records
 * that arrived (bplink_download_set says how many of those announced). A
 * transfer ends as stopped once this was called while it ran, whatever it
 * brought; called while nothing runs, it has no effect. An upload, once
 * started, is not stopped: it goes whole or fails. BPLINK_OK, also when
 * nothing runs. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_stop(bplink_protocol* protocol);

/* Downloads in data mode `mode` (0: the first mode the device offers). The
 * result is the transfer's, or BPLINK_STOPPED; *out is set whenever the call
 * started, also when the transfer failed or was stopped part-way, and holds
 * what arrived. A whole transfer (also an upload or delete) ends at
 * progress 100. BPLINK_NOT_FOR_DEVICE, and *out untouched, when the device
 * offers no data mode; BPLINK_CANNOT_START for a null handle or out. The
 * host owns *out: free it with bplink_download_free. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_run(bplink_protocol* protocol, int mode, bplink_download** out);
/* Writes `plan` to the device (mode 0: the first mode offered). The device
 * takes the fields its family keeps; the upload stamps the PC clock. The
 * plan is first held to what the device allows, by the same check as
 * bplink_upload_json and `bplink upload`: nothing is sent unless every field
 * the device keeps is allowed, nor when the plan cannot give a valid
 * recording (see bplink_upload_with: this is it with no flag). Answers
 * BPLINK_NOT_FOR_DEVICE for a value the device does not allow,
 * BPLINK_PLAN_WARNED for a plan the check warns about, BPLINK_WOULD_ERASE
 * where the upload would erase readings unread, BPLINK_NOT_IN_FAMILY
 * for a device that keeps no plan, else the transfer's result;
 * bplink_protocol_message says why, or after an upload which fields the
 * device does not keep. */
BPLINK_C_API int BPLINK_C_CALL bplink_upload(bplink_protocol* protocol, const bplink_plan* plan, int mode);
/* What a host accepts at an upload or a delete (the `flags` of
 * bplink_upload_with, bplink_upload_json_with and bplink_delete_with),
 * or'ed together; 0 accepts nothing. */
enum {
  /* Send a plan although the check warns that it cannot give a valid
   * recording (the person confirmed it). */
  BPLINK_ACCEPT_WARNINGS = 1,
  /* Erase the readings the device holds although the host has not filed
   * them (the person said they may be lost). */
  BPLINK_MAY_ERASE = 2
};
/* Nothing is erased unread. An upload to a family whose upload starts a new
 * recording (the KV32 monitor; the README's family table says which) and a
 * delete erase the readings the device holds. Before either, the library
 * reads what it would erase (every reading, for such an upload; the mode
 * deleted, for a delete) and, when the device holds any, erases nothing
 * and answers BPLINK_WOULD_ERASE: bplink_protocol_message says how many
 * ("the device holds 3 readings that the upload would erase unread; ..."),
 * bplink_protocol_would_erase gives the number. The library keeps no
 * archive: filing them first is the host's part (download them, keep them
 * where they are safe), and then, or once the person said they may be
 * lost, the host calls again with BPLINK_MAY_ERASE.
 *
 * bplink_upload, with what the host accepts. The check warns, and without
 * BPLINK_ACCEPT_WARNINGS nothing is sent (BPLINK_PLAN_WARNED), when the plan
 * measures nothing (both intervals 0), starts day and night at the same
 * time, starts the night in the morning (04:00 until noon: day and night
 * swapped), or takes fewer readings by day or by night than a valid
 * ambulatory recording needs (20 and 7, the report's own validity
 * criteria). bplink_protocol_message gives the warnings, one a line, each
 * naming the fields ("plan: period1.interval: at most 15 readings by day
 * (07:00 to 22:00 every 60 minutes); a valid recording needs at least 20");
 * a host shows them to the person and calls again with the flag once they
 * are confirmed. After an upload with accepted warnings the message holds
 * them too. A value the device does not allow is refused whatever the
 * flags. */
BPLINK_C_API int BPLINK_C_CALL bplink_upload_with(bplink_protocol* protocol, const bplink_plan* plan, int mode,
                                                  uint32_t flags);
/* The readings the last upload or delete of `protocol` refused with
 * BPLINK_WOULD_ERASE would have erased unread; 0 after any other answer. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_would_erase(const bplink_protocol* protocol, int64_t* readings);
/* Writes a plan given as the JSON text `bplink upload` reads (a plan file:
 * "patient", "period1", "period2", "extra", ... each optional; // comments
 * allowed) to the device, in data mode `mode` (0: the first mode offered),
 * held to what the device allows as bplink_upload holds a struct. Answers
 * BPLINK_CANNOT_START for text that is not a plan, else as bplink_upload.
 * `message` (may be null; cut to `size`, zero-terminated) receives what
 * bplink_protocol_message would. */
BPLINK_C_API int BPLINK_C_CALL bplink_upload_json(bplink_protocol* protocol, const char* plan_json, int mode,
                                                  char* message, size_t size);
/* bplink_upload_json, with what the host accepts (as bplink_upload_with). */
BPLINK_C_API int BPLINK_C_CALL bplink_upload_json_with(bplink_protocol* protocol, const char* plan_json, int mode,
                                                       uint32_t flags, char* message, size_t size);
/* What the last upload's check said, zero-terminated and cut to `size`: why
 * the plan was refused ("plan: period1.interval: 7 minutes is not an
 * interval this device allows; it allows 15, 30, 60, 120 (or 0: no
 * measurements)"; one line for each refused field), the check's warnings
 * (see bplink_upload_with), or after an upload the fields the plan sets
 * that the device does not keep ("the device does not keep warn_switch")
 * and the warnings accepted; after BPLINK_WOULD_ERASE (from an upload or a
 * delete) how many readings would be lost; "" when there was nothing to
 * say. */
BPLINK_C_API int BPLINK_C_CALL bplink_protocol_message(const bplink_protocol* protocol, char* text, size_t size);
/* Deletes the stored measurements of data mode `mode` (0: the first mode
 * offered), on USB HID devices that allow it (BPLINK_NOT_IN_FAMILY from one
 * that does not), once nothing would be erased unread: this is
 * bplink_delete_with with no flag, so a device that holds readings answers
 * BPLINK_WOULD_ERASE. Else the transfer's result. The serial families have no
 * delete: the call answers BPLINK_NOT_IN_FAMILY there, and the device keeps
 * its readings. BPLINK_STOPPED when
 * the host stopped it before the device was asked (nothing is deleted then).
 * The readings are gone once it answers BPLINK_OK: file them first. */
BPLINK_C_API int BPLINK_C_CALL bplink_delete(bplink_protocol* protocol, int mode);
/* bplink_delete, with what the host accepts: BPLINK_MAY_ERASE deletes the
 * readings although the host has not filed them (see bplink_upload_with for
 * the rule). */
BPLINK_C_API int BPLINK_C_CALL bplink_delete_with(bplink_protocol* protocol, int mode, uint32_t flags);

/* The default plan, the one a device gets when the host changes nothing,
 * into *plan (its struct_size set by the host). Sends nothing. */
BPLINK_C_API int BPLINK_C_CALL bplink_plan_default(bplink_plan* plan);

/* ---- Downloaded data ---- */

/* Frees a download. Null is fine. BPLINK_OK. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_free(bplink_download* download);
/* The device the download came from, as it identified itself, into *info. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_device(const bplink_download* download, bplink_device_info* info);
/* The blood-pressure sets the device type fills (three stores: 3; ambulatory
 * recorders: 2; the others: 1), each with its records by index: their
 * number into *count. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_sets(const bplink_download* download, size_t* count);
/* The set at index `set` (0 to the count less one), into *info: its data
 * mode, start, and the records announced and arrived. BPLINK_NOT_FOR_DEVICE
 * past the last set. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_set(const bplink_download* download, size_t set,
                                                   bplink_set_info* info);
/* The record at `index` of the set at `set`, in the order the device sent
 * them, into *record. BPLINK_NOT_FOR_DEVICE past the last set or record. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_record(const bplink_download* download, size_t set, size_t index,
                                                      bplink_bp_record* record);
/* How many SpO2 samples the download holds, into *count (monitors with
 * SpO2; 0 for the others). */
BPLINK_C_API int BPLINK_C_CALL bplink_download_spo2_count(const bplink_download* download, size_t* count);
/* The SpO2 sample at `index`, into *sample; BPLINK_NOT_FOR_DEVICE past the
 * last. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_spo2(const bplink_download* download, size_t index,
                                                    bplink_spo2_record* sample);
/* The plan read with the data; BPLINK_NOT_FOR_DEVICE for devices that keep
 * none (three-store monitors). A family or mode that does not read the plan
 * leaves the default plan. An extra window the device keeps none of has -1
 * in its times and 0 as its interval; an unset period interval is 0. */
BPLINK_C_API int BPLINK_C_CALL bplink_download_plan(const bplink_download* download, bplink_plan* plan);

#ifdef __cplusplus
}
#endif

#endif /* BPLINK_BPLINK_C_H */
