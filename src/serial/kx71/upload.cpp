// The upload: the plan block, sent one byte at a time, each confirmed by
// the recorder.

#include <bplink/codes.h>
#include <bplink/env.h>
#include <bplink/protocol_kx71.h>

#include <algorithm>
#include <iterator>

#include "frame/wire_bytes.h"
#include "serial/line.h"
#include "serial/kx71/wire.h"

using namespace bplink::serial::kx71;

namespace {

// The recorder gets ten receives to confirm a byte, with a pause after each
// miss but the last.
constexpr bplink::serial::AckRules kConfirmRules{kConfirm, kConfirmAttempts, kConfirmPauseMs, false};

}  // namespace

// A byte the recorder does not confirm ends the upload; the rest of the
// block is not sent.
int CProtocolCOMKX71::UploadBPInfo() {
  CProtocolBase::UploadBPInfo();
  if (!PC_Pack()) return bplink::kResultFalse;
  const bool sent = bplink::serial::SendAcknowledged(*m_pDevice, m_byFrame, kPlanBlockLength, kConfirmRules,
                                                     bplink::HostVariables(m_pnProgress, m_pnState));
  return sent ? bplink::kResultOk : bplink::kResultFalse;
}

bool CProtocolCOMKX71::PC_Pack() {
  try {
    std::fill(std::begin(m_byFrame), std::end(m_byFrame), BYTE{0});
    const _BP_TRANSPORT_INFO& plan = m_UploadNeeded.Info;
    // The texts travel without their terminators.
    bplink::wire::PutPatientTexts(m_byFrame + kPatientTextsAt, plan);
    // The recorder takes the PC clock, read once, as its own.
    bplink::wire::PutClock(m_byFrame + kClockAt, bplink::CurrentEnv()->LocalTime());

    bplink::wire::PutPeriods(m_byFrame + kPeriodsAt, plan);
    return true;
  } catch (...) {
    return false;
  }
}
