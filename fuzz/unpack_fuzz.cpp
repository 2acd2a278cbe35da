// The 7-in-8 decoder on any bytes, into a buffer of exactly the size it is
// documented to fill; and any plain bytes packed and unpacked come back as
// they were.
#include <bplink/packing.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto length = static_cast<DWORD>(size);
  std::vector<BYTE> plain(UnpackedLength(length));
  UnPackData(data, length, plain.data(), static_cast<DWORD>(plain.size()));

  std::vector<BYTE> packed(PackedLength(length));
  if (PackData(data, length, packed.data()) != kPackOk) std::abort();
  std::vector<BYTE> back(UnpackedLength(static_cast<DWORD>(packed.size())));
  if (UnPackData(packed.data(), static_cast<DWORD>(packed.size()), back.data(),
                 static_cast<DWORD>(back.size())) != kPackOk ||
      back != std::vector<BYTE>(data, data + size))
    std::abort();
  return 0;
}
