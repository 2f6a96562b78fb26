#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

Bytes &Bytes::Padded(std::string_view s, std::size_t n)
{
  for (std::size_t i = 0; i < n; ++i) v.push_back(i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0);
  return *this;
}

TempDir::TempDir()
{
  std::string pattern = (fs::temp_directory_path() / "corvella-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir()
{
  std::error_code ec;
  // Read-only files inside must not keep the folder alive.
  // A link is left alone: changing permissions through it would change what it points at (a
  // fixture, for example).
  for (auto &e : fs::recursive_directory_iterator(path_, ec))
    if (!e.is_symlink(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::CopyFixture(const std::string &relative, const std::string &as) const
{
  const fs::path src = FixturePath(relative);
  const fs::path dst = fs::path(path_) / (as.empty() ? src.filename().string() : as);
  fs::copy_file(src, dst, fs::copy_options::overwrite_existing);
  fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return dst.string();
}

std::string TempDir::Write(const std::string &name, const Bytes8 &content) const
{
  const std::string p = (fs::path(path_) / name).string();
  WriteFileBytes(p, content);
  return p;
}

std::string FixturePath(const std::string &relative) { return std::string(CORVELLA_TEST_DATA) + "/" + relative; }

Bytes8 ReadFileBytes(const std::string &path)
{
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  return Bytes8(std::istreambuf_iterator<char>(f), {});
}

void WriteFileBytes(const std::string &path, const Bytes8 &content)
{
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
  // Buffered bytes reach the file only at close, where a full disk shows.
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
}

Bytes Slice(const Bytes8 &B, std::size_t From, std::size_t To)
{
  Bytes out;
  out.v.assign(B.begin() + static_cast<std::ptrdiff_t>(From), B.begin() + static_cast<std::ptrdiff_t>(To));
  return out;
}

std::vector<std::string> FolderEntries(const std::string &Folder)
{
  std::vector<std::string> names;
  for (const auto &e : fs::directory_iterator(Folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct timespec ModTime(const std::string &FileName)
{
  struct stat st {};
  EXPECT_EQ(::stat(FileName.c_str(), &st), 0) << FileName;
  return st.st_mtim;
}

void SetOldModTime(const std::string &FileName)
{
  const struct timespec times[2] = {{1000000000, 123456789}, {1000000000, 123456789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, FileName.c_str(), times, 0), 0) << FileName;
}

bool SameTime(const struct timespec &A, const struct timespec &B) { return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec; }

bool HaveTool(const char *Name) { return std::system((std::string("command -v ") + Name + " >/dev/null 2>&1").c_str()) == 0; }

std::string RunCommand(const std::string &Command, int &Status)
{
  std::string out;
  Status = -1;
  if (FILE *p = popen((Command + " 2>&1").c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    Status = pclose(p);
  }
  return out;
}

std::string RunCapture(const std::string &Command)
{
  std::string out;
  if (FILE *p = popen(Command.c_str(), "r")) {
    char buf[4096];
    std::size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out = "failed: " + out;
  }
  return out;
}
