// corvella-bench-io-floor [-j N] FOLDER: a yardstick for `corvella-tags show -r`, the least
// reading any tag reader of the folder does. It walks the folder with the walk of show -r, then
// for each file: open, fstat, pread of the first 64 KiB and of the last 8 KiB, close; on N
// threads (0: one per core; default 1). Prints one line "files=N bytes=B failed=F".
// Not a test: run by bench/read_folder.sh, which times it beside show.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cli/folder_walk.h"

namespace {

constexpr std::size_t kHeadBytes = 64 * 1024;
constexpr std::size_t kTailBytes = 8 * 1024;

bool ReadAt(int Fd, std::uint8_t *Buffer, std::size_t Size, off_t At, std::uint64_t &Total)
{
  for (std::size_t done = 0; done < Size;) {
    const ssize_t n = ::pread(Fd, Buffer + done, Size - done, At + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    Total += static_cast<std::uint64_t>(n);
  }
  return true;
}

// The head and the tail of one file; false when it cannot be opened or read.
bool ReadEnds(const std::string &File, std::vector<std::uint8_t> &Buffer, std::uint64_t &Total)
{
  const int fd = ::open(File.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    ok = ReadAt(fd, Buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadBytes)), 0, Total);
    if (ok && size > kHeadBytes) {
      const std::uint64_t tail = std::min<std::uint64_t>(size - kHeadBytes, kTailBytes);
      ok = ReadAt(fd, Buffer.data(), static_cast<std::size_t>(tail), static_cast<off_t>(size - tail), Total);
    }
  }
  ::close(fd);
  return ok;
}

int Usage()
{
  std::fputs("usage: corvella-bench-io-floor [-j N] FOLDER\n", stderr);
  return 2;
}

} // namespace

int main(int argc, char **argv)
{
  unsigned workers = 1;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-j" && i + 1 < argc) {
      const std::string v = argv[++i];
      const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), workers);
      if (v.empty() || error != std::errc() || end != v.data() + v.size() || workers > 256) return Usage();
    } else if (folder.empty() && !a.empty() && a[0] != '-') {
      folder = a;
    } else {
      return Usage();
    }
  }
  if (folder.empty()) return Usage();
  if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());

  std::vector<std::string> files, warnings;
  CollectAudioFiles(folder, files, warnings);
  for (const std::string &w : warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());

  std::atomic<std::size_t> next{0};
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::size_t> failed{0};
  const auto work = [&] {
    std::vector<std::uint8_t> buffer(kHeadBytes);
    std::uint64_t total = 0;
    for (std::size_t i; (i = next++) < files.size();)
      if (!ReadEnds(files[i], buffer, total)) ++failed;
    bytes += total;
  };
  if (workers == 1) {
    work();
  } else {
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) threads.emplace_back(work);
    for (std::thread &t : threads) t.join();
  }
  std::printf("files=%zu bytes=%llu failed=%zu\n", files.size(), static_cast<unsigned long long>(bytes.load()),
              failed.load());
  return failed.load() == 0 ? 0 : 1;
}
