#include "support/udf_image_builder.h"

#include <cstring>
#include <utility>

namespace sm::test {

namespace {

constexpr uint32_t kSector = 2048;
constexpr uint32_t kSplitSequenceSector = 48;
constexpr uint32_t kIsoRootSector = 24;
constexpr uint32_t kIsoFileSector = 25;
const char kIsoFileData[] = "iso data";
const char kCharset[] = "OSTA Compressed Unicode";  // CS0, after its type byte 0

uint32_t blocks_for(uint64_t bytes) { return static_cast<uint32_t>((bytes + kSector - 1) / kSector); }

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}
void put64(uint8_t* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}
void put32_both(uint8_t* p, uint32_t v) {  // ISO 9660: little-endian, then big-endian
  put32(p, v);
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint16_t crc_ccitt(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ p[i] << 8);
    for (int b = 0; b < 8; ++b) {
      crc = static_cast<uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

// Fills a descriptor tag over `length` bytes of descriptor.
void put_tag(uint8_t* d, uint16_t id, uint16_t version, uint32_t location, uint32_t length) {
  put16(d, id);
  put16(d + 2, version);
  d[5] = 0;
  put16(d + 6, 1);
  uint32_t crc_length = length - 16;
  put16(d + 8, crc_ccitt(d + 16, crc_length));
  put16(d + 10, crc_length);
  put32(d + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i) {
    if (i != 4) sum = static_cast<uint8_t>(sum + d[i]);
  }
  d[4] = sum;
}

void put_timestamp(uint8_t* p, int zone_minutes, uint32_t year, uint8_t month, uint8_t day,
                   uint8_t hour, uint8_t minute, uint8_t second, uint8_t centiseconds) {
  put16(p, 0x1000 | (static_cast<uint32_t>(zone_minutes) & 0xFFF));
  put16(p + 2, year);
  p[4] = month;
  p[5] = day;
  p[6] = hour;
  p[7] = minute;
  p[8] = second;
  p[9] = centiseconds;
  p[10] = 0;
  p[11] = 0;
}
void put_write_time(uint8_t* p) { put_timestamp(p, 60, 2021, 3, 4, 5, 6, 7, 89); }
void put_creation_time(uint8_t* p) { put_timestamp(p, -120, 2020, 1, 2, 3, 4, 5, 0); }
void put_volume_time(uint8_t* p) { put_timestamp(p, 0, 2019, 6, 7, 8, 9, 10, 0); }

void put_dstring(uint8_t* p, size_t size, const std::string& text) {
  if (text.empty()) return;
  p[0] = 8;
  size_t n = text.size() < size - 2 ? text.size() : size - 2;
  if (n != 0) std::memcpy(p + 1, text.data(), n);
  p[size - 1] = static_cast<uint8_t>(n + 1);
}

void put_entity(uint8_t* p, const char* identifier) {
  std::memcpy(p + 1, identifier, std::strlen(identifier));
}

// A name as an OSTA compressed identifier: 8-bit when every character fits.
std::vector<uint8_t> encode_name(const std::string& utf8) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < utf8.size();) {
    uint8_t c = static_cast<uint8_t>(utf8[i]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = cp << 6 | (utf8[i + k] & 0x3F);
    points.push_back(cp);
    i += 1 + extra;
  }
  bool narrow = true;
  for (uint32_t cp : points) narrow = narrow && cp < 0x100;
  std::vector<uint8_t> out{static_cast<uint8_t>(narrow ? 8 : 16)};
  for (uint32_t cp : points) {
    if (narrow) {
      out.push_back(static_cast<uint8_t>(cp));
      continue;
    }
    std::vector<uint32_t> units;
    if (cp >= 0x10000) {
      units = {0xD800 + ((cp - 0x10000) >> 10), 0xDC00 + ((cp - 0x10000) & 0x3FF)};
    } else {
      units = {cp};
    }
    for (uint32_t u : units) {
      out.push_back(static_cast<uint8_t>(u >> 8));
      out.push_back(static_cast<uint8_t>(u));
    }
  }
  return out;
}

uint32_t identifier_size(size_t name_length) { return (38 + static_cast<uint32_t>(name_length) + 3) & ~3u; }

}  // namespace

// Where an entry landed, in blocks of the space that holds entries (the
// physical partition, or the metadata file).
struct UdfImageBuilder::Placement {
  uint32_t indirect_block = 0;
  uint32_t entry_block = 0;
  uint32_t data_block = 0;  // first data block; chained files: AED 1, AED 2, then data
  uint64_t size = 0;        // folder: its identifiers; file: its data
};

UdfImageBuilder::UdfImageBuilder() : UdfImageBuilder(Options()) {}

UdfImageBuilder::UdfImageBuilder(Options options) : options_(std::move(options)) {
  Entry root;
  root.folder = true;
  entries_.push_back(root);
}

int UdfImageBuilder::add_folder(int parent, const std::string& name) {
  Entry e;
  e.name = name;
  e.folder = true;
  e.parent = parent;
  entries_.push_back(e);
  int id = static_cast<int>(entries_.size() - 1);
  entries_[static_cast<size_t>(parent)].children.push_back(id);
  return id;
}

int UdfImageBuilder::add_file(int parent, const std::string& name, const std::string& data,
                              Layout layout) {
  Entry e;
  e.name = name;
  e.data = data;
  e.layout = layout;
  e.parent = parent;
  entries_.push_back(e);
  int id = static_cast<int>(entries_.size() - 1);
  entries_[static_cast<size_t>(parent)].children.push_back(id);
  return id;
}

std::vector<uint8_t> UdfImageBuilder::build() {
  const bool meta = options_.metadata_partition;
  const bool nsr3 = options_.extended_entries || meta;
  const uint16_t version = nsr3 ? 3 : 2;
  const uint16_t entry_partition = meta ? 1 : 0;

  // Lay out the entry space: file set descriptor at block 0, then each entry.
  std::vector<Placement> places(entries_.size());
  uint32_t next = 1;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    Placement& p = places[i];
    if (e.indirect) p.indirect_block = next++;
    p.entry_block = next++;
    if (e.folder) {
      p.size = identifier_size(0);
      for (int c : e.children) p.size += identifier_size(encode_name(entries_[static_cast<size_t>(c)].name).size());
    } else {
      p.size = e.data.size();
    }
    p.data_block = next;
    if (!e.folder && e.layout == Layout::kEmbedded) continue;
    if (!e.folder && e.layout == Layout::kChained) next += 2;
    next += blocks_for(p.size);
  }
  const uint32_t space_blocks = next;
  // A compact image packs everything after the recognition sequence, for a
  // fuzzing seed of a few dozen sectors.
  const bool compact = options_.compact && !options_.iso_bridge && !options_.split_sequence &&
                       !options_.anchor_at_256;
  const uint32_t kSequenceSector = compact ? 19 : 32;
  const uint32_t kSequenceLength = compact ? 4 : 16;
  const uint32_t kIntegritySector = compact ? 23 : 56;
  const uint32_t partition_start = options_.anchor_at_256 ? 257 : compact ? 25 : 64;
  // With a metadata partition, block 0 of the physical partition holds the
  // metadata file's entry and the entry space follows it.
  const uint32_t space_start = partition_start + (meta ? 1 : 0);
  const uint32_t partition_blocks = space_blocks + (meta ? 1 : 0);
  const uint32_t sector_count = partition_start + partition_blocks + (options_.anchor_at_end ? 1 : 0);

  std::vector<uint8_t> image(static_cast<size_t>(sector_count) * kSector);
  auto sector = [&](uint32_t s) { return image.data() + static_cast<size_t>(s) * kSector; };
  auto block = [&](uint32_t b) { return sector(space_start + b); };

  // Volume recognition sequence, with an ISO 9660 volume in front when asked.
  uint32_t vrs = 16;
  if (options_.iso_bridge) {
    uint8_t* pvd = sector(vrs++);
    pvd[0] = 1;
    std::memcpy(pvd + 1, "CD001", 5);
    pvd[6] = 1;
    std::memset(pvd + 40, ' ', 32);
    std::memcpy(pvd + 40, "ISOVOL", 6);
    put32_both(pvd + 80, sector_count);
    pvd[120] = 1, pvd[123] = 1, pvd[124] = 1, pvd[127] = 1;
    pvd[128] = 0, pvd[129] = 8, pvd[130] = 8, pvd[131] = 0;
    uint8_t* root = pvd + 156;
    root[0] = 34;
    put32_both(root + 2, kIsoRootSector);
    put32_both(root + 10, kSector);
    root[25] = 2;
    root[32] = 1;
    std::memset(pvd + 813, '0', 16);
    std::memset(pvd + 830, '0', 16);
    pvd[881] = 1;
    uint8_t* terminator = sector(vrs++);
    terminator[0] = 0xFF;
    std::memcpy(terminator + 1, "CD001", 5);
    terminator[6] = 1;

    uint8_t* r = sector(kIsoRootSector);
    const char* names[] = {"\0", "\1", "ISO.TXT;1"};
    for (const char* name : names) {
      size_t length = name[0] < 2 ? 1 : std::strlen(name);
      r[0] = static_cast<uint8_t>(33 + length + (length % 2 == 0 ? 1 : 0));
      bool file = length > 1;
      put32_both(r + 2, file ? kIsoFileSector : kIsoRootSector);
      put32_both(r + 10, file ? sizeof(kIsoFileData) - 1 : kSector);
      r[18] = 121, r[19] = 1, r[20] = 1;
      r[25] = file ? 0 : 2;
      r[32] = static_cast<uint8_t>(length);
      std::memcpy(r + 33, name, length);
      r += r[0];
    }
    std::memcpy(sector(kIsoFileSector), kIsoFileData, sizeof(kIsoFileData) - 1);
  }
  for (const char* id : {"BEA01", nsr3 ? "NSR03" : "NSR02", "TEA01"}) {
    uint8_t* d = sector(vrs++);
    std::memcpy(d + 1, id, 5);
    d[6] = 1;
  }

  // Volume descriptor sequence.
  uint32_t s = kSequenceSector;
  uint8_t* pvd = sector(s);
  put32(pvd + 16, 1);
  put32(pvd + 64, 1);
  put32(pvd + 68, 1);
  put_dstring(pvd + 24, 32, options_.volume_label);
  put16(pvd + 56, 1);
  put16(pvd + 58, 1);
  put16(pvd + 60, 2);
  put16(pvd + 62, 2);
  put_dstring(pvd + 72, 128, "0123456789abcdefUDFTEST");
  put_entity(pvd + 200, kCharset);
  put_entity(pvd + 264, kCharset);
  put_volume_time(pvd + 376);
  put_tag(pvd, 1, version, s, 512);
  ++s;
  if (options_.split_sequence) {
    uint8_t* vdp = sector(s);
    put32(vdp + 16, 2);
    put32(vdp + 20, 16 * kSector);
    put32(vdp + 24, kSplitSequenceSector);
    put_tag(vdp, 3, version, s, 512);
    s = kSplitSequenceSector;
  }
  uint8_t* pd = sector(s);
  put32(pd + 16, 3);
  put16(pd + 20, 1);
  put16(pd + 22, 0);
  put_entity(pd + 24, nsr3 ? "+NSR03" : "+NSR02");
  put32(pd + 184, 1);
  put32(pd + 188, partition_start);
  put32(pd + 192, partition_blocks);
  put_tag(pd, 5, version, s, 512);
  ++s;
  uint8_t* lvd = sector(s);
  put32(lvd + 16, 4);
  put_entity(lvd + 20, kCharset);
  put_dstring(lvd + 84, 128, options_.volume_label);
  put32(lvd + 212, kSector);
  put_entity(lvd + 216, "*OSTA UDF Compliant");
  put16(lvd + 216 + 24, nsr3 ? 0x0250 : 0x0201);
  put32(lvd + 248, kSector);
  put32(lvd + 252, 0);
  put16(lvd + 256, entry_partition);
  uint8_t* map = lvd + 440;
  uint32_t maps = 0;
  map[0] = 1, map[1] = 6;
  put16(map + 2, 1);
  put16(map + 4, 0);
  map += 6, ++maps;
  auto type2 = [&](const char* identifier) {
    map[0] = 2, map[1] = 64;
    std::memcpy(map + 5, identifier, std::strlen(identifier));
    put16(map + 28, 0x0250);
    put16(map + 36, 1);
    put16(map + 38, 0);
    put32(map + 40, 0);           // metadata file entry: physical block 0
    put32(map + 44, 0xFFFFFFFF);  // no mirror
    put32(map + 48, 0xFFFFFFFF);
    put32(map + 52, 32);
    put16(map + 56, 1);
    map += 64, ++maps;
  };
  if (meta) type2("*UDF Metadata Partition");
  if (options_.oversized_map_table) {
    type2("*UDF Virtual Partition");
    type2("*UDF Virtual Partition");
  }
  put32(lvd + 432, kSector);
  put32(lvd + 436, kIntegritySector);
  put32(lvd + 264, static_cast<uint32_t>(map - (lvd + 440)));
  put32(lvd + 268, maps);
  put_tag(lvd, 6, version, s, 440 + static_cast<uint32_t>(map - (lvd + 440)));
  ++s;
  put_tag(sector(s), 8, version, s, 512);

  // Logical volume integrity: closed, with the counts readers show.
  uint8_t* lvid = sector(kIntegritySector);
  put_volume_time(lvid + 16);
  put32(lvid + 28, 1);
  put32(lvid + 72, 1);
  put32(lvid + 76, 46);
  put32(lvid + 84, partition_blocks);
  uint8_t* use = lvid + 88;
  put_entity(use, "*selfmount tests");
  uint32_t files = 0;
  for (const Entry& e : entries_) files += e.folder ? 0 : 1;
  put32(use + 32, files);
  put32(use + 36, static_cast<uint32_t>(entries_.size()) - files);
  put16(use + 40, nsr3 ? 0x0250 : 0x0201);
  put16(use + 42, nsr3 ? 0x0250 : 0x0201);
  put16(use + 44, nsr3 ? 0x0250 : 0x0201);
  put_tag(lvid, 9, version, kIntegritySector, 88 + 46);
  put_tag(sector(kIntegritySector + 1), 8, version, kIntegritySector + 1, 512);

  // Anchors.
  auto anchor = [&](uint32_t at) {
    uint8_t* a = sector(at);
    put32(a + 16, kSequenceLength * kSector);
    put32(a + 20, kSequenceSector);
    put32(a + 24, kSequenceLength * kSector);
    put32(a + 28, kSequenceSector);
    put_tag(a, 2, version, at, 512);
  };
  if (options_.anchor_at_256) anchor(256);
  if (options_.anchor_at_end) anchor(sector_count - 1);

  // The metadata file: one extent over the whole entry space.
  if (meta) {
    uint8_t* fe = sector(partition_start);
    put32(fe + 20, 4);
    put16(fe + 24, 1);
    fe[27] = 250;
    put16(fe + 34, 0);  // short descriptors
    put32(fe + 48, 1);
    put64(fe + 56, static_cast<uint64_t>(space_blocks) * kSector);
    put64(fe + 64, static_cast<uint64_t>(space_blocks) * kSector);
    put64(fe + 72, space_blocks);
    put_write_time(fe + 80);
    put_write_time(fe + 92);
    put_write_time(fe + 116);
    put32(fe + 212, 8);
    put32(fe + 216, space_blocks * kSector);
    put32(fe + 220, 1);
    put_tag(fe, 266, version, 0, 224);
  }

  // File set descriptor.
  uint8_t* fsd = block(0);
  put_volume_time(fsd + 16);
  put16(fsd + 28, 3);
  put16(fsd + 30, 3);
  put32(fsd + 32, 1);
  put32(fsd + 36, 1);
  put_entity(fsd + 48, kCharset);
  put_entity(fsd + 240, kCharset);
  put_dstring(fsd + 112, 128, options_.volume_label);
  put_dstring(fsd + 304, 32, options_.file_set_label);
  put32(fsd + 400, kSector);
  put32(fsd + 404, entries_[0].indirect ? places[0].indirect_block : places[0].entry_block);
  put16(fsd + 408, entry_partition);
  put_entity(fsd + 416, "*OSTA UDF Compliant");
  put_tag(fsd, 256, version, 0, 512);
  if (!options_.file_set) fsd[4] ^= 0xFF;

  // Entries and their data.
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const Placement& p = places[i];
    if (e.indirect) {
      uint8_t* ie = block(p.indirect_block);
      put32(ie + 20, 4);
      put16(ie + 24, 1);
      ie[27] = 3;
      put32(ie + 36, kSector);
      put32(ie + 40, e.loop ? p.indirect_block : p.entry_block);
      put16(ie + 44, entry_partition);
      put_tag(ie, 259, version, p.indirect_block, 52);
    }

    // The data: a folder's identifiers or a file's bytes.
    std::vector<uint8_t> data;
    if (e.folder) {
      auto add_identifier = [&](const Entry& target, const Placement& where, uint8_t characteristics,
                                const std::vector<uint8_t>& name, bool broken) {
        size_t at = data.size();
        data.resize(at + identifier_size(name.size()));
        uint8_t* f = data.data() + at;
        put16(f + 16, 1);
        f[18] = characteristics;
        f[19] = static_cast<uint8_t>(name.size());
        put32(f + 20, kSector);
        put32(f + 24, target.indirect ? where.indirect_block : where.entry_block);
        put16(f + 28, entry_partition);
        if (!name.empty()) std::memcpy(f + 38, name.data(), name.size());
        put_tag(f, 257, version, p.data_block + static_cast<uint32_t>(at / kSector),
                identifier_size(name.size()));
        if (broken) f[4] ^= 0xFF;
      };
      size_t parent = static_cast<size_t>(e.parent);
      add_identifier(entries_[parent], places[parent], 0x0A, {}, false);
      for (int c : e.children) {
        const Entry& child = entries_[static_cast<size_t>(c)];
        add_identifier(child, places[static_cast<size_t>(c)],
                       static_cast<uint8_t>((child.folder ? 0x02 : 0) | child.characteristics),
                       encode_name(child.name), child.broken_identifier);
      }
    } else {
      data.assign(e.data.begin(), e.data.end());
    }

    // Allocation descriptors: in the entry, and in AEDs for chained files.
    const bool embedded = !e.folder && e.layout == Layout::kEmbedded;
    const bool chained = !e.folder && e.layout == Layout::kChained;
    const bool long_ads = !e.folder && (e.layout == Layout::kLong || chained);
    const uint32_t first_data = p.data_block + (chained ? 2 : 0);
    auto put_ad = [&](std::vector<uint8_t>& out, uint32_t type, uint32_t length, uint32_t at) {
      size_t k = out.size();
      out.resize(k + (long_ads ? 16 : 8));
      put32(out.data() + k, type << 30 | length);
      put32(out.data() + k + 4, at);
      if (long_ads) put16(out.data() + k + 8, entry_partition);
    };
    std::vector<uint8_t> ads;
    if (embedded) {
      ads = data;
    } else if (chained) {
      // 2048 bytes in the entry, 2048 through AED 1, the rest through AED 2.
      std::vector<uint8_t> aed1, aed2;
      put_ad(ads, 0, kSector, first_data);
      put_ad(ads, 3, 2 * 16, p.data_block);
      put_ad(aed1, 0, kSector, first_data + 1);
      put_ad(aed1, 3, e.loop ? 2 * 16 : 16, p.data_block + (e.loop ? 0 : 1));
      put_ad(aed2, 0, static_cast<uint32_t>(data.size() - 2 * kSector), first_data + 2);
      uint32_t prev = p.entry_block;
      for (int k = 0; k < 2; ++k) {
        const std::vector<uint8_t>& list = k == 0 ? aed1 : aed2;
        uint8_t* aed = block(p.data_block + k);
        put32(aed + 16, prev);
        put32(aed + 20, static_cast<uint32_t>(list.size()));
        std::memcpy(aed + 24, list.data(), list.size());
        put_tag(aed, 258, version, p.data_block + k, 24 + static_cast<uint32_t>(list.size()));
        prev = p.data_block + k;
      }
    } else if (!data.empty()) {
      // One descriptor per extent of at most 1 GiB - 2 KiB; these are small.
      put_ad(ads, 0, static_cast<uint32_t>(data.size()), first_data);
    }
    if (!embedded && !data.empty()) std::memcpy(block(first_data), data.data(), data.size());

    std::vector<uint8_t> eas;
    if (e.creation_attribute) {
      eas.resize(24 + 32);
      put32(eas.data() + 16, 24 + 32);
      put32(eas.data() + 20, 24 + 32);
      put_tag(eas.data(), 262, version, p.entry_block, 24);
      uint8_t* a = eas.data() + 24;
      put32(a, 5);
      a[4] = 1;
      put32(a + 8, 32);
      put32(a + 12, 12);
      put32(a + 16, 1);
      put_creation_time(a + 20);
    }

    uint8_t* fe = block(p.entry_block);
    const bool ext = options_.extended_entries;
    const uint32_t start = ext ? 216 : 176;
    put32(fe + 20, 4);
    put16(fe + 24, 1);
    fe[27] = e.file_type != 0 ? e.file_type : e.folder ? 4 : 5;
    if (i != 0) {
      put32(fe + 28, places[static_cast<size_t>(e.parent)].entry_block);
      put16(fe + 32, entry_partition);
    }
    put16(fe + 34, embedded ? 3 : long_ads ? 1 : 0);
    put32(fe + 48, 1);
    put64(fe + 56, data.size());
    uint64_t recorded = embedded ? 0 : blocks_for(data.size());
    if (ext) {
      put64(fe + 64, data.size());
      put64(fe + 72, recorded);
      put_write_time(fe + 80);
      put_write_time(fe + 92);
      put_creation_time(fe + 104);
      put_write_time(fe + 116);
    } else {
      put64(fe + 64, recorded);
      put_write_time(fe + 72);
      put_write_time(fe + 84);
      put_write_time(fe + 96);
    }
    put_entity(fe + (ext ? 168 : 128), "*selfmount tests");
    put64(fe + (ext ? 200 : 160), i + 16);
    put32(fe + (ext ? 208 : 168), static_cast<uint32_t>(eas.size()));
    put32(fe + (ext ? 212 : 172), static_cast<uint32_t>(ads.size()));
    if (!eas.empty()) std::memcpy(fe + start, eas.data(), eas.size());
    if (!ads.empty()) std::memcpy(fe + start + eas.size(), ads.data(), ads.size());
    put_tag(fe, ext ? 266 : 261, version, p.entry_block,
            start + static_cast<uint32_t>(eas.size() + ads.size()));
  }
  return image;
}

}  // namespace sm::test
