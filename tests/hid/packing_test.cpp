// The 7-in-8 codec: exact bytes, lengths and result codes.

#include <bplink/packing.h>
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

// Runs one codec function into a buffer with room to spare: it writes its
// computed length and not a byte more.
template <typename Code>
Bytes Run(DWORD length, int* result, Code code) {
  Bytes out(length + 4, 0xEE);
  *result = code(out.data());
  EXPECT_EQ(Bytes(out.begin() + length, out.end()), Bytes(4, 0xEE)) << "wrote past the computed length";
  out.resize(length);
  return out;
}
Bytes Pack(const Bytes& in, int* result) {
  const auto n = static_cast<DWORD>(in.size());
  return Run(PackedLength(n), result, [&](BYTE* out) { return PackData(in.data(), n, out); });
}
Bytes Unpack(const Bytes& in, int* result) {
  const auto m = static_cast<DWORD>(in.size());
  return Run(UnpackedLength(m), result, [&](BYTE* out) { return UnPackData(in.data(), m, out, UnpackedLength(m)); });
}

// Known frames both ways; then packed input that is damaged (a byte without
// bit 7 still decodes, and reports 3) or ends in a lone header, which
// carries no data and is not checked.
TEST(Packing, KnownFrames) {
  struct Case {
    Bytes plain, packed;
    int unpackResult;
    bool bothWays;
  };
  const Case cases[] = {
      {{0xFF, 0xFE, 0xFD, 0xFC}, {0x8F, 0xFF, 0xFE, 0xFD, 0xFC}, kPackOk, true},
      {{0x61, 0x62, 0x63}, {0x80, 0xE1, 0xE2, 0xE3}, kPackOk, true},
      // Bit 7 of plain byte i lands in header bit i, across a full and a short group.
      {{0x80, 0, 0, 0, 0, 0, 0x80, 0x01}, {0xC1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81}, kPackOk, true},
      {{0xFF, 0xFE, 0xFD, 0xFC}, {0x0F, 0xFF, 0xFE, 0xFD, 0xFC}, kPackBit7Missing, false},  // header bits still count
      {{0x41, 0x42, 0x43}, {0x82, 0xC1, 0x42, 0xC3}, kPackBit7Missing, false},  // header bit 1 keeps byte 1 as it is
      {Bytes(9, 0x11), {0x80, 0x91, 0x91, 0x91, 0x91, 0x91, 0x91, 0x91, 0x80, 0x91, 0x11}, kPackBit7Missing, false},
      {{1, 2, 3, 4, 5, 6, 7}, {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x00}, kPackOk, false},
  };
  for (const Case& c : cases) {
    int r = 0;
    EXPECT_EQ(Unpack(c.packed, &r), c.plain);
    EXPECT_EQ(r, c.unpackResult);
    if (!c.bothWays) continue;
    EXPECT_EQ(Pack(c.plain, &r), c.packed);
    EXPECT_EQ(r, kPackOk);
  }
}

TEST(Packing, Lengths) {
  const std::pair<DWORD, DWORD> packedLengths[] = {{0, 0}, {1, 2}, {7, 8}, {8, 10}, {10, 12}, {12, 14}, {20, 23}, {70, 80}};
  for (const auto& [n, m] : packedLengths) EXPECT_EQ(PackedLength(n), m) << n;
  const std::pair<DWORD, DWORD> unpackedLengths[] = {{0, 0}, {1, 0}, {8, 7}, {9, 7}, {10, 8}, {80, 70}};
  for (const auto& [m, n] : unpackedLengths) EXPECT_EQ(UnpackedLength(m), n) << m;
  for (DWORD n = 0; n < 2000; ++n) ASSERT_EQ(UnpackedLength(PackedLength(n)), n) << n;
}

TEST(Packing, RoundTripOfAnyBytes) {
  std::mt19937 rng(7);
  for (DWORD n = 1; n <= 200; ++n) {
    Bytes plain(n);
    for (auto& b : plain) b = static_cast<BYTE>(rng());
    int packResult = 0, unpackResult = 0;
    const Bytes packed = Pack(plain, &packResult);
    for (BYTE b : packed) ASSERT_GE(b, 0x80) << "n=" << n;
    ASSERT_EQ(Unpack(packed, &unpackResult), plain) << "n=" << n;
    ASSERT_EQ(std::pair(packResult, unpackResult), std::pair(kPackOk, kPackOk));
  }
}

TEST(Packing, NullOrEmptyInputTouchesNothing) {
  BYTE out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  const BYTE in[2] = {1, 2};
  EXPECT_EQ((std::array{PackData(nullptr, 2, out), PackData(in, 0, out), UnPackData(nullptr, 3, out, 4),
                        UnPackData(in, 0, out, 4)}),
            (std::array{kPackOk, kPackOk, kPackOk, kPackOk}));
  EXPECT_EQ(Bytes(out, out + 4), Bytes(4, 0xAA));
}

}  // namespace
