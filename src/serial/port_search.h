// The port search the serial families share: probe every openable port in
// list order with a fixed request and keep the first that answers as
// expected, open.
//
// The KX71 recorder (one byte or its six-byte handshake), the KV32 monitor
// and the VESTRA18 monitor all search this way; they differ only in whether a
// link the host opened itself is probed as it is, and in the result an
// exception gives. Those differences are the SearchRules.
#pragma once

#include <bplink/codes.h>
#include <bplink/device.h>
#include <bplink/wintypes.h>

#include <functional>

namespace bplink::serial {

// The pause between a probe and reading its answer.
inline constexpr unsigned kProbeAnswerPauseMs = 100;

struct SearchRules {
  // Probe the bound device as it is when the host says it opened the link
  // itself (SetDevice with bOpened): no port list, no Open, no Close.
  bool probeHostOpenedLink = true;
  // The result when an exception is raised during the search.
  int resultOnException = 8;
};

struct Probe {
  const BYTE* request = nullptr;  // sent in one call
  DWORD requestLength = 0;
  BYTE* answer = nullptr;         // received in one call, answerLength bytes
  DWORD answerLength = 0;
  std::function<bool(const BYTE* answer)> matches;
};

// 1: a port answered; it is left open and its path stored in `foundPath`
//    (untouched when the host-opened link answered).
// 2: no port answered as expected (none is left open); also for no device.
// rules.resultOnException: an exception was raised; the device is closed.
int SearchPort(CDevice* device, bool hostOpenedLink, const DCB& dcb, const Probe& probe,
               const SearchRules& rules, CString& foundPath);

// The one-byte form: send `request`, expect `expected` back.
int SearchPortByByte(CDevice* device, bool hostOpenedLink, const DCB& dcb, BYTE request,
                     BYTE expected, const SearchRules& rules, CString& foundPath);

}  // namespace bplink::serial
