// The 7-in-8 codec: exact bytes, lengths and result codes.

#include <bplink/packing.h>
#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Pack(const Bytes& plain, int* result = nullptr) {
  Bytes out(PackedLength(static_cast<DWORD>(plain.size())) + 4, 0xEE);
  const int r = PackData(plain.data(), static_cast<DWORD>(plain.size()), out.data());
  if (result) *result = r;
  EXPECT_EQ(out.back(), 0xEE) << "wrote past PackedLength";
  out.resize(out.size() - 4);
  return out;
}

Bytes Unpack(const Bytes& packed, int* result) {
  Bytes out(UnpackedLength(static_cast<DWORD>(packed.size())) + 4, 0xEE);
  *result = UnPackData(packed.data(), static_cast<DWORD>(packed.size()), out.data(),
                       static_cast<DWORD>(out.size()));
  EXPECT_EQ(out.back(), 0xEE) << "wrote past UnpackedLength";
  out.resize(out.size() - 4);
  return out;
}

TEST(Packing, KnownFrames) {
  int r = 0;
  EXPECT_EQ(Pack({0xFF, 0xFE, 0xFD, 0xFC}, &r), (Bytes{0x8F, 0xFF, 0xFE, 0xFD, 0xFC}));
  EXPECT_EQ(r, kPackOk);
  EXPECT_EQ(Pack({0x61, 0x62, 0x63}), (Bytes{0x80, 0xE1, 0xE2, 0xE3}));
  // Bit 7 of plain byte i lands in header bit i, across a full and a short group.
  EXPECT_EQ(Pack({0x80, 0, 0, 0, 0, 0, 0x80, 0x01}),
            (Bytes{0xC1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81}));
}

TEST(Packing, Lengths) {
  EXPECT_EQ(PackedLength(0), 0u);
  EXPECT_EQ(PackedLength(1), 2u);
  EXPECT_EQ(PackedLength(7), 8u);
  EXPECT_EQ(PackedLength(8), 10u);
  EXPECT_EQ(PackedLength(10), 12u);
  EXPECT_EQ(PackedLength(12), 14u);
  EXPECT_EQ(PackedLength(20), 23u);
  EXPECT_EQ(PackedLength(70), 80u);
  EXPECT_EQ(UnpackedLength(0), 0u);
  EXPECT_EQ(UnpackedLength(1), 0u);
  EXPECT_EQ(UnpackedLength(8), 7u);
  EXPECT_EQ(UnpackedLength(9), 7u);
  EXPECT_EQ(UnpackedLength(10), 8u);
  EXPECT_EQ(UnpackedLength(80), 70u);
  for (DWORD n = 0; n < 2000; ++n) ASSERT_EQ(UnpackedLength(PackedLength(n)), n) << n;
}

TEST(Packing, RoundTripOfAnyBytes) {
  std::mt19937 rng(7);
  for (DWORD n = 1; n <= 200; ++n) {
    Bytes plain(n);
    for (auto& b : plain) b = static_cast<BYTE>(rng());
    int packResult = 0, unpackResult = 0;
    const Bytes packed = Pack(plain, &packResult);
    ASSERT_EQ(packResult, kPackOk);
    for (BYTE b : packed) ASSERT_GE(b, 0x80) << "n=" << n;
    ASSERT_EQ(Unpack(packed, &unpackResult), plain) << "n=" << n;
    ASSERT_EQ(unpackResult, kPackOk);
  }
}

TEST(Packing, DamagedHeaderStillDecodesAndReports3) {
  Bytes packed = Pack({0xFF, 0xFE, 0xFD, 0xFC});
  packed[0] = 0x0F;  // the header lost its bit 7; its other bits still count
  int r = 0;
  EXPECT_EQ(Unpack(packed, &r), (Bytes{0xFF, 0xFE, 0xFD, 0xFC}));
  EXPECT_EQ(r, kPackBit7Missing);
}

TEST(Packing, DamagedDataByteIsCopiedWhenItsHeaderBitIsSet) {
  int r = 0;
  // Header bit 1 set: data byte 1 keeps its (missing) bit 7 as it is.
  EXPECT_EQ(Unpack({0x82, 0xC1, 0x42, 0xC3}, &r), (Bytes{0x41, 0x42, 0x43}));
  EXPECT_EQ(r, kPackBit7Missing);
  // A damaged byte in a later group is found as well.
  Bytes packed = Pack(Bytes(12, 0x11));
  packed[10] = 0x11;
  Unpack(packed, &r);
  EXPECT_EQ(r, kPackBit7Missing);
}

TEST(Packing, LoneTrailingHeaderIsIgnored) {
  Bytes packed = Pack({1, 2, 3, 4, 5, 6, 7});
  packed.push_back(0x00);  // would be a damaged header, but carries no data
  int r = 0;
  EXPECT_EQ(Unpack(packed, &r), (Bytes{1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(r, kPackOk);
}

TEST(Packing, NullOrEmptyInputTouchesNothing) {
  BYTE out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  const BYTE in[2] = {1, 2};
  EXPECT_EQ(PackData(nullptr, 2, out), kPackOk);
  EXPECT_EQ(PackData(in, 0, out), kPackOk);
  EXPECT_EQ(UnPackData(nullptr, 3, out, 4), kPackOk);
  EXPECT_EQ(UnPackData(in, 0, out, 4), kPackOk);
  for (BYTE b : out) EXPECT_EQ(b, 0xAA);
}

}  // namespace
