#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/file_traits.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string &Path)
{
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  return st.st_mode & 07777;
}

Bytes8 Pattern(std::size_t Size)
{
  Bytes8 b(Size);
  for (std::size_t i = 0; i < Size; ++i) b[i] = static_cast<std::uint8_t>((i * 13 + i / 509) & 0xFF);
  return b;
}

class FileIo : public ::testing::Test {
protected:
  void TearDown() override { TWriteFaults::Reset(); }
  TempDir dir;
};

TEST_F(FileIo, TempFileThatIsNotCommittedLeavesNothing)
{
  const std::string target = dir.Write("song.mp3", Bytes().Str("original"));
  {
    auto temp = TTempFile::CreateBeside(target);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(fs::path(temp->Path()).parent_path(), fs::path(target).parent_path());
    ASSERT_TRUE(temp->Stream().WriteBuffer("rebuilt", 7));
    EXPECT_EQ(FolderEntries(dir.Path()).size(), 2u);
  }
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"song.mp3"});
  EXPECT_EQ(ReadFileBytes(target), Bytes().Str("original").v);
}

TEST_F(FileIo, TempFileBesideANameAtTheLengthLimit)
{
  // 255 bytes, the longest name a folder entry holds, most of them three-byte characters.
  std::string name = "ab";
  for (int i = 0; i < 83; ++i) name += "\xE6\x97\xA5";
  name += ".mp3";
  ASSERT_EQ(name.size(), 255u);
  const std::string target = dir.Write(name, Bytes().Str("old"));
  auto temp = TTempFile::CreateBeside(target);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(fs::path(temp->Path()).parent_path(), fs::path(target).parent_path());
  ASSERT_TRUE(temp->Stream().WriteBuffer("new", 3));
  ASSERT_TRUE(temp->Commit(target));
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{name});
  EXPECT_EQ(ReadFileBytes(target), Bytes().Str("new").v);
}

TEST_F(FileIo, PathParts)
{
  struct Case { const char *path, *folder, *name, *extension; };
  for (const Case &c : {Case{"/music/a/song.mp3", "/music/a", "song.mp3", ".mp3"}, Case{"/song", "/", "song", ""},
                        Case{"song.tar.FLAC", "", "song.tar.FLAC", ".FLAC"}, Case{"/a.b/song", "/a.b", "song", ""},
                        Case{"/a/.hidden", "/a", ".hidden", ".hidden"}, Case{"/a/", "/a", "", ""}}) {
    EXPECT_EQ(PathFolder(c.path), c.folder) << c.path;
    EXPECT_EQ(PathFileName(c.path), c.name) << c.path;
    EXPECT_EQ(PathExtension(c.path), c.extension) << c.path;
  }
}

TEST_F(FileIo, TempFileBesideAMissingFolderIsRefused)
{
  EXPECT_EQ(TTempFile::CreateBeside(dir.Path() + "/no/such/folder/song.mp3"), nullptr);
}

// Every write-like step of a rebuild made to fail in turn: either the target is the new file, or
// it is untouched; no temporary file is left either way.
TEST_F(FileIo, TempFileRebuildFailingAtEveryStep)
{
  const Bytes8 original = Pattern(3000), rebuilt = Pattern(5000);
  std::string target;
  TWriteFailureSteps steps;
  steps.Prepare = [&] { target = dir.Write("song.mp3", original); };
  steps.Save = [&] {
    auto temp = TTempFile::CreateBeside(target);
    EXPECT_NE(temp, nullptr);
    return temp && temp->Stream().WriteBuffer(rebuilt.data(), 1000) &&
           temp->Stream().WriteBuffer(rebuilt.data() + 1000, 4000) && temp->Commit(target);
  };
  steps.CheckIntact = [&](int) {
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"song.mp3"});
    EXPECT_EQ(ReadFileBytes(target), original);
  };
  steps.Limit = 20;
  EXPECT_TRUE(RunFailingEachWriteInTurn(steps).Succeeded);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"song.mp3"});
  EXPECT_EQ(ReadFileBytes(target), rebuilt);
}

TEST_F(FileIo, CommitKeepsTheTargetsPermissionBits)
{
  for (mode_t mode : {0644u, 0600u, 0640u, 0755u, 0664u}) {
    const std::string target = dir.Write("song.mp3", Bytes().Str("old"));
    ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    auto temp = TTempFile::CreateBeside(target);
    ASSERT_NE(temp, nullptr);
    ASSERT_TRUE(temp->Stream().WriteBuffer("new", 3));
    ASSERT_TRUE(temp->Commit(target));
    EXPECT_EQ(ModeOf(target), mode);
    EXPECT_EQ(ReadFileBytes(target), Bytes().Str("new").v);
  }
}

TEST_F(FileIo, WriteFaultsFailTheNthOperationOnly)
{
  const std::string path = dir.Write("f.bin", {});
  auto f = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
  ASSERT_NE(f, nullptr);
  TWriteFaults::FailNth(3);
  EXPECT_EQ(f->Write("a", 1), 1);
  EXPECT_EQ(f->Write("b", 1), 1);
  EXPECT_EQ(f->Write("c", 1), 0);
  EXPECT_EQ(f->Write("d", 1), 1);
  EXPECT_TRUE(f->SetSize(3));
  EXPECT_TRUE(f->Sync());
  EXPECT_EQ(TWriteFaults::OperationsSoFar(), 6);
  f->Close();
  EXPECT_EQ(ReadFileBytes(path), Bytes().Str("abd").v);

  // Truncation and fsync count as writes too.
  for (int n : {1, 2}) {
    auto g = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
    ASSERT_NE(g, nullptr);
    TWriteFaults::FailNth(n);
    EXPECT_EQ(g->SetSize(1), n != 1);
    EXPECT_EQ(g->Sync(), n != 2);
  }
}

TEST_F(FileIo, ReadOnlyStreamRefusesWrites)
{
  const std::string path = dir.Write("f.bin", Bytes().Str("abc"));
  auto f = TFileStream::Open(path, TFileMode::fmOpenRead);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->Write("x", 1), 0);
  EXPECT_FALSE(f->SetSize(0));
  EXPECT_EQ(f->GetSize(), 3);
}

TEST_F(FileIo, OpenReportsWhyItFailed)
{
  int error = 0;
  EXPECT_EQ(TFileStream::Open(dir.Path() + "/missing", TFileMode::fmOpenRead, &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(TFileStream::Open(dir.Path(), TFileMode::fmOpenRead, &error), nullptr);
  EXPECT_EQ(error, EISDIR);
}

TEST_F(FileIo, CopyFileFastCopiesBytesAndMode)
{
  const Bytes8 content = Pattern(3 << 20);
  const std::string source = dir.Write("source.flac", content);
  // 0666 would come out as 0644 if the process umask were applied.
  ASSERT_EQ(::chmod(source.c_str(), 0666), 0);
  std::string error;
  const std::string dest = dir.Path() + "/source.flac.qln_bak";
  ASSERT_TRUE(CopyFileFast(source, dest, error)) << error;
  EXPECT_TRUE(FilesIdentical(source, dest));
  EXPECT_EQ(ModeOf(dest), 0666u);

  // Over an existing, longer file with other permissions.
  const std::string older = dir.Write("older.bin", Pattern(5 << 20));
  ASSERT_EQ(::chmod(older.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
  ASSERT_TRUE(CopyFileFast(source, older, error)) << error;
  EXPECT_TRUE(FilesIdentical(source, older));
  EXPECT_EQ(ModeOf(older), 0640u);

  const std::string emptySource = dir.Write("empty", {});
  ASSERT_TRUE(CopyFileFast(emptySource, dest, error)) << error;
  EXPECT_EQ(FileSizeOf(dest), 0);
}

TEST_F(FileIo, CopyFileFastFailuresAreReported)
{
  const std::string source = dir.Write("a.mp3", Pattern(1000));
  std::string error;
  EXPECT_FALSE(CopyFileFast(dir.Path() + "/missing.mp3", dir.Path() + "/b", error));
  EXPECT_NE(error.find("missing.mp3"), std::string::npos) << error;
  EXPECT_FALSE(FileExists(dir.Path() + "/b"));

  error.clear();
  TWriteFaults::FailNth(1);
  EXPECT_FALSE(CopyFileFast(source, dir.Path() + "/b", error));
  EXPECT_FALSE(error.empty());
}

TEST_F(FileIo, CopyFileFastOntoItselfKeepsTheFile)
{
  const Bytes8 content = Pattern(1000);
  const std::string source = dir.Write("a.mp3", content);
  const std::string link = dir.Path() + "/hardlink.mp3";
  ASSERT_EQ(::link(source.c_str(), link.c_str()), 0);
  std::string error;
  EXPECT_FALSE(CopyFileFast(source, source, error));
  EXPECT_FALSE(CopyFileFast(source, link, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFileBytes(source), content);
}

TEST_F(FileIo, ModificationTimeRoundTripsToTheNanosecond)
{
  const std::string path = dir.Write("a.mp3", Pattern(10));
  for (const struct timespec &t : {timespec{1234567890, 123456789}, timespec{0, 1}, timespec{4102444800, 999999999}}) {
    ASSERT_TRUE(SetFileModTime(path, t));
    struct timespec got {};
    ASSERT_TRUE(GetFileModTime(path, got));
    EXPECT_EQ(got.tv_sec, t.tv_sec);
    EXPECT_EQ(got.tv_nsec, t.tv_nsec);
  }
  struct timespec got {};
  EXPECT_FALSE(GetFileModTime(dir.Path() + "/missing", got));
  EXPECT_FALSE(SetFileModTime(dir.Path() + "/missing", timespec{1, 0}));
}

TEST_F(FileIo, FileQueries)
{
  const std::string path = dir.Write("a.mp3", Pattern(10));
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_FALSE(DirectoryExists(path));
  EXPECT_EQ(FileSizeOf(path), 10);
  EXPECT_EQ(FileSizeOf(dir.Path() + "/missing"), -1);

  EXPECT_FALSE(IsReadOnlyFile(path));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  EXPECT_TRUE(IsReadOnlyFile(path));
  ASSERT_EQ(::chmod(path.c_str(), 0464), 0);
  EXPECT_FALSE(IsReadOnlyFile(path));

  const std::string other = dir.Write("b.mp3", Pattern(10));
  EXPECT_TRUE(FilesIdentical(path, other));
  Bytes8 changed = Pattern(10);
  changed[9] ^= 1;
  WriteFileBytes(other, changed);
  EXPECT_FALSE(FilesIdentical(path, other));
  TBytes whole;
  ASSERT_TRUE(ReadWholeFile(other, whole));
  EXPECT_EQ(whole, changed);
}

// One stat, or the fstat of the one open, answers existence, read-only, size and time alike.
TEST_F(FileIo, FactsFromOneStatOrTheOpenDescriptor)
{
  const std::string path = dir.Write("a.mp3", Pattern(10));
  const struct timespec stamp {1500000000, 987654321};
  ASSERT_TRUE(SetFileModTime(path, stamp));
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

  TFileFacts facts;
  ASSERT_TRUE(StatFile(path, facts));
  EXPECT_TRUE(facts.Exists);
  EXPECT_TRUE(facts.ReadOnly);
  EXPECT_EQ(facts.Size, 10);
  EXPECT_EQ(facts.ModTime.tv_sec, stamp.tv_sec);
  EXPECT_EQ(facts.ModTime.tv_nsec, stamp.tv_nsec);

  // Opened for writing or not (a user who may not write it gets its facts from the path).
  TFileFacts opened;
  auto f = TFileStream::Open(path, TFileMode::fmOpenReadWrite, opened);
  EXPECT_TRUE(opened.Exists);
  EXPECT_TRUE(opened.ReadOnly);
  EXPECT_EQ(opened.Size, 10);
  EXPECT_EQ(opened.ModTime.tv_nsec, stamp.tv_nsec);
  f.reset();
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_NE(TFileStream::Open(path, TFileMode::fmOpenRead, opened), nullptr);
  EXPECT_FALSE(opened.ReadOnly);

  int error = 0;
  EXPECT_EQ(TFileStream::Open(dir.Path() + "/missing", TFileMode::fmOpenReadWrite, opened, &error), nullptr);
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(opened.Exists);
  EXPECT_FALSE(StatFile(dir.Path() + "/missing", facts));
  EXPECT_FALSE(facts.Exists);
  EXPECT_EQ(facts.Size, -1);
  EXPECT_EQ(TFileStream::Open(dir.Path(), TFileMode::fmOpenRead, opened), nullptr);
  EXPECT_FALSE(opened.Exists);
  ASSERT_TRUE(StatFile(dir.Path(), facts));
  EXPECT_FALSE(facts.Exists);
}

TEST_F(FileIo, ModTimeKeeperRestoresOnEveryWayOut)
{
  const std::string path = dir.Write("a.mp3", Pattern(10));
  const struct timespec stamp {1400000000, 123456789};
  const auto timeOf = [&] {
    struct timespec t {};
    EXPECT_TRUE(GetFileModTime(path, t));
    return t;
  };
  ASSERT_TRUE(SetFileModTime(path, stamp));
  {
    TModTimeKeeper keeper(path, true);
    WriteFileBytes(path, Pattern(20));
  }
  EXPECT_EQ(timeOf().tv_sec, stamp.tv_sec);
  EXPECT_EQ(timeOf().tv_nsec, stamp.tv_nsec);

  TFileFacts facts;
  ASSERT_TRUE(StatFile(path, facts));
  {
    TModTimeKeeper keeper(path, true, facts);
    WriteFileBytes(path, Pattern(30));
  }
  EXPECT_EQ(timeOf().tv_nsec, stamp.tv_nsec);

  {
    TModTimeKeeper keeper(path, false, facts);
    WriteFileBytes(path, Pattern(40));
  }
  EXPECT_NE(timeOf().tv_nsec, stamp.tv_nsec);

  const std::string gone = dir.Write("gone.mp3", Pattern(5));
  {
    TModTimeKeeper keeper(gone, true);
    ::unlink(gone.c_str());
  }
  EXPECT_FALSE(fs::exists(gone));
}

// The user and group a test gives its files when it may (running as root): nobody's.
constexpr uid_t kOtherUser = 65534;
constexpr gid_t kOtherGroup = 65534;

// Rewrites Target through a temporary file with Content; the temporary file's folder is
// returned in Folder.
bool Rewrite(const std::string &Target, const Bytes8 &Content, std::string *Folder = nullptr)
{
  auto temp = TTempFile::CreateBeside(Target);
  if (!temp) return false;
  if (Folder) *Folder = fs::path(temp->Path()).parent_path().string();
  return temp->Stream().WriteBuffer(Content.data(), static_cast<std::int64_t>(Content.size())) && temp->Commit(Target);
}

TEST_F(FileIo, TempFileNameSaysWhoseItIs)
{
  const std::string target = dir.Write("song.mp3", Bytes().Str("old"));
  auto temp = TTempFile::CreateBeside(target);
  ASSERT_NE(temp, nullptr);
  const std::string name = fs::path(temp->Path()).filename().string();
  EXPECT_EQ(name.rfind(".song.mp3.corvella-", 0), 0u) << name;
  EXPECT_EQ(name.size(), std::string(".song.mp3.corvella-").size() + 6) << name;
  EXPECT_EQ(TempFilePrefix(target), dir.Path() + "/.song.mp3.corvella-");
  EXPECT_EQ(TempFilePrefix("/song.mp3"), "/.song.mp3.corvella-");
  EXPECT_EQ(TempFilePrefix("song.mp3"), "./.song.mp3.corvella-");
}

// Owner, group, mode (set-ID bits too), a user attribute and an ACL survive the rename of a
// rebuilt file; the inode is a new one, so the rename path was taken.
TEST_F(FileIo, CommitCarriesOwnerModeAttributesAndAcl)
{
  const std::string target = dir.Write("song.mp3", Bytes().Str("old"));
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), kOtherUser, kOtherGroup), 0);
  }
  ASSERT_EQ(::chmod(target.c_str(), 02640), 0);
  if (!SetAttribute(target, "user.corvella.test", Bytes().Str("kept").v)) GTEST_SKIP() << "no user attributes here";
  const bool acl = SetAttribute(target, kAccessAclAttribute, AccessAcl(6, 1234, 4, 4));
  const TFileTraits before = TraitsOf(target);
  ASSERT_TRUE(Rewrite(target, Bytes().Str("rebuilt")));

  const TFileTraits after = TraitsOf(target);
  EXPECT_NE(after.Inode, before.Inode);
  EXPECT_EQ(after.Uid, before.Uid);
  EXPECT_EQ(after.Gid, before.Gid);
  if (root) {
    EXPECT_EQ(after.Uid, kOtherUser);
  }
  EXPECT_EQ(after.Mode, before.Mode);
  EXPECT_EQ(after.Attributes, before.Attributes);
  EXPECT_EQ(after.Attributes.count("user.corvella.test"), 1u);
  EXPECT_EQ(after.Attributes.count(kAccessAclAttribute), acl ? 1u : 0u);
  EXPECT_EQ(ReadFileBytes(target), Bytes().Str("rebuilt").v);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"song.mp3"});
}

// A link stays a link: the file it leads to is rewritten, through a temporary file beside
// that file (in another folder), and nothing is left in either folder.
TEST_F(FileIo, CommitThroughASymbolicLinkRewritesItsTarget)
{
  fs::create_directories(dir.Path() + "/real");
  fs::create_directories(dir.Path() + "/links");
  const std::string real = dir.Write("real/song.mp3", Bytes().Str("old"));
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  const std::string link = dir.Path() + "/links/song.mp3";
  const std::string chain = dir.Path() + "/links/again.mp3";
  ASSERT_EQ(::symlink("../real/song.mp3", link.c_str()), 0);
  ASSERT_EQ(::symlink("song.mp3", chain.c_str()), 0);

  for (const std::string &name : {link, chain}) {
    SCOPED_TRACE(name);
    const Bytes8 content = Bytes().Str("new through ").Str(fs::path(name).filename().string()).v;
    std::string folder;
    ASSERT_TRUE(Rewrite(name, content, &folder));
    EXPECT_EQ(fs::path(folder), fs::path(dir.Path() + "/real"));
    EXPECT_TRUE(fs::is_symlink(name));
    EXPECT_EQ(ReadFileBytes(real), content);
    EXPECT_EQ(ModeOf(real), 0640u);
  }
  EXPECT_EQ(fs::read_symlink(link), fs::path("../real/song.mp3"));
  EXPECT_EQ(FolderEntries(dir.Path() + "/real"), std::vector<std::string>{"song.mp3"});
  EXPECT_EQ(FolderEntries(dir.Path() + "/links"), (std::vector<std::string>{"again.mp3", "song.mp3"}));

  // A link that leads nowhere is not replaced by a file.
  const std::string dangling = dir.Path() + "/links/gone.mp3";
  ASSERT_EQ(::symlink("../real/missing.mp3", dangling.c_str()), 0);
  EXPECT_EQ(TTempFile::CreateBeside(dangling), nullptr);
  EXPECT_TRUE(fs::is_symlink(dangling));
}

// A file with two names is rewritten in its own inode: both names see the new content, and
// the temporary file goes. A failing copy-back fails the commit and leaves no temporary file
// (the file itself is the caller's backup's to restore).
TEST_F(FileIo, CommitOfAFileWithSeveralNamesKeepsItsInode)
{
  const std::string a = dir.Write("a.mp3", Pattern(5000));
  const std::string b = dir.Path() + "/b.mp3";
  ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
  const TFileTraits before = TraitsOf(a);
  for (const Bytes8 &content : {Pattern(9000), Pattern(100)}) {
    ASSERT_TRUE(Rewrite(a, content));
    EXPECT_EQ(ReadFileBytes(b), content);
    EXPECT_EQ(TraitsOf(a).Inode, before.Inode);
    EXPECT_EQ(TraitsOf(b).Links, 2u);
    EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  }
  // The commit's write-like operations are the copy and the fsync.
  for (int n : {1, 2}) {
    auto temp = TTempFile::CreateBeside(a);
    ASSERT_NE(temp, nullptr);
    ASSERT_TRUE(temp->Stream().WriteBuffer("x", 1));
    TWriteFaults::FailNth(n, ENOSPC);
    ClearFileError();
    EXPECT_FALSE(temp->Commit(a)) << n;
    EXPECT_EQ(FileError(), ENOSPC);
    TWriteFaults::Reset();
    temp.reset();
    EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  }
}

// Temporary files of ours that killed saves left are removed; one a save still holds (locked)
// stays, and so does everything of another name, kind or shape.
TEST_F(FileIo, StaleTempFilesOfOursGoOthersStay)
{
  const std::string target = dir.Write("song.mp3", Bytes().Str("x"));
  const std::vector<std::string> stale = {".song.mp3.corvella-AbC123", ".song.mp3.corvella-zzzzzz"};
  for (const std::string &name : stale) dir.Write(name, Pattern(100));
  std::vector<std::string> foreign = {
    ".song.mp3.corvella-AbC12",   ".song.mp3.corvella-AbC1234", ".song.mp3.corvella-AbC12!",
    ".song.mp3.corvella-",        ".other.mp3.corvella-AbC123", "song.mp3.corvella-AbC123",
    ".song.mp3.AbC123",           ".song.mp3.qln_bak.corvella-AbC123", ".Song.mp3.corvella-AbC123",
  };
  for (const std::string &name : foreign) dir.Write(name, Pattern(10));
  fs::create_directory(dir.Path() + "/.song.mp3.corvella-Folder");
  ASSERT_EQ(::symlink("song.mp3", (dir.Path() + "/.song.mp3.corvella-Linked").c_str()), 0);
  foreign.push_back(".song.mp3.corvella-Folder");
  foreign.push_back(".song.mp3.corvella-Linked");
  foreign.push_back("song.mp3");
  auto live = TTempFile::CreateBeside(target);
  ASSERT_NE(live, nullptr);
  foreign.push_back(fs::path(live->Path()).filename().string());
  // One that another process holds open with a lock of its own, as a running save does.
  const std::string held = dir.Write(".song.mp3.corvella-Held01", Pattern(10));
  const int heldFd = ::open(held.c_str(), O_RDONLY);
  ASSERT_GE(heldFd, 0);
  ASSERT_EQ(::flock(heldFd, LOCK_EX), 0);
  foreign.push_back(".song.mp3.corvella-Held01");
  std::sort(foreign.begin(), foreign.end());

  EXPECT_EQ(RemoveStaleTempFiles(target), 2);
  EXPECT_EQ(FolderEntries(dir.Path()), foreign);
  ::close(heldFd);
  EXPECT_EQ(RemoveStaleTempFiles(target), 1);

  // Through a link, the folder of the file it leads to is the one cleaned.
  fs::create_directory(dir.Path() + "/links");
  ASSERT_EQ(::symlink("../song.mp3", (dir.Path() + "/links/song.mp3").c_str()), 0);
  dir.Write(".song.mp3.corvella-ViaLnk", Pattern(10));
  EXPECT_EQ(RemoveStaleTempFiles(dir.Path() + "/links/song.mp3"), 1);
  live.reset();
}

// The first failure since the error was cleared is the one kept: the cause, not what
// followed it.
TEST_F(FileIo, FileErrorKeepsTheFirstFailure)
{
  const std::string path = dir.Write("f.bin", {});
  auto f = TFileStream::Open(path, TFileMode::fmOpenReadWrite);
  ASSERT_NE(f, nullptr);
  ClearFileError();
  TWriteFaults::FailNth(1, ENOSPC);
  EXPECT_EQ(f->Write("a", 1), 0);
  EXPECT_EQ(FileError(), ENOSPC);
  TWriteFaults::FailNth(1, EIO);
  EXPECT_FALSE(f->Sync());
  EXPECT_EQ(FileError(), ENOSPC);
  ClearFileError();
  EXPECT_EQ(FileError(), 0);
  TWriteFaults::Reset();
  EXPECT_TRUE(f->Sync());
  EXPECT_EQ(FileError(), 0);

  // Opening for writing counts; a directory is no regular file.
  EXPECT_EQ(TFileStream::Open(dir.Path(), TFileMode::fmOpenReadWrite), nullptr);
  EXPECT_EQ(FileError(), EISDIR);

  // FailFrom: every operation from the Nth on fails, as on a full disk.
  ClearFileError();
  TWriteFaults::FailFrom(2, ENOSPC);
  EXPECT_EQ(f->Write("a", 1), 1);
  EXPECT_EQ(f->Write("b", 1), 0);
  EXPECT_EQ(f->Write("c", 1), 0);
  EXPECT_FALSE(f->SetSize(0));
  EXPECT_EQ(FileError(), ENOSPC);
}

} // namespace
