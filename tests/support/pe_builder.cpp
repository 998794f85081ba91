#include "support/pe_builder.h"

#include <cstring>

namespace sm::test {

namespace {

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

constexpr size_t kPe = 64;

size_t data_directories(const std::vector<uint8_t>& b) {
  size_t opt = kPe + 24;
  return opt + (b[opt] == 0x0B && b[opt + 1] == 0x02 ? 112 : 96);
}

}  // namespace

std::vector<uint8_t> build_pe(const PeOptions& o) {
  const uint32_t optional_size = o.optional_size != 0 ? o.optional_size : (o.pe32plus ? 240 : 224);
  const uint32_t raw_start = 512;
  std::vector<uint8_t> b(raw_start + size_t(o.sections) * o.section_raw_size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 60, kPe);
  memcpy(&b[kPe], "PE\0\0", 4);
  put16(b, kPe + 4, o.pe32plus ? 0x8664 : 0x14C);
  put16(b, kPe + 6, o.sections);
  put16(b, kPe + 20, optional_size);
  put16(b, kPe + 22, o.pe32plus ? 0x22 : 0x102);
  size_t opt = kPe + 24;
  put16(b, opt, o.pe32plus ? 0x20B : 0x10B);
  put32(b, opt + 16, o.section_alignment);  // entry point: start of the first section
  if (o.pe32plus) {
    put32(b, opt + 24, 0x00400000);
  } else {
    put32(b, opt + 28, 0x00400000);
  }
  put32(b, opt + 32, o.section_alignment);
  put32(b, opt + 36, o.file_alignment);
  put16(b, opt + 40, 4);  // operating system version
  put16(b, opt + 48, 4);  // subsystem version
  put32(b, opt + 56, o.section_alignment * (o.sections + 1));  // size of image
  put32(b, opt + 60, raw_start);                               // size of headers
  put16(b, opt + 68, 3);                                       // console subsystem
  put32(b, opt + (o.pe32plus ? 108 : 92), o.rva_count);
  size_t table = opt + optional_size;
  for (uint32_t i = 0; i < o.sections; ++i) {
    size_t s = table + size_t(i) * 40;
    memcpy(&b[s], ".text\0\0\0", 8);
    put32(b, s + 8, o.section_raw_size);
    put32(b, s + 12, o.section_alignment * (i + 1));
    put32(b, s + 16, o.section_raw_size);
    put32(b, s + 20, raw_start + i * o.section_raw_size);
    put32(b, s + 36, 0x60000020);  // code, execute, read
  }
  if (o.sections > 0) b[raw_start] = 0xC3;  // ret
  return b;
}

uint32_t append_certificate(std::vector<uint8_t>& pe, uint32_t length) {
  pe.resize((pe.size() + 7) / 8 * 8, 0);
  uint32_t offset = uint32_t(pe.size());
  uint32_t padded = (length + 7) / 8 * 8;
  pe.resize(pe.size() + padded, 0);
  put32(pe, offset, length);
  put16(pe, offset + 4, 0x200);
  put16(pe, offset + 6, 2);
  size_t dirs = data_directories(pe);
  put32(pe, dirs + 32, offset);
  put32(pe, dirs + 36, padded);
  (void)get32;
  return offset;
}

}  // namespace sm::test
