// mkmedia: packs a disc image into the packed image format, standalone, in
// part files, or attached to a PE stub (the launcher).
//
//   mkmedia pack IMAGE -o OUT [options]
//
// Bad input gets one message and exit code 2; a failure while writing gets
// exit code 1. Output is written under temporary names and renamed at the end,
// so an interrupted run never leaves a half-written file under a final name.
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "packed_writer.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using sm::packer::Options;

const char kUsage[] =
    "usage: mkmedia pack IMAGE -o OUT [options]\n"
    "  --block-size N          block size, a multiple of 2048 up to 4M (default 4M)\n"
    "  --compression M         none, deflate or lzma (default lzma)\n"
    "  --lzma-lc N, --lzma-lp N, --lzma-pb N   LZMA properties (default 3, 0, 2)\n"
    "  --level N               compression level 0-9 (default: lzma 5, deflate 6)\n"
    "  --digest D              none, crc32 or sha256 (default sha256)\n"
    "  --stub EXE              attach the image to this PE executable\n"
    "  --part-size N           continue in part files OUT.001, OUT.002, ... of at most N bytes\n"
    "  --plain-parts           with --stub, write part files without a cabinet stub\n"
    "                          (such media no longer loads once the executable is signed)\n"
    "  --patch POS:FILE        read the image bytes at POS as the contents of FILE\n"
    "  --image-id HEX, --set-id HEX   32 hex digits (default random)\n"
    "  --threads N             compression threads (default: all cores)\n"
    "  --quiet                 no progress\n"
    "Sizes take the suffixes K, M and G (powers of 1024).\n";

[[noreturn]] void fail_input(const std::string& message) {
  fprintf(stderr, "mkmedia: %s\n", message.c_str());
  exit(2);
}

FILE* open_file(const std::string& path, const char* mode) {
#ifdef _WIN32
  int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, w.data(), n);
  std::wstring wmode(mode, mode + strlen(mode));
  return _wfopen(w.c_str(), wmode.c_str());
#else
  return fopen(path.c_str(), mode);
#endif
}

bool seek(FILE* f, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, int64_t(offset), SEEK_SET) == 0;
#else
  return fseeko(f, off_t(offset), SEEK_SET) == 0;
#endif
}

bool file_size(FILE* f, uint64_t* size) {
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0) return false;
  int64_t s = _ftelli64(f);
#else
  if (fseeko(f, 0, SEEK_END) != 0) return false;
  int64_t s = ftello(f);
#endif
  if (s < 0) return false;
  *size = uint64_t(s);
  return true;
}

bool remove_file(const std::string& path) {
#ifdef _WIN32
  int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring w(size_t(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, w.data(), n);
  return DeleteFileW(w.c_str()) != 0;
#else
  return unlink(path.c_str()) == 0;
#endif
}

bool rename_file(const std::string& from, const std::string& to) {
#ifdef _WIN32
  auto wide = [](const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
    return w;
  };
  return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool read_whole(const std::string& path, std::vector<uint8_t>* out, std::string* why) {
  FILE* f = open_file(path, "rb");
  if (f == nullptr) {
    *why = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  uint64_t size = 0;
  bool ok = file_size(f, &size) && size < (1ull << 31) && seek(f, 0);
  if (ok) {
    out->resize(size_t(size));
    ok = size == 0 || fread(out->data(), 1, size_t(size), f) == size;
  }
  fclose(f);
  if (!ok) *why = "cannot read " + path;
  return ok;
}

bool parse_size(const std::string& text, uint64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || text[0] == '-') return false;
  uint64_t shift = 0;
  if (*end == 'K' || *end == 'k') shift = 10, ++end;
  else if (*end == 'M' || *end == 'm') shift = 20, ++end;
  else if (*end == 'G' || *end == 'g') shift = 30, ++end;
  if (*end != 0) return false;
  if (shift != 0 && v > (UINT64_MAX >> shift)) return false;
  *out = uint64_t(v) << shift;
  return true;
}

bool parse_id(const std::string& text, uint8_t out[16]) {
  if (text.size() != 32) return false;
  for (size_t i = 0; i < 16; ++i) {
    unsigned v = 0;
    for (size_t j = 0; j < 2; ++j) {
      char c = text[2 * i + j];
      unsigned d;
      if (c >= '0' && c <= '9') d = unsigned(c - '0');
      else if (c >= 'a' && c <= 'f') d = unsigned(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') d = unsigned(c - 'A' + 10);
      else return false;
      v = v * 16 + d;
    }
    out[i] = uint8_t(v);
  }
  return true;
}

void random_id(uint8_t out[16]) {
  std::random_device rd;
  for (size_t i = 0; i < 16; i += 4) {
    uint32_t v = rd();
    memcpy(out + i, &v, 4);
  }
}

uint64_t small_number(const std::string& option, const std::string& value, uint64_t low, uint64_t high) {
  uint64_t v;
  if (!parse_size(value, &v) || v < low || v > high) {
    fail_input("option " + option + " needs a number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + value + "\"");
  }
  return v;
}

// The files of one run: the image, a spool for the stored blocks and the
// output files under temporary names until everything is written.
class FileIo : public sm::packer::Io {
 public:
  FileIo(FILE* image, uint64_t size, std::string output, bool quiet)
      : image_(image), size_(size), output_(std::move(output)), quiet_(quiet),
        start_(std::chrono::steady_clock::now()) {}
  ~FileIo() override {
    if (spool_ != nullptr) fclose(spool_);
    if (current_ != nullptr) fclose(current_);
    if (!spool_name_.empty()) remove_file(spool_name_);
    if (!committed_) {
      for (auto& f : files_) remove_file(f.first);
    }
  }

  std::string final_name(uint32_t number) const {
    if (number == 0) return output_;
    char suffix[16];
    snprintf(suffix, sizeof suffix, ".%03u", number);
    return output_ + suffix;
  }

  // Temporary names keep the final name as a suffix, so that no leftover of an
  // interrupted run matches the part-file pattern "<output>.*".
  static std::string temporary_name(const std::string& final_path, const char* tag) {
    size_t slash = final_path.find_last_of("/\\");
    size_t at = slash == std::string::npos ? 0 : slash + 1;
    return final_path.substr(0, at) + ".mkmedia-" + tag + "-" + final_path.substr(at);
  }

  uint64_t image_size() override { return size_; }
  bool read_image(uint64_t offset, uint8_t* buffer, size_t length) override {
    return seek(image_, offset) && fread(buffer, 1, length, image_) == length;
  }
  bool spool_write(const uint8_t* bytes, size_t length) override {
    if (spool_ == nullptr) {
      spool_name_ = temporary_name(output_, "spool");
      spool_ = open_file(spool_name_, "w+b");
      if (spool_ == nullptr) {
        spool_name_.clear();
        return false;
      }
    }
    spool_dirty_ = true;
    return fwrite(bytes, 1, length, spool_) == length;
  }
  bool spool_read(uint64_t offset, uint8_t* buffer, size_t length) override {
    if (spool_ == nullptr) return false;
    if (spool_dirty_ && fflush(spool_) != 0) return false;
    spool_dirty_ = false;
    return seek(spool_, offset) && fread(buffer, 1, length, spool_) == length;
  }
  bool begin_file(uint32_t number) override {
    std::string name = temporary_name(final_name(number), "tmp");
    current_ = open_file(name, "wb");
    if (current_ == nullptr) return false;
    files_.emplace_back(name, final_name(number));
    return true;
  }
  bool write(const uint8_t* bytes, size_t length) override {
    return fwrite(bytes, 1, length, current_) == length;
  }
  bool end_file() override {
    bool ok = fclose(current_) == 0;
    current_ = nullptr;
    return ok;
  }
  void progress(uint64_t done, uint64_t total) override {
    if (quiet_) return;
    auto now = std::chrono::steady_clock::now();
    // Only long work shows progress, and at most a few times a second.
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(250)) {
      if (done != total || !shown_) return;
    }
    last_ = now;
    shown_ = true;
    fprintf(stderr, "\rmkmedia: packing %3u%%", unsigned(total == 0 ? 100 : done * 100 / total));
    if (done == total) fprintf(stderr, "\n");
    fflush(stderr);
  }

  bool commit() {
    for (auto& f : files_) {
      if (!rename_file(f.first, f.second)) return false;
    }
    committed_ = true;
    remove_stale_parts(uint32_t(files_.size()));
    return true;
  }

  // Part files of an earlier, longer run under the same name would be taken
  // for parts of this image if they carry the same identifiers.
  void remove_stale_parts(uint32_t first) {
    for (uint32_t n = first; n <= 999; ++n) {
      std::string name = final_name(n);
      FILE* f = open_file(name, "rb");
      if (f == nullptr) continue;
      char head[4] = {};
      bool ours = fread(head, 1, 4, f) == 4 && (memcmp(head, "ci%p", 4) == 0 || memcmp(head, "MSCF", 4) == 0);
      fclose(f);
      if (ours) remove_file(name);
    }
  }

 private:
  FILE* image_;
  uint64_t size_;
  std::string output_;
  bool quiet_;
  std::chrono::steady_clock::time_point start_, last_;
  bool shown_ = false;
  FILE* spool_ = nullptr;
  bool spool_dirty_ = false;
  std::string spool_name_;
  FILE* current_ = nullptr;
  std::vector<std::pair<std::string, std::string>> files_;
  bool committed_ = false;
};

int run(std::vector<std::string> args) {
  if (args.size() < 2 || args[1] != "pack") {
    fputs(kUsage, stderr);
    return 2;
  }
  Options o;
  o.block_size = 4u << 20;
  std::string image_path, output, stub_path;
  bool have_image_id = false, have_set_id = false, quiet = false, level_given = false;
  uint64_t level = 0;
  unsigned hw = std::thread::hardware_concurrency();
  o.threads = hw == 0 ? 1 : hw;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) fail_input("option " + a + " needs a value");
      return args[++i];
    };
    if (a == "-o" || a == "--output") {
      output = value();
    } else if (a == "--block-size") {
      std::string v = value();
      uint64_t n;
      if (!parse_size(v, &n) || n < sm::kPackedMinBlockSize || n > sm::kPackedMaxBlockSize || n % 2048 != 0) {
        fail_input("--block-size must be a multiple of 2048 from 2048 to 4M, not \"" + v + "\"");
      }
      o.block_size = uint32_t(n);
    } else if (a == "--compression") {
      std::string v = value();
      if (v == "none") o.compression = sm::kPackedCompressionNone;
      else if (v == "deflate") o.compression = sm::kPackedCompressionDeflate;
      else if (v == "lzma") o.compression = sm::kPackedCompressionLzma;
      else fail_input("--compression must be none, deflate or lzma, not \"" + v + "\"");
    } else if (a == "--digest") {
      std::string v = value();
      if (v == "none") o.digest = sm::kPackedDigestNone;
      else if (v == "crc32") o.digest = sm::kPackedDigestCrc32;
      else if (v == "sha256") o.digest = sm::kPackedDigestSha256;
      else fail_input("--digest must be none, crc32 or sha256, not \"" + v + "\"");
    } else if (a == "--lzma-lc") {
      o.lzma_lc = uint8_t(small_number(a, value(), 0, 8));
    } else if (a == "--lzma-lp") {
      o.lzma_lp = uint8_t(small_number(a, value(), 0, 4));
    } else if (a == "--lzma-pb") {
      o.lzma_pb = uint8_t(small_number(a, value(), 0, 4));
    } else if (a == "--level") {
      level = small_number(a, value(), 0, 9);
      level_given = true;
    } else if (a == "--threads") {
      o.threads = unsigned(small_number(a, value(), 1, 256));
    } else if (a == "--stub") {
      stub_path = value();
    } else if (a == "--part-size") {
      std::string v = value();
      if (!parse_size(v, &o.part_size) || o.part_size == 0) fail_input("--part-size needs a size, not \"" + v + "\"");
    } else if (a == "--plain-parts") {
      o.carrier_parts = false;
    } else if (a == "--patch") {
      std::string v = value();
      size_t colon = v.find(':');
      uint64_t pos;
      if (colon == std::string::npos || !parse_size(v.substr(0, colon), &pos)) {
        fail_input("--patch needs POS:FILE, not \"" + v + "\"");
      }
      sm::packer::Patch p;
      p.position = pos;
      std::string why;
      if (!read_whole(v.substr(colon + 1), &p.payload, &why)) fail_input(why);
      if (p.payload.empty()) fail_input("patch file " + v.substr(colon + 1) + " is empty");
      o.patches.push_back(std::move(p));
    } else if (a == "--image-id") {
      if (!parse_id(value(), o.image_id)) fail_input("--image-id needs 32 hex digits");
      have_image_id = true;
    } else if (a == "--set-id") {
      if (!parse_id(value(), o.set_id)) fail_input("--set-id needs 32 hex digits");
      have_set_id = true;
    } else if (a == "--quiet" || a == "-q") {
      quiet = true;
    } else if (!a.empty() && a[0] == '-') {
      fail_input("unknown option " + a);
    } else if (image_path.empty()) {
      image_path = a;
    } else {
      fail_input("more than one image given: " + a);
    }
  }
  if (image_path.empty()) fail_input("no image given");
  if (output.empty()) fail_input("no output given (-o OUT)");
  if (level_given) {
    o.lzma_level = int(level);
    o.deflate_level = int(level);
  }
  if (!have_image_id) random_id(o.image_id);
  if (!have_set_id) random_id(o.set_id);

  if (!stub_path.empty()) {
    std::string why;
    if (!read_whole(stub_path, &o.stub, &why)) fail_input(why);
    sm::CarrierInfo info;
    sm::packed_carrier_scan(o.stub.data(), o.stub.size(), o.stub.size(), nullptr, nullptr, &info);
    if (info.kind != sm::CarrierKind::kPe) fail_input(stub_path + " is not a PE executable");
    if (info.cert_start != 0) fail_input(stub_path + " is signed; attach the image first and sign afterwards");
    if (info.carrier_end > o.stub.size()) fail_input(stub_path + " is shorter than its sections say");
    // Whatever follows the last section (symbols, an old overlay) gives way to the image.
    o.stub.resize(size_t(info.carrier_end));
    if (o.part_size != 0 && o.carrier_parts && o.digest != sm::kPackedDigestSha256) {
      fail_input("a media executable in parts needs --digest sha256 to load once it is signed");
    }
  }

  FILE* image = open_file(image_path, "rb");
  if (image == nullptr) fail_input("cannot open " + image_path + ": " + strerror(errno));
  uint64_t size = 0;
  if (!file_size(image, &size)) fail_input("cannot read " + image_path);
  std::string message;
  if (!sm::packer::validate(o, size, &message)) fail_input(image_path + ": " + message);

  int rc = 0;
  {
    FileIo io(image, size, output, quiet);
    if (!sm::packer::write_packed_image(o, io, &message)) {
      fprintf(stderr, "mkmedia: %s\n", message.c_str());
      rc = 1;
    } else if (!io.commit()) {
      fprintf(stderr, "mkmedia: cannot rename the output into place: %s\n", strerror(errno));
      rc = 1;
    }
  }
  fclose(image);
  return rc;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, s.data(), n, nullptr, nullptr);
    s.resize(strlen(s.c_str()));
    args.push_back(s);
  }
  return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv, argv + argc)); }
#endif
