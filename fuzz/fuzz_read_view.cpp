// Fuzz target: the same bytes loaded from a file (through the read view, which reads head and
// tail, fetches ranges on demand and leaves large pictures in the file) and from memory.
// Properties: nothing crashes; both loads give the same entries, the same pictures (a picture
// left in the file or left encoded comes back whole, of the size it announced) and the same
// play time.

#include <cmath>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "fuzz/fuzz_entry.h"
#include "tags/tag_container.h"

namespace {

// One scratch file per process, rewritten for every input and removed at exit.
struct TScratchFile {
  std::string Path;
  TScratchFile()
  {
    const char *dir = std::getenv("TMPDIR");
    Path = std::string(dir && *dir ? dir : "/tmp") + "/corvella-fuzz-view-" + std::to_string(::getpid()) + ".bin";
  }
  ~TScratchFile() { ::unlink(Path.c_str()); }
};

const std::string &ScratchFile()
{
  static const TScratchFile file;
  return file.Path;
}

bool WriteScratch(const std::uint8_t *Data, std::size_t Size)
{
  const int fd = ::open(ScratchFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < Size) {
    const ssize_t n = ::write(fd, Data + done, Size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0 && done == Size;
}

} // namespace

int FuzzReadView(const std::uint8_t *Data, std::size_t Size)
{
  if (Size == 0 || !WriteScratch(Data, Size)) return 0;
  TTags fromFile, fromMemory;
  FuzzRequire(fromFile.LoadFromFile(ScratchFile()) == tagsOk);
  FuzzRequire(fromMemory.LoadFromMemory(Data, static_cast<std::int64_t>(Size)) == tagsOk);

  FuzzRequire(fromFile.Count() == fromMemory.Count());
  for (int i = 0; i < fromFile.Count(); ++i) {
    const TTag &a = *fromFile.Tags[static_cast<std::size_t>(i)], &b = *fromMemory.Tags[static_cast<std::size_t>(i)];
    FuzzRequire(a.Name == b.Name && a.Value == b.Value);
  }
  FuzzRequire(fromFile.CoverArtCount() == fromMemory.CoverArtCount());
  for (int i = 0; i < fromFile.CoverArtCount(); ++i) {
    TCoverArt &a = *fromFile.CoverArts[static_cast<std::size_t>(i)];
    TCoverArt &b = *fromMemory.CoverArts[static_cast<std::size_t>(i)];
    const std::int64_t announced = a.DataSize();
    FuzzRequire(a.LoadData() && b.LoadData());
    FuzzRequire(static_cast<std::int64_t>(a.Stream.Data().size()) == announced);
    FuzzRequire(a.Stream.Data() == b.Stream.Data() && a.MIMEType == b.MIMEType && a.Description == b.Description &&
                a.CoverType == b.CoverType && a.PictureFormat == b.PictureFormat);
  }
  const double t1 = fromFile.SourceAudioAttributes.PlayTime(), t2 = fromMemory.SourceAudioAttributes.PlayTime();
  FuzzRequire(t1 == t2 || (std::isnan(t1) && std::isnan(t2)));
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_read_view", FuzzReadView)
