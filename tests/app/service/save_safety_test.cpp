// What a save through the tag service keeps and says beyond the tags: the file's identity
// (owner, mode, ACLs, attributes, links), its backup written whole or not at all, temporary
// files of killed saves cleaned up, a reason with every failure, and set-entry under the same
// protection as a record's save.
#include "app/service/tag_service.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/file_traits.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace fs = std::filesystem;

namespace {

constexpr const char *kID3v1Fixture = "mp3/id3v1-only.mp3";
constexpr const char *kUntaggedFixture = "mp3/notags.mp3";
constexpr const char *kID3v24Fixture = "mp3/id3v24-utf8.mp3";
constexpr uid_t kOtherUser = 65534;
constexpr gid_t kOtherGroup = 65534;
// The backup takes three write-like operations: the copy, its fsync and its rename.
constexpr int kBackupOperations = 3;

class SaveSafety : public ::testing::Test {
protected:
  void TearDown() override { TWriteFaults::Reset(); }

  // The record of File with Title changed.
  TAudioTag Edited(const std::string &File, const std::string &Title)
  {
    TAudioTag tag;
    EXPECT_TRUE(service->LoadTag(File, tag)) << service->GetLastError();
    tag.Title = Title;
    return tag;
  }
  std::string TitleOf(const std::string &File)
  {
    TAudioTag tag;
    EXPECT_TRUE(service->LoadTag(File, tag)) << service->GetLastError();
    return tag.Title;
  }

  TempDir dir;
  std::shared_ptr<ITagService> service = CreateTagService();
};

// A save that grows the ID3v2 tag beyond its padding rebuilds the file (a new inode); the
// file keeps its owner and group, mode, ACL and user attribute.
TEST_F(SaveSafety, RebuildKeepsOwnerModeAclAndAttributes)
{
  for (const char *fixture : {kID3v24Fixture, kID3v1Fixture}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture, "song.mp3");
    const bool root = ::geteuid() == 0;
    if (root) {
      ASSERT_EQ(::chown(file.c_str(), kOtherUser, kOtherGroup), 0);
    }
    ASSERT_EQ(::chmod(file.c_str(), 0664), 0);
    if (!SetAttribute(file, "user.corvella.rating", Bytes().Str("5 stars").v)) GTEST_SKIP() << "no user attributes";
    ASSERT_TRUE(SetAttribute(file, kAccessAclAttribute, AccessAcl(6, 1234, 6, 4)));
    const TFileTraits before = TraitsOf(file);

    TAudioTag tag = Edited(file, "Grown");
    tag.Lyrics = std::string(60000, 'l');
    ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();

    const TFileTraits after = TraitsOf(file);
    EXPECT_NE(after.Inode, before.Inode) << "not a rebuild";
    EXPECT_EQ(after.Uid, before.Uid);
    EXPECT_EQ(after.Gid, before.Gid);
    EXPECT_EQ(after.Mode, before.Mode);
    EXPECT_EQ(after.Attributes, before.Attributes);
    if (root) {
      EXPECT_EQ(after.Uid, kOtherUser);
      EXPECT_EQ(after.Gid, kOtherGroup);
    }
    EXPECT_EQ(TitleOf(file), "Grown");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"song.mp3"});
  }
}

// Saved through a link, the link stays a link and the file it leads to holds the change; the
// backup stands beside the link while it is needed and goes after, nothing is left anywhere.
TEST_F(SaveSafety, SaveThroughASymbolicLinkKeepsTheLink)
{
  fs::create_directories(dir.Path() + "/real");
  fs::create_directories(dir.Path() + "/links");
  const std::string real = dir.CopyFixture(kID3v1Fixture, "real/song.mp3");
  const std::string link = dir.Path() + "/links/song.mp3";
  ASSERT_EQ(::symlink("../real/song.mp3", link.c_str()), 0);

  ASSERT_TRUE(service->SaveTag(Edited(link, "Through the link"))) << service->GetLastError();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), fs::path("../real/song.mp3"));
  EXPECT_EQ(TitleOf(real), "Through the link");
  EXPECT_EQ(FolderEntries(dir.Path() + "/real"), std::vector<std::string>{"song.mp3"});
  EXPECT_EQ(FolderEntries(dir.Path() + "/links"), std::vector<std::string>{"song.mp3"});

  ASSERT_TRUE(service->RemoveTags(link)) << service->GetLastError();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(TitleOf(real), "");
}

// A file with two names: a save through either is seen through both, in the same inode.
// Whatever write fails, both names read the old bytes afterwards (the backup is copied back
// into the shared inode).
TEST_F(SaveSafety, FileWithTwoNamesIsSavedForBoth)
{
  for (const char *fixture : {kID3v1Fixture, kUntaggedFixture}) {
    SCOPED_TRACE(fixture);
    const TempDir folder;
    const std::string a = folder.CopyFixture(fixture, "a.mp3");
    const std::string b = folder.Path() + "/b.mp3";
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const Bytes8 before = ReadFileBytes(a);
    const ino_t inode = TraitsOf(a).Inode;
    const TAudioTag tag = Edited(a, "Both names");

    TWriteFailureSteps steps;
    steps.Save = [&] { return service->SaveTag(tag); };
    steps.CheckIntact = [&](int) {
      EXPECT_EQ(ReadFileBytes(a), before) << service->GetLastError();
      EXPECT_EQ(TraitsOf(b).Inode, inode);
      EXPECT_EQ(TraitsOf(b).Links, 2u);
      ::unlink(TagBackupFileName(a).c_str());
      EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"a.mp3", "b.mp3"}));
    };
    steps.Limit = 100;
    ASSERT_TRUE(RunFailingEachWriteInTurn(steps).Succeeded) << service->GetLastError();
    EXPECT_EQ(TitleOf(b), "Both names");
    EXPECT_EQ(TraitsOf(a).Inode, inode);
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  }
}

struct TInjectedCase {
  const char *Name;
  int Errno;
  int Nth;  // counted from the first operation after the backup
  const char *Want;
};

// A failure says why: the system error of the operation that failed follows the fixed text
// and the code.
TEST_F(SaveSafety, InjectedFailuresSayWhy)
{
  const TInjectedCase cases[] = {
    {"full_disk", ENOSPC, 1, "Tags save error: 7: no space left on device"},
    {"quota", EDQUOT, 1, "Tags save error: 7: disk quota exceeded"},
    {"denied", EACCES, 1, "Tags save error: 7: permission denied"},
    {"device", EIO, 1, "Tags save error: 7: input/output error"},
  };
  for (const TInjectedCase &c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string file = dir.CopyFixture(kUntaggedFixture, std::string(c.Name) + ".mp3");
    const Bytes8 before = ReadFileBytes(file);
    const TAudioTag tag = Edited(file, "x");
    TWriteFaults::FailNth(kBackupOperations + c.Nth, c.Errno);
    EXPECT_FALSE(service->SaveTag(tag));
    EXPECT_EQ(service->GetLastError(), c.Want);
    EXPECT_EQ(ReadFileBytes(file), before);
    TWriteFaults::Reset();
    ::unlink(TagBackupFileName(file).c_str());
  }

  // The backup's own failure names the backup and the reason.
  const std::string file = dir.CopyFixture(kUntaggedFixture, "backup.mp3");
  const TAudioTag tag = Edited(file, "x");
  TWriteFaults::FailNth(1, ENOSPC);
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError(), "Backup failed: " + TagBackupFileName(file) + ": no space left on device");
  EXPECT_FALSE(FileExists(TagBackupFileName(file)));
}

// On a full disk (every write from the first after the backup failing) the save fails once:
// the rebuild is planned and tried once, nothing is retried in another round, the file is as
// it was and says why.
TEST_F(SaveSafety, FullDiskFailsTheSaveOnce)
{
  for (const char *fixture : {kUntaggedFixture, kID3v1Fixture, kID3v24Fixture}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture, "full.mp3");
    const Bytes8 before = ReadFileBytes(file);
    TAudioTag tag = Edited(file, "x");
    tag.Lyrics = std::string(60000, 'l');
    TWriteFaults::FailFrom(kBackupOperations + 1, ENOSPC);
    EXPECT_FALSE(service->SaveTag(tag));
    const int operations = TWriteFaults::OperationsSoFar();
    TWriteFaults::Reset();
    EXPECT_EQ(service->GetLastError().rfind("Tags save error: 7: no space left on device", 0), 0u)
      << service->GetLastError();
    EXPECT_EQ(ReadFileBytes(file), before);
    // The first write of the tag fails; its rollback (two tries at most) and the restore's
    // comparison follow, but no second rebuild.
    EXPECT_LE(operations - kBackupOperations, 3) << service->GetLastError();
    ::unlink(TagBackupFileName(file).c_str());
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"full.mp3"});
    ::unlink(file.c_str());
  }
}

// Refusals that need no injected failure: each is made before anything is copied, so no
// backup appears.
TEST_F(SaveSafety, RefusalsSayWhyAndMakeNoBackup)
{
  const std::string fifo = dir.Path() + "/pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  TAudioTag tag;
  EXPECT_FALSE(service->LoadTag(fifo, tag));
  EXPECT_EQ(service->GetLastError(), "Tags load error: 5: not a regular file");
  tag.FileName = fifo;
  tag.Title = "x";
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastError(), "Tags load error: 5: not a regular file");
  EXPECT_FALSE(service->RemoveTags(fifo));
  EXPECT_EQ(service->GetLastError(), "Tags remove error: 5: not a regular file");
  EXPECT_FALSE(service->SetEntries(fifo, {{"TITLE", "x"}}));
  EXPECT_EQ(service->GetLastError(), "Tags load error: 5: not a regular file");
  EXPECT_FALSE(service->LoadTag(dir.Path(), tag));
  EXPECT_EQ(service->GetLastError(), "Tags load error: 5: not a regular file");

  // A layout the library does not write into (RF64 sizes that disagree), and a read-only
  // file, through both kinds of save.
  const std::string rf64 = dir.CopyFixture("rf64/rf64-id3-kid3-inconsistent.wav", "song.wav");
  const Bytes8 rf64Before = ReadFileBytes(rf64);
  EXPECT_FALSE(service->SaveTag(Edited(rf64, "x")));
  EXPECT_EQ(service->GetLastError().rfind("Tags save error: 8: ", 0), 0u) << service->GetLastError();
  EXPECT_FALSE(service->SetEntries(rf64, {{"TITLE", "x"}}));
  EXPECT_EQ(service->GetLastError().rfind("Tags save error: 8: ", 0), 0u) << service->GetLastError();
  EXPECT_EQ(ReadFileBytes(rf64), rf64Before);

  const std::string locked = dir.CopyFixture(kID3v1Fixture, "locked.mp3");
  const TAudioTag edited = Edited(locked, "x");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  EXPECT_FALSE(service->SaveTag(edited));
  EXPECT_EQ(service->GetLastError(), "Tags save error: 5: read-only file");
  EXPECT_FALSE(service->SetEntries(locked, {{"TITLE", "x"}}));
  EXPECT_EQ(service->GetLastError(), "Tags save error: 5: read-only file");

  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"locked.mp3", "pipe.mp3", "song.wav"}));
}

// A user who may not write (or read) the file: the reason is "permission denied". Run in a
// child process that gives up root, since root may write any file.
TEST_F(SaveSafety, PermissionDeniedForAnotherUser)
{
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  const std::string writable = dir.CopyFixture(kID3v1Fixture, "theirs.mp3");
  const std::string secret = dir.CopyFixture(kID3v1Fixture, "secret.mp3");
  ASSERT_EQ(::chmod(writable.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  const TAudioTag tag = Edited(writable, "Not mine");

  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The child reports through its exit status only: 0 when every text was as expected.
    int failed = ::setgid(kOtherGroup) != 0 || ::setuid(kOtherUser) != 0 ? 10 : 0;
    TTagService other;
    if (!failed && (other.SaveTag(tag) || other.GetLastError() != "Tags save error: 5: permission denied")) failed = 11;
    TAudioTag loaded;
    if (!failed && (other.LoadTag(secret, loaded) || other.GetLastError() != "Tags load error: 5: permission denied"))
      failed = 12;
    if (!failed && (other.RemoveTags(writable) || other.GetLastError() != "Tags remove error: 5: permission denied"))
      failed = 13;
    ::_exit(failed);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not become another user, 11: save, 12: load, 13: remove";
  EXPECT_FALSE(FileExists(TagBackupFileName(writable)));
}

// The backup takes its name only when complete and synced: a failure at its copy, its fsync
// or its rename leaves no backup (and no temporary file) at all, and the file untouched.
TEST_F(SaveSafety, BackupAppearsOnlyWhenComplete)
{
  for (int n = 1; n <= kBackupOperations; ++n) {
    SCOPED_TRACE(n);
    const TempDir folder;
    const std::string file = folder.CopyFixture(kID3v1Fixture, "song.mp3");
    const Bytes8 before = ReadFileBytes(file);
    const TAudioTag tag = Edited(file, "x");
    TWriteFaults::FailNth(n, EIO);
    EXPECT_FALSE(service->SaveTag(tag));
    TWriteFaults::Reset();
    EXPECT_EQ(service->GetLastError(), "Backup failed: " + TagBackupFileName(file) + ": input/output error");
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"song.mp3"});
    EXPECT_EQ(ReadFileBytes(file), before);
  }
}

// A save killed while it wrote the backup or the rebuilt file leaves only temporary files of
// ours; the next save of that file removes them and leaves every other name alone.
TEST_F(SaveSafety, TemporaryFilesOfKilledSavesAreRemovedNextTime)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture, "song.mp3");
  const Bytes8 half = Slice(ReadFileBytes(file), 0, 1000).v;
  dir.Write(".song.mp3.qln_bak.corvella-Ab12Cd", half);  // a backup cut short
  dir.Write(".song.mp3.corvella-Xy98Zw", half);          // a rebuild cut short
  dir.Write(".other.mp3.corvella-Xy98Zw", half);
  dir.Write(".song.mp3.tmp", half);
  dir.Write("notes.txt", half);
  // A cut-short backup is never under the backup's own name, so the save goes ahead.
  ASSERT_TRUE(service->SaveTag(Edited(file, "After the crash"))) << service->GetLastError();
  EXPECT_EQ(FolderEntries(dir.Path()),
            (std::vector<std::string>{".other.mp3.corvella-Xy98Zw", ".song.mp3.tmp", "notes.txt", "song.mp3"}));
}

// A backup left by a killed save that equals the file goes; one that differs blocks the save
// with a text that says the backup is the complete copy and how to go back, until it is
// restored (or deleted).
TEST_F(SaveSafety, DifferingBackupBlocksUntilRestored)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture, "song.mp3");
  const std::string backup = TagBackupFileName(file);
  const Bytes8 original = ReadFileBytes(file);
  WriteFileBytes(backup, original);
  ASSERT_TRUE(service->SaveTag(Edited(file, "Saved once"))) << service->GetLastError();
  EXPECT_FALSE(FileExists(backup));
  const Bytes8 changed = ReadFileBytes(file);

  EXPECT_FALSE(service->RestoreBackup(file));
  EXPECT_EQ(service->GetLastError(), "Restore failed: " + backup + ": there is no backup");

  WriteFileBytes(backup, original);
  const TAudioTag tag = Edited(file, "Blocked");
  EXPECT_FALSE(service->SaveTag(tag));
  EXPECT_EQ(service->GetLastFailure(), tsfBackupDiffers);
  const std::string error = service->GetLastError();
  EXPECT_EQ(error.rfind("Backup failed: a backup from an earlier failed save differs from the file: " + backup, 0), 0u)
    << error;
  EXPECT_NE(error.find("The backup is the complete file from before that save"), std::string::npos) << error;
  EXPECT_NE(error.find("restore the backup (move it over the file)"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(file), changed);
  EXPECT_FALSE(service->SetEntries(file, {{"TITLE", "x"}}));
  EXPECT_EQ(service->GetLastFailure(), tsfBackupDiffers);
  EXPECT_FALSE(service->RemoveTags(file));
  EXPECT_EQ(service->GetLastFailure(), tsfBackupDiffers);

  // Restored into the file's own inode; then the save goes ahead.
  const ino_t inode = TraitsOf(file).Inode;
  ASSERT_TRUE(service->RestoreBackup(file)) << service->GetLastError();
  EXPECT_EQ(service->GetLastFailure(), tsfNone);
  EXPECT_EQ(ReadFileBytes(file), original);
  EXPECT_EQ(TraitsOf(file).Inode, inode);
  EXPECT_FALSE(FileExists(backup));
  ASSERT_TRUE(service->SaveTag(tag)) << service->GetLastError();
  EXPECT_EQ(TitleOf(file), "Blocked");

  // A restore onto a read-only file is refused, the backup stays.
  WriteFileBytes(backup, original);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  EXPECT_FALSE(service->RestoreBackup(file));
  EXPECT_EQ(service->GetLastError(), "Restore failed: " + file + ": read-only file");
  EXPECT_TRUE(FileExists(backup));
}

// When the backup cannot be copied back after a failed save, the text says where the complete
// original is.
TEST_F(SaveSafety, FailedRestoreSaysWhereTheOriginalIs)
{
  const std::string file = dir.CopyFixture(kID3v1Fixture, "song.mp3");
  const Bytes8 original = ReadFileBytes(file);
  TAudioTag tag = Edited(file, "x");
  tag.Lyrics = std::string(60000, 'l');
  // The backup, then ID3v1 in place (write and fsync), then the rebuild's first write fails;
  // from there on everything fails, the copy back too.
  TWriteFaults::FailFrom(kBackupOperations + 3, ENOSPC);
  EXPECT_FALSE(service->SaveTag(tag));
  TWriteFaults::Reset();
  const std::string error = service->GetLastError();
  EXPECT_EQ(error.rfind("Tags save error: 7: no space left on device", 0), 0u) << error;
  if (ReadFileBytes(file) != original) {
    EXPECT_NE(error.find("; the file could not be put back; the complete original is in " + TagBackupFileName(file)),
              std::string::npos)
      << error;
  }
  EXPECT_EQ(ReadFileBytes(TagBackupFileName(file)), original);
  ASSERT_TRUE(service->RestoreBackup(file)) << service->GetLastError();
  EXPECT_EQ(ReadFileBytes(file), original);
}

// set-entry's service call: the same backup and restore as a record's save, whatever write
// fails; the entries are there after the run that nothing failed.
TEST_F(SaveSafety, SetEntriesRestoresTheFileWhateverFails)
{
  for (const char *fixture : {kID3v1Fixture, kUntaggedFixture, kID3v24Fixture}) {
    SCOPED_TRACE(fixture);
    const TempDir folder;
    const std::string file = folder.CopyFixture(fixture, "song.mp3");
    SetOldModTime(file);
    const Bytes8 before = ReadFileBytes(file);
    const std::vector<TTagEntryValue> entries = {{"REPLAYGAIN_TRACK_GAIN", "-6.5 dB"}, {"TITLE", "Entry"}};
    TWriteFailureSteps steps;
    steps.Save = [&] { return service->SetEntries(file, entries); };
    steps.CheckIntact = [&](int) {
      const std::string error = service->GetLastError();
      EXPECT_NE(error, "");
      EXPECT_EQ(ReadFileBytes(file), before) << error;
      ::unlink(TagBackupFileName(file).c_str());
      EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"song.mp3"}) << error;
    };
    steps.Limit = 100;
    const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
    ASSERT_TRUE(run.Succeeded) << service->GetLastError();
    EXPECT_GE(run.Failures, kBackupOperations + 1);
    TTags tags;
    ASSERT_EQ(LoadTagsOfFile(tags, file), tagsOk);
    EXPECT_EQ(tags.GetText("REPLAYGAIN_TRACK_GAIN"), "-6.5 dB");
    EXPECT_EQ(tags.GetText("TITLE"), "Entry");
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"song.mp3"});
  }
}

} // namespace
