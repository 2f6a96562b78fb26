// fuzz_replay: runs files through the fuzz entry points linked into it, so that the fixtures
// and every input that once made a fuzz target fail are replayed by ctest with any compiler.
//   fuzz_replay [--target NAME] PATH...
// Folders are walked recursively in name order; names that start with '.' are skipped.
// Exit status 0 when every input ran, 2 for bad arguments or unreadable paths; a crash or a
// sanitizer report ends the process, after the name of the input has been printed.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_entry.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, TFuzzEntry>> &Entries()
{
  static std::vector<std::pair<std::string, TFuzzEntry>> entries;
  return entries;
}

bool Hidden(const fs::path &Path) { return Path.filename().string().starts_with("."); }

bool CollectFiles(const fs::path &Root, std::vector<fs::path> &Files)
{
  std::error_code ec;
  if (fs::is_regular_file(Root, ec)) {
    Files.push_back(Root);
    return true;
  }
  if (!fs::is_directory(Root, ec)) return false;
  for (auto it = fs::recursive_directory_iterator(Root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (Hidden(it->path())) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec)) Files.push_back(it->path());
  }
  return !ec;
}

// The whole file in a block of exactly its size, so that a read one byte past the end is caught
// by AddressSanitizer just as under libFuzzer.
bool ReadInput(const fs::path &Path, std::unique_ptr<std::uint8_t[]> &Data, std::size_t &Size)
{
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  Size = bytes.size();
  Data.reset(new std::uint8_t[Size]);
  std::copy(bytes.begin(), bytes.end(), Data.get());
  return true;
}

int Usage()
{
  std::fprintf(stderr, "usage: fuzz_replay [--target NAME] PATH...\ntargets:");
  for (const auto &[name, entry] : Entries()) std::fprintf(stderr, " %s", name.c_str());
  std::fprintf(stderr, "\n");
  return 2;
}

} // namespace

bool RegisterFuzzEntry(const char *Name, TFuzzEntry Entry)
{
  Entries().emplace_back(Name, Entry);
  return true;
}

int main(int argc, char **argv)
{
  std::vector<std::pair<std::string, TFuzzEntry>> selected;
  std::vector<fs::path> roots;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--target") {
      if (++i >= argc) return Usage();
      const auto found = std::find_if(Entries().begin(), Entries().end(),
                                      [&](const auto &e) { return e.first == argv[i]; });
      if (found == Entries().end()) {
        std::fprintf(stderr, "fuzz_replay: no target %s\n", argv[i]);
        return Usage();
      }
      selected.push_back(*found);
    } else {
      roots.emplace_back(arg);
    }
  }
  if (roots.empty()) return Usage();
  if (selected.empty()) selected = Entries();

  std::vector<fs::path> files;
  for (const auto &root : roots) {
    if (!CollectFiles(root, files)) {
      std::fprintf(stderr, "fuzz_replay: cannot read %s\n", root.c_str());
      return 2;
    }
  }
  std::sort(files.begin(), files.end());

  for (const auto &file : files) {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    if (!ReadInput(file, data, size)) {
      std::fprintf(stderr, "fuzz_replay: cannot read %s\n", file.c_str());
      return 2;
    }
    for (const auto &[name, entry] : selected) {
      std::fprintf(stderr, "%s %s (%zu bytes)\n", name.c_str(), file.c_str(), size);
      std::fflush(stderr);
      entry(data.get(), size);
    }
  }
  std::fprintf(stderr, "fuzz_replay: %zu inputs, %zu targets, all ran\n", files.size(), selected.size());
  return 0;
}
