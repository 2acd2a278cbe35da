// The 7-in-8 codec. One pass, in the caller's buffers, no allocation.

#include <bplink/packing.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr BYTE kBit7 = 0x80;
constexpr BYTE kLow7 = 0x7F;

// Packs one group of `count` (1..7) plain bytes: the header carries bit 7 of
// plain byte i in its bit i, then the bytes follow with bit 7 forced on.
// Returns the packed bytes written.
DWORD PackGroup(const BYTE* plain, DWORD count, BYTE* out) {
  BYTE header = kBit7;
  for (DWORD i = 0; i < count; ++i) {
    header |= static_cast<BYTE>((plain[i] >> (7 - i)) & (1u << i));
    out[i + 1] = static_cast<BYTE>(plain[i] | kBit7);
  }
  out[0] = header;
  return count + 1;
}

// Unpacks one group: a header and `count` (1..7) data bytes. A byte without
// bit 7 marks the frame as damaged but is still decoded, so the caller gets
// complete output either way. Returns false when such a byte was met.
bool UnpackGroup(const BYTE* packed, DWORD count, BYTE* out) {
  const BYTE header = packed[0];
  bool intact = (header & kBit7) != 0;
  for (DWORD i = 0; i < count; ++i) {
    const BYTE data = packed[i + 1];
    intact = intact && (data & kBit7) != 0;
    out[i] = (header >> i) & 1u ? data : static_cast<BYTE>(data & kLow7);
  }
  return intact;
}

}  // namespace

extern "C" BPLINK_API int BPLINK_CALL PackData(const BYTE* src, DWORD n, BYTE* dst) {
  if (src == nullptr || n == 0) return kPackOk;
  const DWORD expected = PackedLength(n);
  std::memset(dst, 0, expected);

  DWORD produced = 0;
  DWORD consumed = 0;
  while (consumed < n) {
    const DWORD count = n - consumed < kPackGroupPlain ? n - consumed : kPackGroupPlain;
    produced += PackGroup(src + consumed, count, dst + produced);
    consumed += count;
  }
  // Every produced byte has bit 7 by construction, so the only failure left
  // is a length disagreement, which would be a bug in PackedLength.
  return produced == expected ? kPackOk : kPackLengthMismatch;
}

extern "C" BPLINK_API int BPLINK_CALL UnPackData(const BYTE* src, DWORD m, BYTE* dst,
                                                 DWORD /*dstSize*/) {
  const DWORD expected = UnpackedLength(m);
  if (src == nullptr || m == 0) return kPackOk;
  // A lone header unpacks to nothing, and a host may pass no buffer for it.
  std::fill_n(dst, expected, BYTE{0});

  int result = kPackOk;
  DWORD produced = 0;
  DWORD read = 0;
  // Full groups of a header and seven data bytes, then a last group of a
  // header and 1..6 data bytes. A lone trailing header carries no data and is
  // neither checked nor decoded.
  while (m - read >= 2) {
    const DWORD count = m - read >= kPackGroupPacked ? kPackGroupPlain : m - read - 1;
    if (!UnpackGroup(src + read, count, dst + produced)) result = kPackBit7Missing;
    produced += count;
    read += count + 1;
  }
  return produced == expected ? result : kPackLengthMismatch;
}
