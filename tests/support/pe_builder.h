// Small PE executables built byte by byte, as carriers for packed images.
#pragma once

#include <cstdint>
#include <vector>

namespace sm::test {

struct PeOptions {
  bool pe32plus = false;
  uint32_t sections = 1;
  uint32_t section_raw_size = 512;  // each section, back to back from offset 512
  uint32_t file_alignment = 512;
  uint32_t section_alignment = 4096;
  uint32_t optional_size = 0;       // 0: 224 for PE32, 240 for PE32+
  uint32_t rva_count = 16;
};

// A minimal executable: DOS header, PE headers, `sections` sections of code
// that only returns. Its carrier end is 512 + sections * section_raw_size.
std::vector<uint8_t> build_pe(const PeOptions& options = PeOptions());

// Appends a certificate table holding one entry of `length` bytes (revision
// 0x200, type 2) at the end of `pe` (padded to 8) and points data directory 4
// at it. Returns the table's offset.
uint32_t append_certificate(std::vector<uint8_t>& pe, uint32_t length = 1024);

}  // namespace sm::test
