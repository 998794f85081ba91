// Packed images made by the real tools: disc images from xorriso, packed by
// the mkmedia program, signed with osslsigncode, and read back through the
// device. These run Linux programs, so they are host-only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "container/packed_test_util.h"
#include "support/pe_builder.h"
#include "support/temp_folder.h"

namespace sm {
namespace {

using test::DeviceHolder;
namespace fs = std::filesystem;

#ifndef _WIN32

int run(const std::string& command) {
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string quote(const fs::path& p) { return "'" + p.string() + "'"; }

// One folder for the whole suite: an ISO made by xorriso, a stub and a certificate.
class PackedTools : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (run("(command -v xorriso && command -v osslsigncode && command -v openssl)") != 0) return;
    folder_ = new test::TempFolder();
    fs::path tree = folder_->path() / "tree";
    fs::create_directories(tree / "sub");
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
    test::write_bytes(tree / "sub" / "text.txt", std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<uint8_t> noise(150000);
    uint32_t x = 1;
    for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
    test::write_bytes(tree / "noise.bin", noise);
    iso_ = folder_->path() / "disc.iso";
    ready_ = run("xorriso -as mkisofs -quiet -J -R -o " + quote(iso_) + " " + quote(tree)) == 0 &&
             run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=selfmount-test -keyout " +
                 quote(folder_->path() / "key.pem") + " -out " + quote(folder_->path() / "cert.pem")) == 0;
    test::write_bytes(folder_->path() / "stub.exe", test::build_pe());
    image_ = test::read_bytes(iso_);
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!ready_) GTEST_SKIP() << "xorriso, openssl or osslsigncode is not installed";
  }

  static int mkmedia(const std::string& arguments) {
    return run(std::string(SELFMOUNT_MKMEDIA) + " pack " + quote(iso_) + " -q --level 1 " + arguments);
  }
  static int sign(const fs::path& in, const fs::path& out) {
    return run("osslsigncode sign -certs " + quote(folder_->path() / "cert.pem") + " -key " +
               quote(folder_->path() / "key.pem") + " -in " + quote(in) + " -out " + quote(out));
  }
  void expect_reads_back(const fs::path& path) {
    DeviceHolder d;
    ASSERT_EQ(test::open_image(path, d), kOk) << path;
    ASSERT_EQ(d->total_size(), image_.size());
    std::vector<uint8_t> back(image_.size());
    for (size_t at = 0; at < back.size(); at += 65536) {
      uint32_t n = uint32_t(std::min<size_t>(65536, back.size() - at));
      ASSERT_EQ(d->read(at, back.data() + at, n), kOk);
    }
    EXPECT_TRUE(back == image_) << path;
    EXPECT_EQ(d->read(0, nullptr, uint32_t(back.size())), kOk);
  }

  static test::TempFolder* folder_;
  static fs::path iso_;
  static bool ready_;
  static std::vector<uint8_t> image_;
};

test::TempFolder* PackedTools::folder_ = nullptr;
fs::path PackedTools::iso_;
bool PackedTools::ready_ = false;
std::vector<uint8_t> PackedTools::image_;

TEST_F(PackedTools, EveryCompressionDigestAndLayoutReadsBack) {
  const char* compressions[] = {"none", "deflate", "lzma"};
  const char* digests[] = {"none", "crc32", "sha256"};
  const fs::path stub = folder_->path() / "stub.exe";
  int n = 0;
  for (const char* c : compressions) {
    for (const char* g : digests) {
      for (int layout = 0; layout < 3; ++layout) {
        SCOPED_TRACE(std::string(c) + " " + g + " layout " + std::to_string(layout));
        test::TempFolder out;
        fs::path first = out.path() / ("media" + std::to_string(n++) + (layout == 1 ? ".exe" : ".img"));
        std::string args = std::string("--block-size 32K --compression ") + c + " --digest " + g + " -o " + quote(first);
        if (layout == 1) args += " --stub " + quote(stub);
        // Three parts: a third of the image plus room for headers and tables.
        if (layout == 2) args += " --part-size " + std::to_string(image_.size() / 3 + 40960);
        ASSERT_EQ(mkmedia(args), 0);
        if (layout == 2 && std::string(c) == "none") {
          EXPECT_TRUE(fs::exists(first.string() + ".002"));
          EXPECT_FALSE(fs::exists(first.string() + ".003"));
        }
        expect_reads_back(first);
      }
    }
  }
}

TEST_F(PackedTools, SignedMediaExecutablesLoad) {
  test::TempFolder out;
  const fs::path stub = folder_->path() / "stub.exe";
  // One part.
  fs::path single = out.path() / "single.exe";
  ASSERT_EQ(mkmedia("--block-size 64K --stub " + quote(stub) + " -o " + quote(out.path() / "unsigned.exe")), 0);
  ASSERT_EQ(sign(out.path() / "unsigned.exe", single), 0);
  expect_reads_back(single);

  // Three parts, the last one in the executable, the others cabinet stubs.
  fs::path split = out.path() / "split.exe";
  // Three parts: a third of what the packed image holds, plus the carrier stubs.
  ASSERT_EQ(mkmedia("--block-size 16K -o " + quote(out.path() / "whole.img")), 0);
  std::string parts = " --part-size " + std::to_string(fs::file_size(out.path() / "whole.img") / 3 + 1024);
  ASSERT_EQ(mkmedia("--block-size 16K --stub " + quote(stub) + parts + " -o " + quote(out.path() / "s.exe")), 0);
  ASSERT_EQ(sign(out.path() / "s.exe", split), 0);
  fs::rename(out.path() / "s.exe.001", split.string() + ".001");
  fs::rename(out.path() / "s.exe.002", split.string() + ".002");
  EXPECT_FALSE(fs::exists(out.path() / "s.exe.003"));
  expect_reads_back(split);

  // The same with plain part files: they are passed over beside a signature.
  fs::path plain = out.path() / "plain.exe";
  ASSERT_EQ(mkmedia("--block-size 16K --plain-parts --stub " + quote(stub) + parts + " -o " + quote(out.path() / "p.exe")), 0);
  ASSERT_EQ(sign(out.path() / "p.exe", plain), 0);
  fs::rename(out.path() / "p.exe.001", plain.string() + ".001");
  fs::rename(out.path() / "p.exe.002", plain.string() + ".002");
  DeviceHolder d;
  ASSERT_EQ(test::open_image(plain, d), kOk);
  std::vector<uint8_t> b(2048);
  EXPECT_EQ(d->read(32768, b.data(), 2048), kErrorEndOfFile);  // the volume descriptors, in part 0

  // CRC-32 digests cannot protect parts outside a signature: refused.
  EXPECT_EQ(mkmedia("--digest crc32 --stub " + quote(stub) + parts + " -o " + quote(out.path() / "c.exe")), 2);
  EXPECT_FALSE(fs::exists(out.path() / "c.exe"));
}

TEST_F(PackedTools, MkmediaIsDeterministicAndRefusesBadInput) {
  test::TempFolder out;
  const std::string ids = " --image-id 000102030405060708090a0b0c0d0e0f --set-id f0e0d0c0b0a090807060504030201000";
  ASSERT_EQ(mkmedia("--block-size 16K --threads 1" + ids + " -o " + quote(out.path() / "a.img")), 0);
  ASSERT_EQ(mkmedia("--block-size 16K --threads 3" + ids + " -o " + quote(out.path() / "b.img")), 0);
  EXPECT_TRUE(test::read_bytes(out.path() / "a.img") == test::read_bytes(out.path() / "b.img"));
  ASSERT_EQ(mkmedia("--block-size 16K -o " + quote(out.path() / "c.img")), 0);
  EXPECT_FALSE(test::read_bytes(out.path() / "a.img") == test::read_bytes(out.path() / "c.img"));

  // Packing again in fewer parts removes the part files of the earlier run.
  const fs::path parted = out.path() / "parted.img";
  ASSERT_EQ(mkmedia("--block-size 16K --compression none --part-size " + std::to_string(image_.size() / 4) + ids + " -o " + quote(parted)), 0);
  ASSERT_TRUE(fs::exists(parted.string() + ".002"));
  ASSERT_EQ(mkmedia("--block-size 16K --compression none --part-size " + std::to_string(image_.size() / 2 + 65536) + ids + " -o " + quote(parted)), 0);
  EXPECT_FALSE(fs::exists(parted.string() + ".002"));
  expect_reads_back(parted);

  std::string m = std::string(SELFMOUNT_MKMEDIA) + " pack ";
  test::write_bytes(out.path() / "odd.iso", std::vector<uint8_t>(3000, 1));
  const std::string bad[] = {
      m + quote(out.path() / "missing.iso") + " -o " + quote(out.path() / "x"),
      m + quote(out.path() / "odd.iso") + " -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --stub " + quote(out.path() / "odd.iso") + " -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --block-size 3000 -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --block-size 8M -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --compression bzip2 -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --lzma-pb 5 -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --image-id 12 -o " + quote(out.path() / "x"),
      m + quote(iso_) + " --part-size 100 -o " + quote(out.path() / "x"),
      m + quote(iso_),
  };
  for (const std::string& command : bad) {
    EXPECT_EQ(run(command), 2) << command;
    EXPECT_FALSE(fs::exists(out.path() / "x")) << command;
  }
}

#else

TEST(PackedTools, HostOnly) { GTEST_SKIP() << "runs xorriso, mkmedia and osslsigncode, which are Linux programs"; }

#endif

}  // namespace
}  // namespace sm
