/* A host in C: downloads what a simulated USB HID recorder stored, through
 * the C interface, and prints the first readings. A host for a real device
 * passes null for the link to bplink_detect and opens one with
 * bplink_link_open; everything after detection is the same. */
#include <bplink/bplink_c.h>
#include <bplink/bplink_sim_c.h>

#include <stdio.h>

static int fail(const char* what, int result, const bplink_link* link) {
  const char* text = "";
  char reason[256] = "";
  bplink_result_text(result, &text);
  if (link != NULL) bplink_link_reason(link, reason, sizeof reason);
  fprintf(stderr, "%s: %s%s%s\n", what, text, reason[0] ? ": " : "", reason);
  return 1;
}

int main(void) {
  bplink_link* link = NULL;
  bplink_protocol* protocol = NULL;
  bplink_download* download = NULL;
  bplink_device_info device;
  bplink_set_info set;
  size_t sets = 0;
  int r;

  {
    bplink_sim_options options;
    char why[200];
    bplink_sim_options_init(&options, "hid");
    if (bplink_sim_link(&options, &link, why, sizeof why) != BPLINK_OK) {
      fprintf(stderr, "no simulated device: %s\n", why);
      return 1;
    }
  }

  BPLINK_INIT(device);
  r = bplink_detect(link, &device);
  if (r != BPLINK_OK) return fail("detection", r, link);
  r = bplink_protocol_new(device.protocol, link, &protocol);
  if (r != BPLINK_OK) return fail("protocol", r, link);
  r = bplink_download_run(protocol, 0, &download);
  if (r != BPLINK_OK) {
    fail("download", r, link);
  } else {
    size_t i;
    bplink_download_sets(download, &sets);
    BPLINK_INIT(set);
    bplink_download_set(download, 0, &set);
    printf("protocol %d: %zu set(s), %zu records in the first\n", device.protocol, sets, set.records);
    for (i = 0; i < set.records && i < 3; ++i) {
      bplink_bp_record rec;
      BPLINK_INIT(rec);
      bplink_download_record(download, 0, i, &rec);
      printf("  %04d-%02d-%02d %02d:%02d  %d/%d mmHg, pulse %d\n", rec.year, rec.month, rec.day, rec.hour,
             rec.minute, rec.sys, rec.press2, rec.pulse);
    }
  }
  bplink_download_free(download);
  bplink_protocol_free(protocol);
  bplink_link_free(link);
  return r == BPLINK_OK ? 0 : 1;
}
