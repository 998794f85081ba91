#include "support/udf_tool_images.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace sm::test {

namespace fs = std::filesystem;

namespace {

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string run(const std::string& command) {
#ifdef _WIN32
  (void)command;
  return "the Linux image tools cannot run under Windows";
#else
  int status = std::system((command + " >/dev/null 2>&1").c_str());
  return status == 0 ? std::string() : "failed (" + std::to_string(status) + "): " + command;
#endif
}

void write_file(const fs::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

}  // namespace

void write_udf_sample_tree(const fs::path& folder) {
  fs::create_directories(folder / "nested" / "deeper");
  fs::create_directories(folder / "emptydir");
  write_file(folder / (std::string(150, 'n') + ".txt"), "long name\n");
  write_file(folder / "caf\xC3\xA9 \xE2\x82\xAC.txt", "x\n");
  write_file(folder / "nested" / "empty.dat", "");
  std::string big(70000, 0);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 2048);
  write_file(folder / "nested" / "deeper" / "big.bin", big);
}

std::string make_genisoimage_udf(const fs::path& tree, const fs::path& image) {
  return run("genisoimage -quiet -input-charset utf-8 -udf -o " + quote(image.string()) + " " +
             quote(tree.string()));
}

std::string make_mkudffs_udf(const fs::path& tree, const fs::path& image, const char* revision) {
  std::string error = run("mkudffs --media-type=hd -b 2048 --udfrev=" + std::string(revision) +
                          " --uuid=0123456789abcdef --vid=T --lvid=T --vsid=T --fsid=T " +
                          quote(image.string()) + " 20000");
  if (!error.empty()) return error;
  // udfclient is interactive: feed it a script that copies each top-level entry.
  fs::path script = image.string() + ".commands";
  {
    std::ofstream out(script);
    out << "cd 0123456789abcdefT:T:T:T\nlcd " << tree.string() << "\n";
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(tree)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) out << "mput \"" << name << "\"\n";
    out << "quit\n";
  }
  return run("timeout 60 udfclient -W -b 2048 " + quote(image.string()) + " < " + quote(script.string()));
}

std::vector<ListedEntry> list_udf_with_7z(const fs::path& image) {
  std::vector<ListedEntry> entries;
#ifndef _WIN32
  FILE* pipe = popen(("7z l -tudf -slt " + quote(image.string()) + " 2>/dev/null").c_str(), "r");
  if (!pipe) return entries;
  std::string output;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  if (pclose(pipe) != 0) return entries;
  // Records follow the "----------" line, one "Key = value" per line.
  size_t at = output.find("\n----------\n");
  if (at == std::string::npos) return entries;
  ListedEntry current{};
  bool open = false;
  size_t pos = at + 12;
  while (pos < output.size()) {
    size_t end = output.find('\n', pos);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("Path = ", 0) == 0) {
      if (open) entries.push_back(current);
      current = ListedEntry{line.substr(7), false, 0};
      open = true;
    } else if (line == "Folder = +") {
      current.folder = true;
    } else if (line.rfind("Size = ", 0) == 0 && line.size() > 7) {
      current.size = std::stoull(line.substr(7));
    }
  }
  if (open) entries.push_back(current);
  for (ListedEntry& e : entries) {
    if (e.folder) e.size = 0;
  }
  std::sort(entries.begin(), entries.end());
#else
  (void)image;
#endif
  return entries;
}

}  // namespace sm::test
