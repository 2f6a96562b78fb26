#pragma once
// Helpers shared by the tests: a byte builder for inline inputs (the container and tag layouts
// built with it are in container_bytes.h), temporary folders holding copies of fixtures so that
// no test writes into tests/data, and what a test looks at in a folder: its entries and the
// modification times of its files.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

using Bytes8 = std::vector<std::uint8_t>;

// Builds byte inputs inline: Bytes().Str("TAG").Zeros(30).U8(12).
class Bytes {
public:
  Bytes &Str(std::string_view s) { v.insert(v.end(), s.begin(), s.end()); return *this; }
  Bytes &U8(std::uint8_t b) { v.push_back(b); return *this; }
  Bytes &U16LE(std::uint16_t x) { return U8(static_cast<std::uint8_t>(x)).U8(static_cast<std::uint8_t>(x >> 8)); }
  Bytes &U16BE(std::uint16_t x) { return U8(static_cast<std::uint8_t>(x >> 8)).U8(static_cast<std::uint8_t>(x)); }
  Bytes &U32LE(std::uint32_t x) { return U16LE(static_cast<std::uint16_t>(x)).U16LE(static_cast<std::uint16_t>(x >> 16)); }
  Bytes &U32BE(std::uint32_t x) { return U16BE(static_cast<std::uint16_t>(x >> 16)).U16BE(static_cast<std::uint16_t>(x)); }
  Bytes &U64LE(std::uint64_t x) { return U32LE(static_cast<std::uint32_t>(x)).U32LE(static_cast<std::uint32_t>(x >> 32)); }
  Bytes &U64BE(std::uint64_t x) { return U32BE(static_cast<std::uint32_t>(x >> 32)).U32BE(static_cast<std::uint32_t>(x)); }
  Bytes &Zeros(std::size_t n) { v.insert(v.end(), n, 0); return *this; }
  Bytes &Fill(std::size_t n, std::uint8_t b) { v.insert(v.end(), n, b); return *this; }
  // s, cut or zero-padded to exactly n bytes.
  Bytes &Padded(std::string_view s, std::size_t n);
  Bytes &Append(const Bytes8 &b) { v.insert(v.end(), b.begin(), b.end()); return *this; }
  Bytes &Append(const Bytes &b) { return Append(b.v); }
  std::size_t size() const { return v.size(); }
  operator const Bytes8 &() const { return v; }
  Bytes8 v;
};

// A fresh empty folder under the system's temporary folder, removed with the object.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &Path() const { return path_; }
  // Copies tests/data/<relative> into the folder; returns the copy's path.
  std::string CopyFixture(const std::string &relative, const std::string &as = "") const;
  // Writes bytes to a new file in the folder; returns its path.
  std::string Write(const std::string &name, const Bytes8 &content) const;
private:
  std::string path_;
};

std::string FixturePath(const std::string &relative);
Bytes8 ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const Bytes8 &content);
// The bytes [From, To) of B.
Bytes Slice(const Bytes8 &B, std::size_t From, std::size_t To);

// The names in Folder, sorted.
std::vector<std::string> FolderEntries(const std::string &Folder);

// The file's last-modified time, to the nanosecond.
struct timespec ModTime(const std::string &FileName);
// Sets the file's last-modified time to 2001-09-09 01:46:40.123456789 UTC, a time no write
// of today can give it.
void SetOldModTime(const std::string &FileName);
bool SameTime(const struct timespec &A, const struct timespec &B);

// Outside programs the tests check files with (flac, oggz-validate, ffmpeg...).
// True when Name is found in PATH.
bool HaveTool(const char *Name);
// Runs Command through the shell and returns what it printed on both outputs; Status is its
// wait status (-1 when it could not be started).
std::string RunCommand(const std::string &Command, int &Status);
// Runs Command and returns its standard output, prefixed with "failed: " when it exits non-zero.
std::string RunCapture(const std::string &Command);
