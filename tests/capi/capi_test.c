/* The C interface as a C host uses it: every simulated family found,
 * downloaded and read by index; a plan uploaded and read back, and held to
 * what each device allows whichever entry it comes in by; a stop from
 * another thread in every family; why a port cannot be had; detection over
 * every port at once; and the answers to handles and structs a host got
 * wrong.
 *
 *   capi_test [PROGRAM]      PROGRAM: the bplink program, whose `bplink sim`
 *                            serves devices on ptys for bplink_detect_all
 *   capi_test reason PORT    downloads from PORT (protocol 7) and prints
 *                            bplink_link_reason; exit 0 when it gave one
 *                            (tests/install runs it as a user the port
 *                            refuses) */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include <bplink/bplink_c.h>
#include <bplink/bplink_sim_c.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* A second thread of the host: C11 threads, or Win32 where the C library
 * has none. */
#if defined(_WIN32)
#include <windows.h>
typedef HANDLE host_thread;
typedef struct {
  int (*run)(void*);
  void* arg;
  int result;
} host_thread_call;
static DWORD WINAPI HostThreadMain(LPVOID p) {
  host_thread_call* call = p;
  call->result = call->run(call->arg);
  return 0;
}
static host_thread_call the_call;
static void StartThread(host_thread* t, int (*run)(void*), void* arg) {
  the_call.run = run;
  the_call.arg = arg;
  *t = CreateThread(NULL, 0, HostThreadMain, &the_call, 0, NULL);
}
static int JoinThread(host_thread t) {
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  return the_call.result;
}
static void YieldThread(void) { SwitchToThread(); }
#else
#include <threads.h>
typedef thrd_t host_thread;
static void StartThread(host_thread* t, int (*run)(void*), void* arg) { thrd_create(t, run, arg); }
static int JoinThread(host_thread t) {
  int result = 0;
  thrd_join(t, &result);
  return result;
}
static void YieldThread(void) { thrd_yield(); }
#endif

static int failures = 0;

#define CHECK_TEXT(got, part)                                                                \
  do {                                                                                       \
    if (strstr((got), (part)) == NULL) {                                                     \
      fprintf(stderr, "%s:%d: \"%s\" lacks \"%s\"\n", __FILE__, __LINE__, (got), (part)); \
      ++failures;                                                                            \
    }                                                                                        \
  } while (0)

#define CHECK_EQ(got, want)                                                                      \
  do {                                                                                           \
    long long g_ = (long long)(got), w_ = (long long)(want);                                     \
    if (g_ != w_) {                                                                              \
      fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #got, g_, w_); \
      ++failures;                                                                                \
    }                                                                                            \
  } while (0)

static bplink_link* SimLink(const char* family, int records, unsigned pace_ms) {
  bplink_sim_options options;
  bplink_sim_options_init(&options, family);
  options.records = records;
  options.pace_ms = pace_ms;
  bplink_link* link = NULL;
  char why[200];
  CHECK_EQ(bplink_sim_link(&options, &link, why, sizeof why), BPLINK_OK);
  return link;
}

struct Seen {
  int calls, last_progress, last_state;
};

static void BPLINK_C_CALL OnProgress(void* user, int progress, int state, int stage) {
  struct Seen* seen = user;
  (void)stage;
  ++seen->calls;
  seen->last_progress = progress;
  seen->last_state = state;
}

/* Each family as detection finds it, the protocol it names, what a download
 * brings: set count, SpO2 presence, records matching the announced count. */
struct FamilyCase {
  const char* family;
  int protocol, device_type, sets;
};

static void DetectAndDownload(const struct FamilyCase* c) {
  bplink_link* link = SimLink(c->family, 12, 0);
  bplink_device_info info;
  BPLINK_INIT(info);
  CHECK_EQ(bplink_detect(link, &info), BPLINK_OK);
  CHECK_EQ(info.protocol, c->protocol);

  bplink_protocol* protocol = NULL;
  CHECK_EQ(bplink_protocol_new(info.protocol, link, &protocol), BPLINK_OK);
  struct Seen seen = {0, -1, -1};
  bplink_protocol_on_progress(protocol, OnProgress, &seen);
  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 0, &download), BPLINK_OK);
  CHECK_EQ(seen.last_state, BPLINK_STATE_SUCCEEDED);
  CHECK_EQ(seen.last_progress, 100); /* whatever the family's own count reached */
  if (seen.calls < 2) fprintf(stderr, "%s: progress told %d times\n", c->family, seen.calls), ++failures;

  bplink_device_info got;
  BPLINK_INIT(got);
  bplink_download_device(download, &got);
  CHECK_EQ(got.device_type, c->device_type);
  size_t sets = 0;
  bplink_download_sets(download, &sets);
  CHECK_EQ(sets, c->sets);
  bplink_set_info set;
  BPLINK_INIT(set);
  CHECK_EQ(bplink_download_set(download, 0, &set), BPLINK_OK);
  CHECK_EQ(set.records, 12);
  CHECK_EQ(set.announced, 12);
  bplink_bp_record record;
  BPLINK_INIT(record);
  /* Every family's demo day begins with the same reading at 09:00. */
  CHECK_EQ(bplink_download_record(download, 0, 0, &record), BPLINK_OK);
  CHECK_EQ(record.sys, 138);
  CHECK_EQ(record.press2, 80);
  CHECK_EQ(record.pulse, 91);
  CHECK_EQ(record.hour * 60 + record.minute, 9 * 60);
  CHECK_EQ(record.valid, 1);
  CHECK_EQ(bplink_download_record(download, 0, set.records, &record), BPLINK_NOT_FOR_DEVICE);
  CHECK_EQ(bplink_download_set(download, sets, &set), BPLINK_NOT_FOR_DEVICE);

  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* A plan written to the HID recorder comes back from it. */
static void UploadedPlanComesBack(void) {
  bplink_link* link = SimLink("hid", 5, 0);
  bplink_protocol* protocol = NULL;
  CHECK_EQ(bplink_protocol_new(1, link, &protocol), BPLINK_OK);
  bplink_plan plan;
  BPLINK_INIT(plan);
  CHECK_EQ(bplink_plan_default(&plan), BPLINK_OK);
  CHECK_EQ(plan.period1_interval, 60);
  CHECK_EQ(plan.extra_start_hour, -1); /* no extra window */
  plan.period1_interval = 30;
  plan.period2_hour = 23;
  strcpy(plan.patient1, "C HOST");
  CHECK_EQ(bplink_upload(protocol, &plan, 0), BPLINK_OK);

  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  bplink_plan back;
  BPLINK_INIT(back);
  CHECK_EQ(bplink_download_plan(download, &back), BPLINK_OK);
  CHECK_EQ(back.period1_interval, 30);
  bplink_download_free(download);
  /* A value no device stores is refused as the plan file's reader words it. */
  char said[256];
  plan.period2_hour = 24;
  CHECK_EQ(bplink_upload(protocol, &plan, 0), BPLINK_NOT_FOR_DEVICE);
  bplink_protocol_message(protocol, said, sizeof said);
  CHECK_EQ(strcmp(said, "plan: period2.start: hour 24 is out of range 0..23"), 0);
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  CHECK_EQ(bplink_download_plan(download, &back), BPLINK_OK);
  CHECK_EQ(back.period2_hour, 23);
  CHECK_EQ(strcmp(back.patient1, "C HOST"), 0);
  /* "None" as the header spells it, not the device's 255. */
  CHECK_EQ(back.extra_start_hour * 1000 + back.extra_end_minute * 10 + back.extra_interval, -1010);
  bplink_download_free(download);

  /* The same as a plan file's text: held to the recorder's intervals first,
   * the refusal naming the field and what the device allows. */
  char message[256];
  CHECK_EQ(bplink_upload_json(protocol, "{\"period1\": {\"start\": \"06:30\", \"interval\": 20}}", 0, message,
                              sizeof message),
           BPLINK_NOT_FOR_DEVICE);
  CHECK_EQ(strstr(message, "period1.interval: 20 minutes is not an interval this device allows; it allows 15, 30, "
                           "60, 120") != NULL, 1);
  CHECK_EQ(bplink_upload_json(protocol,
                              "{\"patient\": [\"JSON HOST\"], \"period1\": {\"start\": \"06:45\", \"interval\": 30}, "
                              "\"warn_switch\": 2}",
                              0, message, sizeof message),
           BPLINK_OK);
  CHECK_EQ(strcmp(message, "the device does not keep warn_switch"), 0);
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  CHECK_EQ(bplink_download_plan(download, &back), BPLINK_OK);
  CHECK_EQ(back.period1_hour * 10000 + back.period1_minute * 100 + back.period1_interval, 64530);
  CHECK_EQ(strcmp(back.patient1, "JSON HOST"), 0);
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* What a device offers, and a deletion only where the device type allows it. */
static void OffersAndDeletes(void) {
  bplink_sim_options options;
  bplink_sim_options_init(&options, "hid");
  options.device_type = 5;
  bplink_link* link = NULL;
  bplink_sim_link(&options, &link, NULL, 0);
  bplink_protocol* protocol = NULL;
  bplink_protocol_new(5, link, &protocol);
  bplink_data_modes modes;
  BPLINK_INIT(modes);
  CHECK_EQ(bplink_protocol_data_modes(protocol, &modes), BPLINK_OK);
  CHECK_EQ(modes.offered[1] * 1000 + modes.offered[4] * 100 + modes.offered[5] * 10 + modes.offered[6], 111);
  /* Nothing erased unread: refused with the count of what the delete takes
   * (the first mode's store) until the host lets them go. */
  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 0, &download), BPLINK_OK);
  size_t held = 0;
  for (size_t s = 0; s < 3; ++s) {
    bplink_set_info store;
    BPLINK_INIT(store);
    bplink_download_set(download, s, &store);
    held += store.records;
  }
  bplink_download_free(download);
  CHECK_EQ(held > 0, 1);
  int64_t would_erase = 0;
  char said[256], expected[256];
  CHECK_EQ(bplink_delete(protocol, 0), BPLINK_WOULD_ERASE);
  CHECK_EQ(bplink_protocol_would_erase(protocol, &would_erase), BPLINK_OK);
  CHECK_EQ(would_erase, held);
  bplink_protocol_message(protocol, said, sizeof said);
  snprintf(expected, sizeof expected, "the device holds %zu readings that the delete would erase unread", held);
  CHECK_TEXT(said, expected);
  CHECK_EQ(bplink_delete_with(protocol, 0, BPLINK_MAY_ERASE), BPLINK_OK);
  CHECK_EQ(bplink_protocol_would_erase(protocol, &would_erase), BPLINK_OK);
  CHECK_EQ(would_erase, 0);
  CHECK_EQ(bplink_delete(protocol, 0), BPLINK_OK); /* nothing left to lose */
  CHECK_EQ(bplink_download_run(protocol, 7, &download), BPLINK_OK);
  bplink_set_info set;
  BPLINK_INIT(set);
  bplink_download_set(download, 0, &set);
  CHECK_EQ(set.records, 0);
  bplink_plan plan;
  BPLINK_INIT(plan);
  CHECK_EQ(bplink_download_plan(download, &plan), BPLINK_NOT_FOR_DEVICE); /* three stores keep no plan */
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);

  link = SimLink("hid", 3, 0);
  bplink_protocol_new(1, link, &protocol);
  CHECK_EQ(bplink_delete(protocol, 1), BPLINK_NOT_IN_FAMILY);
  bplink_protocol_free(protocol);
  bplink_link_free(link);

  link = SimLink("kv32", 3, 0);
  bplink_protocol_new(7, link, &protocol);
  bplink_intervals intervals;
  BPLINK_INIT(intervals);
  CHECK_EQ(bplink_protocol_intervals(protocol, &intervals), BPLINK_NOT_FOR_DEVICE); /* the fixed list */
  CHECK_EQ(intervals.count1, 9);
  CHECK_EQ(intervals.interval1[0] * 1000 + intervals.interval1[8], 5120);
  CHECK_EQ(intervals.count2, 9);
  CHECK_EQ(intervals.plan.period2_hour, 22);
  /* A serial family has no delete: not an OK that deleted nothing. */
  CHECK_EQ(bplink_delete_with(protocol, 0, BPLINK_MAY_ERASE), BPLINK_NOT_IN_FAMILY);
  /* An upload to the KV32 monitor starts a new recording: its 3 readings
   * are not erased unread, by the struct entry or the plan file's. */
  bplink_plan fresh;
  BPLINK_INIT(fresh);
  bplink_plan_default(&fresh);
  fresh.period1_interval = 30;
  char said_upload[256];
  CHECK_EQ(bplink_upload(protocol, &fresh, 0), BPLINK_WOULD_ERASE);
  CHECK_EQ(bplink_protocol_would_erase(protocol, &would_erase), BPLINK_OK);
  CHECK_EQ(would_erase, 3);
  CHECK_EQ(bplink_upload_json(protocol, "{\"period1\": {\"interval\": 30}}", 0, said_upload, sizeof said_upload),
           BPLINK_WOULD_ERASE);
  CHECK_TEXT(said_upload, "the device holds 3 readings that the upload would erase unread");
  CHECK_EQ(bplink_download_run(protocol, 0, &download), BPLINK_OK);
  bplink_set_info set1;
  BPLINK_INIT(set1);
  bplink_download_set(download, 0, &set1);
  CHECK_EQ(set1.records, 3);
  bplink_download_free(download);
  CHECK_EQ(bplink_upload_with(protocol, &fresh, 0, BPLINK_MAY_ERASE), BPLINK_OK);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* The struct entry and the plan-file entry refuse the same plan with the
 * same code and the same words. */
static void RefusedAlike(const char* family, bplink_protocol* protocol, const bplink_plan* plan, const char* json,
                         int code, const char* words) {
  char from_struct[512], from_json[512];
  CHECK_EQ(bplink_upload(protocol, plan, 0), code);
  CHECK_EQ(bplink_protocol_message(protocol, from_struct, sizeof from_struct), BPLINK_OK);
  CHECK_EQ(bplink_upload_json_with(protocol, json, 0, 0, from_json, sizeof from_json), code);
  CHECK_TEXT(from_struct, words);
  if (strcmp(from_struct, from_json) != 0)
    fprintf(stderr, "%s: struct says \"%s\", JSON \"%s\"\n", family, from_struct, from_json), ++failures;
}

/* The plan the device keeps, read back by a download. */
static bplink_plan PlanOnDevice(bplink_protocol* protocol) {
  bplink_download* download = NULL;
  bplink_plan back;
  BPLINK_INIT(back);
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  CHECK_EQ(bplink_download_plan(download, &back), BPLINK_OK);
  bplink_download_free(download);
  return back;
}

/* A plan with an interval the device does not offer is refused before any
 * of it is sent, by the struct entry and the plan-file entry alike, in the
 * same words; the device keeps its plan. */
static void PlanIsHeldToTheDevice(const char* family, int protocol_code) {
  bplink_link* link = SimLink(family, 3, 0);
  bplink_protocol* protocol = NULL;
  CHECK_EQ(bplink_protocol_new(protocol_code, link, &protocol), BPLINK_OK);
  bplink_plan plan;
  BPLINK_INIT(plan);
  bplink_plan_default(&plan);
  plan.period1_interval = 7;
  RefusedAlike(family, protocol, &plan, "{\"period1\": {\"interval\": 7}}", BPLINK_NOT_FOR_DEVICE,
               "plan: period1.interval: 7 minutes is not an interval this device allows; it allows ");
  if (PlanOnDevice(protocol).period1_interval == 7)
    fprintf(stderr, "%s: the refused plan reached the device\n", family), ++failures;
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* The host's other thread asks the running download to stop once records
 * flow (the family's progress has passed `from`); the download answers
 * "stopped" and keeps what came. */
struct StopAt {
  bplink_protocol* protocol;
  int from;
};

static int StopWhenRunning(void* arg) {
  const struct StopAt* at = arg;
  int progress = 0, state = 0, stage = 0;
  do {
    YieldThread();
    if (bplink_protocol_progress(at->protocol, &progress, &state, &stage) != BPLINK_OK) break;
    if (state == BPLINK_STATE_SUCCEEDED || state == BPLINK_STATE_FAILED) break; /* too late: the test fails */
  } while (stage == 0 /* not yet at the records */ || stage == 1 /* the plan */ || progress <= at->from ||
           state != BPLINK_STATE_RUNNING);
  return bplink_protocol_stop(at->protocol);
}

static void StopFromAnotherThread(const char* family, int protocol_code, int from) {
  enum { kRecords = 250 }; /* as many as every family's store holds */
  bplink_link* link = SimLink(family, kRecords, 2);
  bplink_protocol* protocol = NULL;
  bplink_protocol_new(protocol_code, link, &protocol);
  struct StopAt at = {protocol, from};
  host_thread stopper;
  StartThread(&stopper, StopWhenRunning, &at);
  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 0, &download), BPLINK_STOPPED);
  CHECK_EQ(JoinThread(stopper), BPLINK_OK);
  bplink_set_info set;
  BPLINK_INIT(set);
  bplink_download_set(download, 0, &set);
  if (set.records == 0 || set.records >= kRecords)
    fprintf(stderr, "%s: the stop kept %zu of %d records\n", family, set.records, kRecords), ++failures;
  bplink_download_free(download);
  /* A stop while nothing runs is not held over to the next transfer. */
  CHECK_EQ(bplink_protocol_stop(protocol), BPLINK_OK);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* A serial port that is not there: the transfer and detection both say
 * which port and why. */
#if defined(_WIN32)
#define MISSING_PORT "COM249"
#define MISSING_WHY "COM249 cannot be opened"
#else
#define MISSING_PORT "/dev/bplink-no-such-port"
#define MISSING_WHY "/dev/bplink-no-such-port cannot be opened: no such file or directory"
#endif

static void MissingPortIsNamed(void) {
  bplink_link* link = NULL;
  CHECK_EQ(bplink_link_open(BPLINK_LINK_SERIAL, MISSING_PORT, &link), BPLINK_OK);
  CHECK_EQ(bplink_link_timeout(link, 50), BPLINK_OK);
  bplink_protocol* protocol = NULL;
  bplink_protocol_new(7, link, &protocol);
  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_NO_LINK);
  char why[512];
  bplink_link_reason(link, why, sizeof why);
  CHECK_TEXT(why, MISSING_WHY);
  bplink_download_free(download);
  bplink_protocol_free(protocol);

  bplink_device_info info;
  BPLINK_INIT(info);
  CHECK_EQ(bplink_detect(link, &info), BPLINK_NO_DEVICE);
  bplink_link_reason(link, why, sizeof why);
  CHECK_TEXT(why, "USB HID: ");
  CHECK_TEXT(why, "serial ports: " MISSING_WHY);
  bplink_link_free(link);
}

/* capi_test reason PORT */
static int PrintReason(const char* port) {
  bplink_link* link = NULL;
  bplink_protocol* protocol = NULL;
  bplink_download* download = NULL;
  char why[1024] = "";
  bplink_link_open(BPLINK_LINK_SERIAL, port, &link);
  bplink_link_timeout(link, 150);
  bplink_protocol_new(7, link, &protocol);
  const int r = bplink_download_run(protocol, 1, &download);
  bplink_link_reason(link, why, sizeof why);
  printf("result %d: %s\n", r, why);
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
  return r != BPLINK_OK && why[0] != '\0' ? 0 : 1;
}

#if !defined(_WIN32)
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/* `PROGRAM sim FAMILY` in the background: its pid, and the pty it printed. */
static pid_t Serve(const char* program, const char* family, char* port, size_t size) {
  int out[2];
  if (pipe(out) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    if (freopen("/dev/null", "w", stderr) == NULL) _exit(126);
    execl(program, program, "sim", family, (char*)NULL);
    _exit(127);
  }
  close(out[1]);
  FILE* printed = fdopen(out[0], "r");
  if (pid < 0 || printed == NULL || fgets(port, (int)size, printed) == NULL) port[0] = '\0';
  port[strcspn(port, "\n")] = '\0';
  if (printed != NULL) fclose(printed);
  return pid;
}

static void StopServing(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, NULL, 0);
}

/* Two simulated devices on two ptys and a missing port, asked at once. */
static void DetectAllFindsBoth(const char* program) {
  char kv32[256], vestra18[256];
  const pid_t first = Serve(program, "kv32", kv32, sizeof kv32);
  const pid_t second = Serve(program, "vestra18", vestra18, sizeof vestra18);
  if (kv32[0] == '\0' || vestra18[0] == '\0') {
    fprintf(stderr, "bplink sim printed no pty\n"), ++failures;
  } else {
    const char* ports[] = {kv32, MISSING_PORT, vestra18};
    bplink_detect_options options;
    CHECK_EQ(bplink_detect_options_init(&options), BPLINK_OK);
    options.ports = ports;
    options.port_count = 3;
    options.probe_hid = 0;
    options.serial_timeout_ms = 150;
    bplink_detection* detection = NULL;
    CHECK_EQ(bplink_detect_all(&options, &detection), BPLINK_OK);
    size_t count = 0;
    bplink_detection_count(detection, &count);
    CHECK_EQ(count, 3);
    const int protocols[] = {7, -2, 10};
    for (size_t i = 0; i < count && i < 3; ++i) {
      bplink_detected_port port;
      BPLINK_INIT(port);
      CHECK_EQ(bplink_detection_port(detection, i, &port), BPLINK_OK);
      CHECK_EQ(port.link, BPLINK_LINK_SERIAL);
      CHECK_EQ(strcmp(port.port, ports[i]), 0);
      if (protocols[i] > 0) {
        CHECK_EQ(port.status, BPLINK_PORT_FOUND);
        CHECK_EQ(port.device.protocol, protocols[i]);
      } else {
        CHECK_EQ(port.status, BPLINK_PORT_CANNOT_OPEN);
        CHECK_TEXT(port.reason, "no such file or directory");
      }
    }
    bplink_detected_port past;
    BPLINK_INIT(past);
    CHECK_EQ(bplink_detection_port(detection, count, &past), BPLINK_NOT_FOR_DEVICE);
    bplink_detection_free(detection);
  }
  StopServing(first);
  StopServing(second);
}
#endif

/* A link of the host's own that never opens: the transfer says so, and the
 * reason is the link's. */
static int BPLINK_C_CALL NoOpen(void* user, int n) {
  (void)user, (void)n;
  return 0;
}
static void BPLINK_C_CALL Why(void* user, char* text, size_t size) {
  (void)user;
  snprintf(text, size, "cable unplugged");
}

static void HostLinkThatNeverOpens(void) {
  bplink_link_ops ops;
  memset(&ops, 0, sizeof ops);
  BPLINK_INIT(ops);
  ops.open_hid = NoOpen;
  ops.reason = Why;
  bplink_link* link = NULL;
  CHECK_EQ(bplink_link_custom(&ops, NULL, &link), BPLINK_OK);
  bplink_protocol* protocol = NULL;
  bplink_protocol_new(1, link, &protocol);
  bplink_download* download = NULL;
  const int r = bplink_download_run(protocol, 1, &download);
  CHECK_EQ(r, BPLINK_NO_LINK);
  char why[8];
  CHECK_EQ(bplink_link_reason(link, why, sizeof why), BPLINK_OK);
  CHECK_EQ(strcmp(why, "cable u"), 0); /* cut to the buffer, terminated */
  const char* text = NULL;
  bplink_result_text(r, &text);
  CHECK_EQ(strcmp(text, "the device could not be opened, or no port answered"), 0);
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* A plan the device would take but that cannot give a valid recording is
 * refused with BPLINK_PLAN_WARNED and the warnings, by the struct entry and
 * the plan-file entry in the same words, and sent once the host accepts
 * them. */
static void WarnedPlanNeedsTheHostsYes(const char* family, int protocol_code) {
  bplink_link* link = SimLink(family, 3, 0);
  bplink_protocol* protocol = NULL;
  CHECK_EQ(bplink_protocol_new(protocol_code, link, &protocol), BPLINK_OK);
  bplink_plan swapped;
  BPLINK_INIT(swapped);
  bplink_plan_default(&swapped);
  swapped.period1_hour = 22, swapped.period1_interval = 30;
  swapped.period2_hour = 7;
  static const char swapped_json[] =
      "{\"period1\": {\"start\": \"22:00\", \"interval\": 30}, \"period2\": {\"start\": \"07:00\"}}";
  static const char words[] =
      "plan: period2.start: the night starts at 07:00, in the morning, and the day at 22:00: "
      "day and night look swapped";
  RefusedAlike(family, protocol, &swapped, swapped_json, BPLINK_PLAN_WARNED, words);

  /* Nothing measured, equal starts: warned about in their own words. */
  static const struct {
    const char* json;
    const char* words;
  } others[] = {
      {"{\"period1\": {\"interval\": 0}, \"period2\": {\"interval\": 0}}", "the device would measure nothing"},
      {"{\"period1\": {\"start\": \"07:00\"}, \"period2\": {\"start\": \"07:00\"}}",
       "the day and the night both start at 07:00"},
  };
  char said[512];
  for (size_t i = 0; i < sizeof others / sizeof others[0]; ++i) {
    CHECK_EQ(bplink_upload_json(protocol, others[i].json, 0, said, sizeof said), BPLINK_PLAN_WARNED);
    CHECK_TEXT(said, others[i].words);
  }
  if (PlanOnDevice(protocol).period1_hour == 22)
    fprintf(stderr, "%s: the warned plan reached the device\n", family), ++failures;

  /* Accepted: sent, and the warning still said. */
  CHECK_EQ(bplink_upload_with(protocol, &swapped, 0, BPLINK_ACCEPT_WARNINGS | BPLINK_MAY_ERASE), BPLINK_OK);
  bplink_protocol_message(protocol, said, sizeof said);
  CHECK_TEXT(said, words);
  const bplink_plan sent = PlanOnDevice(protocol);
  CHECK_EQ(sent.period1_hour * 100 + sent.period2_hour, 2207);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* What a host gets wrong is answered with a code, never a crash. */
static void MistakesAreAnsweredWithCodes(void) {
  bplink_device_info info;
  BPLINK_INIT(info);
  info.struct_size = 8; /* older and smaller than any version */
  bplink_link* link = SimLink("kv32", 3, 0);
  CHECK_EQ(bplink_detect(link, &info), BPLINK_CANNOT_START);
  CHECK_EQ(bplink_detect(link, NULL), BPLINK_CANNOT_START);
  bplink_protocol* protocol = NULL;
  CHECK_EQ(bplink_protocol_new(99, link, &protocol), BPLINK_NOT_FOR_DEVICE);
  CHECK_EQ(bplink_protocol_new(7, NULL, &protocol), BPLINK_CANNOT_START);
  CHECK_EQ(bplink_download_run(NULL, 0, NULL), BPLINK_CANNOT_START);
  CHECK_EQ(bplink_link_open(42, NULL, &link), BPLINK_CANNOT_START);
  CHECK_EQ(bplink_protocol_free(NULL), BPLINK_OK);
  const char* version = NULL;
  CHECK_EQ(bplink_version(&version), BPLINK_OK);
  CHECK_EQ(strchr(version, '.') != NULL, 1);
  bplink_link_free(link);

  bplink_sim_options options;
  bplink_sim_options_init(&options, "no-such-family");
  char why[200];
  CHECK_EQ(bplink_sim_link(&options, &link, why, sizeof why), BPLINK_NOT_FOR_DEVICE);
  CHECK_EQ(strstr(why, "kx71") != NULL, 1); /* names the families it knows */
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "reason") == 0) return PrintReason(argv[2]);
  static const struct FamilyCase families[] = {
      {"hid", 1, 1, 2},      {"kx71", 6, 1, 2},      {"kv32", 7, 3, 1},
      {"vestra16", 8, 4, 1}, {"vestra16c", 9, 6, 1}, {"vestra18", 10, 5, 3},
  };
  for (size_t i = 0; i < sizeof families / sizeof families[0]; ++i) DetectAndDownload(&families[i]);
  UploadedPlanComesBack();
  static const struct FamilyCase uploading[] = {
      {"hid", 1, 1, 2}, {"kx71", 6, 1, 2}, {"kv32", 7, 3, 1}, {"vestra16", 8, 4, 1}, {"vestra16c", 9, 6, 1},
  };
  for (size_t i = 0; i < sizeof uploading / sizeof uploading[0]; ++i)
    PlanIsHeldToTheDevice(uploading[i].family, uploading[i].protocol);
  for (size_t i = 0; i < sizeof uploading / sizeof uploading[0]; ++i)
    WarnedPlanNeedsTheHostsYes(uploading[i].family, uploading[i].protocol);
  OffersAndDeletes();
  /* The KX71 recorder's count cycles from 20 while records come; the others count records from 0. */
  for (size_t i = 0; i < sizeof families / sizeof families[0]; ++i)
    StopFromAnotherThread(families[i].family, families[i].protocol, strcmp(families[i].family, "kx71") == 0 ? 22 : 2);
  MissingPortIsNamed();
#if !defined(_WIN32)
  if (argc == 2) DetectAllFindsBoth(argv[1]);
#endif
  HostLinkThatNeverOpens();
  MistakesAreAnsweredWithCodes();
  if (failures == 0) printf("capi: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
