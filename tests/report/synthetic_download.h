// A day and a night of an ambulatory recorder as the library hands the
// download over: plan, records (two the device marked invalid, one artifact,
// one without pulse), and an oximetry set for the exports that carry SpO2.
#pragma once

#include <bplink/bplink.h>

struct SyntheticDownload {
  _DOWNLOAD_DATAINFO data;
  tag_SUPPORT_PROTOCOL device;
  int marked_invalid = 0;  // records with bValid 0
  int artifacts = 0;       // records outside the editing limits
};

SyntheticDownload RecorderDownload();
_SPO2_DATASET OximetrySamples(int count);
