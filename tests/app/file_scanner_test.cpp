#include "app/file_scanner.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Records what a scanner hands over and checks that every call arrives on the test's thread.
struct TScanLog {
  std::vector<std::string> Files;
  int Finished = 0;
  bool WrongThread = false;
  std::function<void(const std::string &)> OnFile;

  std::unique_ptr<TFileScanner> Make(const std::string &Root)
  {
    QThread *owner = QThread::currentThread();
    return std::make_unique<TFileScanner>(
      Root,
      [this, owner](const std::string &f) {
        WrongThread |= QThread::currentThread() != owner;
        Files.push_back(f);
        if (OnFile) OnFile(f);
      },
      [this, owner] {
        WrongThread |= QThread::currentThread() != owner;
        ++Finished;
      });
  }

  // Runs a scan to its end through the event loop, as the window does.
  void Run(const std::string &Root)
  {
    auto scanner = Make(Root);
    scanner->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Finished > 0 && scanner->isFinished(); }, 20000));
    EXPECT_EQ(scanner->Files(), Files);
  }
};

void Touch(const std::string &Path)
{
  fs::create_directories(fs::path(Path).parent_path());
  WriteFileBytes(Path, Bytes8{1, 2, 3});
}

std::vector<std::string> Sorted(std::vector<std::string> v)
{
  std::sort(v.begin(), v.end());
  return v;
}

} // namespace

TEST(FileScannerNames, AudioExtensionsWithoutRegardToCase)
{
  struct Case { const char *Name; bool Audio; };
  const Case cases[] = {
    {"a.mp3", true}, {"a.MP3", true}, {"a.Mp3", true}, {"a.flac", true}, {"a.OGG", true},
    {"a.ape", true}, {"a.WV", true}, {"a.mpc", true}, {"a.m4a", true}, {"a.wma", true}, {"a.WAV", true}, {".mp3", true},
    {"a.mp4", true}, {"a.M4B", true}, {"a.oga", true}, {"a.m4v", false}, {"a.Opus", true}, {"a.ogv", false}, {"a.mp3.txt", false}, {"mp3", false}, {"a.mp33", false},
    {"a.", false}, {"a.tar.flac", true}, {"a.aif", true}, {"a.AIFF", true}, {"a.dsf", true}, {"a.DFF", true},
  };
  for (const Case &c : cases) EXPECT_EQ(TFileScanner::IsAudioFileName(c.Name), c.Audio) << c.Name;
}

TEST(FileScanner, FindsAudioFilesInHiddenAndNestedFoldersOnTheCallingThread)
{
  TempDir dir;
  const std::string root = dir.Path();
  const std::vector<std::string> audio = {
    root + "/top.mp3", root + "/UPPER.FLAC", root + "/.hidden.ogg", root + "/.hidden dir/in.wav",
    root + "/a/b/c/deep.m4a", root + "/a/x.Wma", root + "/a/y.ape", root + "/stream.oga", root + "/a/voice.OPUS",
    root + "/clip.mp4", root + "/book.m4b",
  };
  for (const std::string &f : audio) Touch(f);
  for (const char *other : {"/clip.m4v", "/notes.txt", "/a/b/cover.jpg", "/a/video.ogv"}) Touch(root + other);
  fs::create_directories(root + "/folder.mp3");  // a folder with an audio name is walked, not reported

  TScanLog log;
  log.Run(root);
  EXPECT_EQ(Sorted(log.Files), Sorted(audio));
  EXPECT_EQ(log.Finished, 1);
  EXPECT_FALSE(log.WrongThread);
}

TEST(FileScanner, WalksDepthFirst)
{
  TempDir dir;
  const std::string root = dir.Path();
  for (const char *f : {"/1.mp3", "/2.mp3", "/s/1.mp3", "/s/2.mp3", "/s/t/1.mp3", "/s/t/2.mp3", "/u/1.mp3", "/u/2.mp3"})
    Touch(root + f);
  TScanLog log;
  log.Run(root);
  ASSERT_EQ(log.Files.size(), 8u);
  // The files below each folder are reported as one unbroken run.
  for (const std::string &prefix : {root + "/s/", root + "/s/t/", root + "/u/"}) {
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < log.Files.size(); ++i)
      if (log.Files[i].rfind(prefix, 0) == 0) at.push_back(i);
    ASSERT_FALSE(at.empty());
    EXPECT_EQ(at.back() - at.front() + 1, at.size()) << prefix;
  }
}

TEST(FileScanner, EmptyMissingAndUnlistableRootsFinishOnce)
{
  TempDir dir, other;
  Touch(dir.Path() + "/readme.txt");
  const std::string locked = other.Path() + "/locked";
  fs::create_directories(locked);
  Touch(locked + "/x.mp3");
  ::chmod(locked.c_str(), 0);
  const bool canStillList = ::access(locked.c_str(), R_OK) == 0;  // running as root

  for (const std::string &root : {dir.Path(), dir.Path() + "/missing", std::string()}) {
    TScanLog log;
    log.Run(root);
    EXPECT_TRUE(log.Files.empty()) << root;
    EXPECT_EQ(log.Finished, 1) << root;
  }
  if (!canStillList) {
    TScanLog log;
    log.Run(locked);
    EXPECT_TRUE(log.Files.empty());
    EXPECT_EQ(log.Finished, 1);
  }
  ::chmod(locked.c_str(), 0700);
}

TEST(FileScanner, FollowsNoFolderLinksAndReportsRegularFilesOnly)
{
  TempDir dir, outside;
  const std::string root = dir.Path();
  Touch(root + "/real.mp3");
  Touch(outside.Path() + "/elsewhere.mp3");
  Touch(root + "/sub/inner.mp3");
  ASSERT_EQ(::symlink(root.c_str(), (root + "/sub/loop").c_str()), 0);
  ASSERT_EQ(::symlink(outside.Path().c_str(), (root + "/away.mp3").c_str()), 0);
  ASSERT_EQ(::symlink((root + "/real.mp3").c_str(), (root + "/alias.mp3").c_str()), 0);
  ASSERT_EQ(::symlink((root + "/gone.mp3").c_str(), (root + "/dangling.mp3").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "/x.mp3").c_str(), 0600), 0);

  TScanLog log;
  log.Run(root);
  EXPECT_EQ(Sorted(log.Files), Sorted({root + "/alias.mp3", root + "/real.mp3", root + "/sub/inner.mp3"}));
  EXPECT_EQ(log.Finished, 1);
}

TEST(FileScanner, StopFromACallbackEndsWithinOneEntryAndStillFinishesOnce)
{
  TempDir dir;
  for (int i = 0; i < 20; ++i) Touch(dir.Path() + "/f" + std::to_string(i) + ".mp3");
  TScanLog log;
  auto scanner = log.Make(dir.Path());
  log.OnFile = [&](const std::string &) { scanner->Terminate(); };
  scanner->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.Finished > 0; }, 20000));
  EXPECT_TRUE(scanner->WaitFor());
  EXPECT_EQ(log.Files.size(), 1u);
  EXPECT_EQ(log.Finished, 1);
}

TEST(FileScannerStop, WaitForServesHandOversWithoutAnEventLoop)
{
  TempDir dir;
  for (int i = 0; i < 5; ++i) Touch(dir.Path() + "/f" + std::to_string(i) + ".mp3");
  TScanLog log;
  auto scanner = log.Make(dir.Path());
  scanner->Start();
  // No event is processed here: the worker blocks in its first hand-over, which a plain join
  // would never release.
  scanner->Terminate();
  EXPECT_TRUE(scanner->WaitFor());
  EXPECT_TRUE(scanner->isFinished());
  EXPECT_LE(log.Files.size(), 1u);
  EXPECT_EQ(log.Finished, 1);

  // The queued deliveries of a destroyed scanner are dropped, never run late.
  const std::size_t files = log.Files.size();
  scanner.reset();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(log.Files.size(), files);
  EXPECT_EQ(log.Finished, 1);
}

TEST(FileScannerStop, WaitForFromItsOwnCallbackDoesNotBlock)
{
  TempDir dir;
  Touch(dir.Path() + "/a.mp3");
  Touch(dir.Path() + "/b.mp3");
  TScanLog log;
  auto scanner = log.Make(dir.Path());
  int refused = 0;
  log.OnFile = [&](const std::string &) {
    scanner->Terminate();
    if (!scanner->WaitFor()) ++refused;
  };
  scanner->Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return log.Finished > 0; }, 20000));
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(scanner->WaitFor());
  EXPECT_EQ(log.Finished, 1);
}

TEST(FileScannerStop, DestroyingARunningScannerJoinsIt)
{
  TempDir dir;
  for (int i = 0; i < 50; ++i) Touch(dir.Path() + "/d" + std::to_string(i % 5) + "/f" + std::to_string(i) + ".mp3");
  TScanLog log;
  {
    auto scanner = log.Make(dir.Path());
    scanner->Start();
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(log.Finished, 1);
}
