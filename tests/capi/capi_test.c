/* The C interface as a C host uses it: every simulated family found,
 * downloaded and read by index; a plan uploaded and read back; a stop from
 * another thread; and the answers to handles and structs a host got wrong. */
#include <bplink/bplink_c.h>
#include <bplink/bplink_sim_c.h>

#include <stdio.h>
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
  plan.period1_interval = 20;
  plan.period2_hour = 23;
  strcpy(plan.patient1, "C HOST");
  CHECK_EQ(bplink_upload(protocol, &plan, 0), BPLINK_OK);

  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  bplink_plan back;
  BPLINK_INIT(back);
  CHECK_EQ(bplink_download_plan(download, &back), BPLINK_OK);
  CHECK_EQ(back.period1_interval, 20);
  CHECK_EQ(back.period2_hour, 23);
  CHECK_EQ(strcmp(back.patient1, "C HOST"), 0);
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
  CHECK_EQ(bplink_delete(protocol, 0), BPLINK_OK);
  bplink_download* download = NULL;
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
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

/* The host's other thread asks the running download to stop once records
 * flow; the download keeps what came and ends as a success. */
static int StopWhenRunning(void* arg) {
  bplink_protocol* protocol = arg;
  int progress = 0, state = 0, stage = 0;
  do {
    YieldThread();
    bplink_protocol_progress(protocol, &progress, &state, &stage);
    if (state == BPLINK_STATE_SUCCEEDED || state == BPLINK_STATE_FAILED) break; /* too late: the test fails */
  } while (stage != 2 /* blood-pressure records */ || progress == 0 || state != BPLINK_STATE_RUNNING);
  return bplink_protocol_stop(protocol);
}

static void StopFromAnotherThread(void) {
  bplink_link* link = SimLink("hid", 400, 2);
  bplink_protocol* protocol = NULL;
  bplink_protocol_new(1, link, &protocol);
  host_thread stopper;
  StartThread(&stopper, StopWhenRunning, protocol);
  bplink_download* download = NULL;
  CHECK_EQ(bplink_download_run(protocol, 1, &download), BPLINK_OK);
  CHECK_EQ(JoinThread(stopper), BPLINK_OK);
  int state = 0;
  bplink_protocol_progress(protocol, NULL, &state, NULL);
  CHECK_EQ(state, BPLINK_STATE_SUCCEEDED);
  bplink_set_info set;
  BPLINK_INIT(set);
  bplink_download_set(download, 0, &set);
  CHECK_EQ(set.announced, 400);
  if (set.records == 0 || set.records >= 400) fprintf(stderr, "stop kept %zu records\n", set.records), ++failures;
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
}

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

int main(void) {
  static const struct FamilyCase families[] = {
      {"hid", 1, 1, 2},      {"kx71", 6, 1, 2},      {"kv32", 7, 3, 1},
      {"vestra16", 8, 4, 1}, {"vestra16c", 9, 6, 1}, {"vestra18", 10, 5, 3},
  };
  for (size_t i = 0; i < sizeof families / sizeof families[0]; ++i) DetectAndDownload(&families[i]);
  UploadedPlanComesBack();
  OffersAndDeletes();
  StopFromAnotherThread();
  HostLinkThatNeverOpens();
  MistakesAreAnsweredWithCodes();
  if (failures == 0) printf("capi: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
