// The 7-in-8 codec of every HID payload.
//
// Plain bytes travel in groups of up to seven, each group led by a header
// byte that carries the groups' bit 7s, so that every byte on the wire has
// bit 7 set. PackData and UnPackData are plain C exports so any host can call
// them; the length functions size frames and buffers.
#pragma once

#include <bplink/export.h>
#include <bplink/wintypes.h>

// Result codes of PackData and UnPackData.
inline constexpr int kPackOk = 1;             // also: null source or zero length, nothing written
inline constexpr int kPackLengthMismatch = 2; // bytes produced differ from the computed length
inline constexpr int kPackBit7Missing = 3;    // a byte lacked bit 7; the output is still complete

inline constexpr DWORD kPackGroupPlain = 7;   // plain bytes per group
inline constexpr DWORD kPackGroupPacked = 8;  // packed bytes per full group

// Packed size of n plain bytes.
constexpr DWORD PackedLength(DWORD n) {
  const DWORD rest = n % kPackGroupPlain;
  return kPackGroupPacked * (n / kPackGroupPlain) + (rest ? rest + 1 : 0);
}

// Plain size of m packed bytes; a trailing header without data counts 0.
constexpr DWORD UnpackedLength(DWORD m) {
  const DWORD rest = m % kPackGroupPacked;
  return kPackGroupPlain * (m / kPackGroupPacked) + (rest > 1 ? rest - 1 : 0);
}

extern "C" {

// Packs n plain bytes from src into dst, which holds PackedLength(n) bytes.
BPLINK_API int BPLINK_CALL PackData(const BYTE* src, DWORD n, BYTE* dst);

// Unpacks m packed bytes from src into dst, which holds UnpackedLength(m)
// bytes. dstSize is accepted for the callers' sake and not read: the output
// length follows from m alone.
BPLINK_API int BPLINK_CALL UnPackData(const BYTE* src, DWORD m, BYTE* dst, DWORD dstSize);

}  // extern "C"
