// mediatool: inspects any image the launcher can open (a raw ISO 9660/UDF
// image, a packed image, a media .exe) without running anything.
//
//   mediatool info IMAGE            container, image size, volumes and root
//   mediatool ls IMAGE [PATH] [-r]  kind, size, times and name of entries
//   mediatool cat IMAGE PATH        a file's bytes on standard output
//   mediatool verify IMAGE          reads the whole image, checking digests
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "container/packed_files.h"
#include "container/packed_format.h"
#include "container/registry.h"
#include "container/sector_device.h"
#include "media/media_volume.h"
#include "media/password_provider.h"
#include "os/handle.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sm {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitCorrupt = 1;  // verify: the image is damaged or incomplete
constexpr int kExitError = 2;

const char* ErrorText(ErrorCode error) {
  switch (error) {
    case kErrorFileNotFound: return "file not found";
    case kErrorPathNotFound: return "path not found";
    case kErrorAccessDenied: return "access denied";
    case kErrorBadFormat: return "bad format or corrupt data";
    case kErrorOutOfMemory: return "out of memory";
    case kErrorEndOfFile: return "unexpected end of file (missing or short data)";
    case kErrorInvalidParameter: return "invalid parameter";
    case kErrorInvalidName: return "invalid name";
    case kErrorUnknownRevision: return "unsupported version or method";
    default: return "error";
  }
}

int Fail(ErrorCode error, const char* what, const std::string& subject) {
  fprintf(stderr, "mediatool: %s %s: error %u (%s)\n", what, subject.c_str(), static_cast<unsigned>(error),
          ErrorText(error));
  return kExitError;
}

int Usage(const char* problem) {
  fprintf(stderr,
          "mediatool: %s; usage: mediatool info IMAGE | ls IMAGE [PATH] [-r] | cat IMAGE PATH | verify IMAGE\n",
          problem);
  return kExitError;
}

std::string ToUtf8(const char16_t* text) {
  if (text == nullptr) return {};
  size_t const length = TextLen(text);
  std::string out(length * 3 + 1, '\0');
  WideToUtf8(out.data(), out.size(), text, length);
  out.resize(strlen(out.c_str()));
  return out;
}

// "YYYY-MM-DD hh:mm:ss" in UTC, or "-" when the time was not recorded.
std::string FormatTime(uint64_t file_time) {
  if (file_time == 0) return "-";
  uint64_t seconds = file_time / 10000000;
  uint64_t days = seconds / 86400;
  uint32_t const in_day = static_cast<uint32_t>(seconds % 86400);
  // Days since 1600-03-01, in 400-year cycles of a year that starts in March.
  days += 306;
  uint64_t const era = days / 146097;
  uint64_t const day_of_era = days % 146097;
  uint64_t const year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  uint64_t const day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  uint64_t const month_index = (5 * day_of_year + 2) / 153;
  unsigned const day = static_cast<unsigned>(day_of_year - (153 * month_index + 2) / 5 + 1);
  unsigned const month = static_cast<unsigned>(month_index < 10 ? month_index + 3 : month_index - 9);
  unsigned long long const year = 1600 + era * 400 + year_of_era + (month <= 2 ? 1 : 0);
  char text[48];
  snprintf(text, sizeof text, "%04llu-%02u-%02u %02u:%02u:%02u", year, month, day, in_day / 3600,
           in_day / 60 % 60, in_day % 60);
  return text;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name.push_back(c);
    }
  }
  if (!name.empty()) names.push_back(name);
  return names;
}

std::string JoinPath(const std::vector<std::string>& names) {
  std::string path;
  for (std::string const& name : names) path += (path.empty() ? "" : "/") + name;
  return path;
}

class Tool {
 public:
  Tool(MediaVolume* volume, SectorDevice* device) : volume_(volume), device_(device) {}
  ~Tool() { volume_->release(); }

  ErrorCode open(const std::vector<std::string>& names, MediaOpenResult* result) {
    std::vector<NameSlot> slots;
    for (std::string const& name : names) {
      slots.push_back({nullptr, 0, name.data(), static_cast<uint32_t>(name.size())});
    }
    return volume_->open_path(slots.data(), static_cast<uint32_t>(slots.size()), ++next_handle_, result, nullptr);
  }
  void close(uint64_t handle) { volume_->close_handle(handle, kMediaCloseAll); }

  struct Child {
    std::string name;
    MediaEntry entry;
  };
  ErrorCode list(uint64_t handle, std::vector<Child>* children) {
    class Sink final : public EntrySink {
     public:
      explicit Sink(std::vector<Child>* out) : out_(out) {}
      bool on_entry(const MediaEntry& entry, const char* name, bool* more) override {
        out_->push_back({name, entry});
        *more = true;
        return true;
      }
      void on_end() override { ended = true; }
      bool ended = false;

     private:
      std::vector<Child>* out_;
    } sink(children);
    uint64_t const listing = ++next_handle_;
    ErrorCode error = kOk;
    while (error == kOk && !sink.ended) error = volume_->enumerate(handle, listing, &sink);
    volume_->end_enumeration(handle, listing);
    return error;
  }

  int info(const std::string& image, const std::u16string& image_path);
  int ls(const std::vector<std::string>& names, bool recursive);
  int cat(const std::vector<std::string>& names);
  int verify();

 private:
  void print_entry(const MediaEntry& entry, const std::string& path) {
    printf("%c %12llu %-19s %-19s %s\n", entry.kind == kMediaKindFolder ? 'd' : 'f',
           static_cast<unsigned long long>(entry.size), FormatTime(entry.creation_time).c_str(),
           FormatTime(entry.last_write_time).c_str(), path.c_str());
  }
  ErrorCode list_tree(const std::vector<std::string>& names, const std::string& prefix, bool recursive);

  void print_container(const std::u16string& image_path);

  MediaVolume* volume_;
  SectorDevice* device_;  // owned by the volume
  uint64_t next_handle_ = 0;
};

ErrorCode Tool::list_tree(const std::vector<std::string>& names, const std::string& prefix, bool recursive) {
  MediaOpenResult opened{};
  ErrorCode error = open(names, &opened);
  if (error != kOk) return error;
  std::vector<Child> children;
  error = list(opened.handle, &children);
  close(opened.handle);
  for (Child const& child : children) {
    std::string const path = prefix.empty() ? child.name : prefix + "/" + child.name;
    print_entry(child.entry, path);
    // The extractor stops at 50 levels; so does a listing, as a directory
    // may name one of its ancestors.
    if (recursive && child.entry.kind == kMediaKindFolder && names.size() < 50) {
      std::vector<std::string> sub = names;
      sub.push_back(child.name);
      ErrorCode const sub_error = list_tree(sub, path, true);
      if (sub_error != kOk && error == kOk) error = sub_error;
    }
  }
  return error;
}

int Tool::ls(const std::vector<std::string>& names, bool recursive) {
  MediaOpenResult opened{};
  ErrorCode error = open(names, &opened);
  if (error != kOk) return Fail(error, "cannot open", names.empty() ? "/" : JoinPath(names));
  close(opened.handle);
  if (opened.entry.kind != kMediaKindFolder) {
    print_entry(opened.entry, names.empty() ? "" : names.back());
    return kExitOk;
  }
  error = list_tree(names, "", recursive);
  if (error != kOk) return Fail(error, "cannot list", JoinPath(names));
  return kExitOk;
}

int Tool::cat(const std::vector<std::string>& names) {
  MediaOpenResult opened{};
  ErrorCode error = open(names, &opened);
  if (error != kOk) return Fail(error, "cannot open", JoinPath(names));
  if (opened.entry.kind != kMediaKindFile) {
    close(opened.handle);
    return Fail(kErrorInvalidParameter, "cannot read folder", JoinPath(names));
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<uint8_t> buffer(262144);
  uint64_t offset = 0;
  while (offset < opened.entry.size) {
    uint32_t got = 0;
    error = volume_->read(opened.handle, offset, buffer.data(), static_cast<uint32_t>(buffer.size()), &got);
    if (got != 0 && fwrite(buffer.data(), 1, got, stdout) != got) {
      close(opened.handle);
      return Fail(kErrorDiskFull, "cannot write", "standard output");
    }
    offset += got;
    if (error != kOk || got == 0) break;
  }
  close(opened.handle);
  if (error != kOk) return Fail(error, "cannot read", JoinPath(names));
  if (offset < opened.entry.size) return Fail(kErrorEndOfFile, "cannot read", JoinPath(names));
  return fflush(stdout) == 0 ? kExitOk : Fail(kErrorDiskFull, "cannot write", "standard output");
}

class StderrProgress final : public ProgressSink {
 public:
  uint8_t report_progress(uint64_t done, uint64_t total) override {
    unsigned const percent = static_cast<unsigned>(done * 100 / (total == 0 ? 1 : total));
    if (percent != last_) fprintf(stderr, "\rverifying: %3u%%", percent);
    last_ = percent;
    return 0;
  }
  void finish_progress() override {
    if (last_ != ~0u) fputc('\n', stderr);
  }
  void complete() {
    if (last_ != ~0u) fprintf(stderr, "\rverifying: 100%%");
  }

 private:
  unsigned last_ = ~0u;
};

int Tool::verify() {
  StderrProgress progress;
  ErrorCode const error = volume_->verify(&progress);
  if (error == kOk) progress.complete();
  progress.finish_progress();
  uint64_t size = 0;
  volume_->image_size(&size);
  if (error != kOk) {
    fprintf(stderr, "mediatool: image is corrupt or incomplete: error %u (%s)\n", static_cast<unsigned>(error),
            ErrorText(error));
    return kExitCorrupt;
  }
  printf("image intact: %llu bytes verified\n", static_cast<unsigned long long>(size));
  return kExitOk;
}

// Which format accepted the file: the registry offers it to the raw image
// probe first, then to the packed image probe.
enum class ContainerKind { kUnknown, kRaw, kPacked };

ContainerKind KindOf(const std::u16string& image_path) {
  FileHandle handle = kInvalidFileHandle;
  if (packed_files::open(image_path.c_str(), packed_files::kReadShared, &handle) != kOk) return ContainerKind::kUnknown;
  uint32_t const header_size = container_header_size();
  std::vector<uint8_t> header(header_size > kRawImageHeaderSize ? header_size : kRawImageHeaderSize);
  uint32_t got = 0;
  ContainerKind kind = ContainerKind::kUnknown;
  if (packed_files::read_at(handle, 0, header.data(), static_cast<uint32_t>(header.size()), &got) == kOk) {
    SectorDevice* probed = nullptr;
    if (raw_image_probe(&probed, image_path.c_str(), handle, header.data(), got) == kOk) {
      kind = ContainerKind::kRaw;
    } else if (packed_image_probe(&probed, image_path.c_str(), handle, header.data(), got) == kOk) {
      kind = ContainerKind::kPacked;
    }
    if (probed != nullptr) probed->release();
  }
  packed_files::close(handle);
  return kind;
}

const char* CompressionName(uint8_t method) {
  switch (method) {
    case kPackedCompressionNone: return "stored";
    case kPackedCompressionDeflate: return "deflate";
    case kPackedCompressionLzma: return "LZMA";
    default: return "unknown";
  }
}

const char* DigestName(uint8_t method) {
  switch (method) {
    case kPackedDigestNone: return "none";
    case kPackedDigestCrc32: return "CRC-32";
    case kPackedDigestSha256: return "SHA-256";
    default: return "unknown";
  }
}

void Tool::print_container(const std::u16string& image_path) {
  ContainerKind const kind = KindOf(image_path);
  if (kind != ContainerKind::kPacked) {
    printf("container: %s\n", kind == ContainerKind::kRaw ? "raw image" : "unknown");
    return;
  }
  PackedImageSummary summary{};
  packed_image_summary(device_, &summary);
  printf("container: packed image\n");
  printf("blocks: %llu of %u bytes\n", static_cast<unsigned long long>(summary.block_count), summary.block_size);
  printf("compression: %s\n", CompressionName(summary.compression_method));
  printf("digest: %s\n", DigestName(summary.digest_method));
  printf("parts: %u%s\n", summary.part_count, summary.missing_parts != 0 ? " (some missing)" : "");
  for (uint32_t i = 0; i < summary.part_count; ++i) {
    const char16_t* part = packed_image_part_path(device_, i);
    printf("  part %u: %s\n", i, part != nullptr ? ToUtf8(part).c_str() : "(missing)");
  }
}

int Tool::info(const std::string& image, const std::u16string& image_path) {
  uint64_t size = 0;
  volume_->image_size(&size);
  printf("image: %s\n", image.c_str());
  print_container(image_path);
  printf("image size: %llu bytes (%llu sectors)\n", static_cast<unsigned long long>(size),
         static_cast<unsigned long long>(size / 2048));
  MediaOpenResult root{};
  bool const has_root = open({}, &root) == kOk;
  MediaOpenResult media{};
  ErrorCode error = open({".$media"}, &media);
  std::vector<Child> children;
  if (error == kOk) error = list(media.handle, &children);
  if (error != kOk) return Fail(error, "cannot list", ".$media");
  printf("volumes:\n");
  for (Child const& child : children) {
    MediaOpenResult opened{};
    if (open({".$media", child.name}, &opened) != kOk) continue;
    if (child.entry.kind == kMediaKindFile) {
      printf("  %-20s file, %llu bytes\n", child.name.c_str(), static_cast<unsigned long long>(opened.entry.size));
      continue;
    }
    uint64_t time = 0;
    char16_t* label = nullptr;
    volume_->volume_info(opened.handle, &time, &label);
    printf("  %-20s label \"%s\", recorded %s, modified %s%s\n", child.name.c_str(), ToUtf8(label).c_str(),
           FormatTime(time).c_str(), FormatTime(opened.entry.last_write_time).c_str(),
           has_root && opened.handle == root.handle ? " (root)" : "");
    volume_->free_buffer(label);
  }
  if (!has_root) printf("root: none (no file system found)\n");
  return kExitOk;
}

int Run(const std::vector<std::string>& args, const std::u16string& image_path) {
  if (args.empty()) return Usage("no command");
  if (args.size() < 2) return Usage("no image");
  std::string const& command = args[0];
  std::string const& image = args[1];
  std::vector<std::string> rest(args.begin() + 2, args.end());
  bool recursive = false;
  std::string path;
  int paths = 0;
  for (std::string const& arg : rest) {
    if (arg == "-r" && command == "ls") {
      recursive = true;
    } else {
      path = arg;
      ++paths;
    }
  }
  bool const known = command == "info" || command == "ls" || command == "cat" || command == "verify";
  if (!known) return Usage("unknown command");
  bool const takes_path = command == "ls" || command == "cat";
  if (paths > 1 || (!takes_path && paths != 0)) return Usage("too many arguments");
  if (command == "cat" && paths == 0) return Usage("no path of a file to read");

  // mount_media_volume, keeping the device for the container's details.
  SectorDevice* device = nullptr;
  MediaVolume* volume = nullptr;
  ErrorCode error = open_container(&device, image_path.c_str(), kInvalidFileHandle, nullptr, 0);
  if (error == kOk) {
    PasswordProvider passwords(kInvalidFileHandle, kInvalidFileHandle);
    error = device->load(&passwords);
    passwords.forget_password();
    if (error != kOk) device->release();
  }
  if (error == kOk) error = mount_media_device(&volume, device);
  if (error != kOk) {
    int const code = Fail(error, "cannot mount", image);
    // A damaged or incomplete image is what verify reports as such.
    bool const corrupt = error == kErrorBadFormat || error == kErrorEndOfFile || error == kErrorUnknownRevision;
    return command == "verify" && corrupt ? kExitCorrupt : code;
  }
  Tool tool(volume, device);
  if (command == "info") return tool.info(image, image_path);
  if (command == "ls") return tool.ls(SplitPath(path), recursive);
  if (command == "cat") return tool.cat(SplitPath(path));
  return tool.verify();
}

}  // namespace
}  // namespace sm

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16");
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(sm::ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  std::u16string image = argc > 2 ? reinterpret_cast<const char16_t*>(argv[2]) : u"";
  return sm::Run(args, image);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::u16string image;
  if (argc > 2) {
    // The file layer takes full paths in the Windows form: /tmp/x is \tmp\x.
    std::string path = argv[2];
    if (path.empty() || path[0] != '/') {
      char* cwd = getcwd(nullptr, 0);
      path = std::string(cwd != nullptr ? cwd : "") + "/" + path;
      free(cwd);
    }
    image.resize(path.size() + 1);
    image.resize(sm::Utf8ToWide(image.data(), image.size(), path.c_str(), path.size()));
    for (char16_t& c : image) {
      if (c == u'/') c = u'\\';
    }
  }
  return sm::Run(args, image);
}
#endif
