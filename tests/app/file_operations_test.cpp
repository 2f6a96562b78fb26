#include "app/file_operations.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/editing_model.h"
#include "app/service/tag_service.h"
#include "tags/streams/file_io.h"
#include "tests/app/fake_editor.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace fs = std::filesystem;

namespace {

class TFakeFolderTree : public IFolderTree {
public:
  std::string Selected;
  std::vector<std::string> Refreshed;

  std::string SelectedFolder() const override { return Selected; }
  void SelectFolder(const std::string &Path) override { Selected = Path; }
  void RefreshFolder(const std::string &Path) override { Refreshed.push_back(Path); }
};

// Every entry below Root, as paths relative to it, sorted.
std::vector<std::string> Listing(const std::string &Root)
{
  std::vector<std::string> entries;
  for (const auto &e : fs::recursive_directory_iterator(Root)) entries.push_back(fs::relative(e.path(), Root).string());
  std::sort(entries.begin(), entries.end());
  return entries;
}

class FileOperations : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(Dir.isValid());
    View.Model = &Model;
    Tree.Selected = Root();
    // No desktop trash unless a test gives one: deleted files are gone.
    Ops.MoveToTrash = [](const std::string &) { return false; };
  }

  std::string Root() const { return Dir.path().toStdString(); }
  std::string At(const std::string &Rel) const { return Root() + "/" + Rel; }

  // A writable copy of an MP3 fixture at Rel, titled Title.
  std::string AddSong(const std::string &Rel, const std::string &Title)
  {
    const std::string path = At(Rel);
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(QFile::copy(QString::fromStdString(FixturePath("mp3/id3v24-utf8.mp3")), QString::fromStdString(path)));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    TTagService service;
    TAudioTag tag;
    EXPECT_TRUE(service.LoadTag(path, tag));
    tag.FileName = path;
    tag.Title = Title;
    EXPECT_TRUE(service.SaveTag(tag));
    return path;
  }

  std::string TitleOnDisk(const std::string &Path)
  {
    TAudioTag tag;
    EXPECT_TRUE(TTagService().LoadTag(Path, tag)) << Path;
    return tag.Title;
  }

  void Scan(const std::string &Folder)
  {
    QSignalSpy done(&Model, &TEditingModel::ScanCompleted);
    Model.StartScan(Folder);
    ASSERT_TRUE(done.wait(20000));
  }

  void Select(const std::vector<std::string> &Files)
  {
    View.Selected.clear();
    for (const std::string &f : Files) {
      const int row = Model.FindListItem(f);
      ASSERT_GE(row, 0) << f;
      View.Selected.push_back(row);
    }
    Model.lvFilesSelectItem();
  }

  // The title a row shows.
  QString RowTitle(const std::string &Path) const { return Model.CellText(Model.FindListItem(Path), flcTitle); }

  std::pair<TMessageKind, QString> LastMessage() const
  {
    return Prompts.Messages.empty() ? std::make_pair(mkInformation, QString("<none>")) : Prompts.Messages.back();
  }

  QTemporaryDir Dir;
  std::shared_ptr<ITagService> Service = CreateTagService();
  TFakeView View;
  TFakePrompts Prompts;
  TFakeFolderTree Tree;
  TEditingModel Model{Service, View, Prompts};
  TFileOperations Ops{Model, Prompts, Tree};
};

const QString kRefused = "A name cannot be \".\" or \"..\" and cannot contain \"/\" or a NUL character:";

} // namespace

TEST(FileOperationNames, PatternsExpandInOrderAndSanitize)
{
  TAudioTag tag;
  tag.Title = "A";
  tag.Artist = "Art";
  tag.Album = "Alb";
  tag.Track = "3/12";
  tag.Year = "1999";
  tag.Genre = "Rock";
  tag.AlbumArtist = "AA";
  tag.Composer = "Comp";
  struct Case { const char *Pattern; int N; const char *Title; const char *Want; };
  const Case cases[] = {
    {"%num% %TITLE%", 1, "A", "01 A"},
    {"%num% %Title%", 12, "B", "12 B"},
    {"%NUM%", 123, "A", "123"},
    {"%artist% - %title%", 1, "x/y: z", "Art - x_y_ z"},
    {"%title%", 1, "<>:\"/\\|?*", "_________"},
    {"%title%", 1, "   ", ""},
    {"  %title%  ", 1, "a", "a"},
    {"%track% %year% %genre% %album% %albumartist% %composer%", 1, "t", "3_12 1999 Rock Alb AA Comp"},
    // A value holding a later token is replaced again by that later step.
    {"%title%", 1, "%year%", "1999"},
    {"%year%", 1, "x", "1999"},
    {"100%", 1, "x", "100%"},
    // A leading dot would hide the file; dots are dropped with the blanks between them.
    {"%title%", 1, "../x", "_x"},
    {"%title%", 1, ".hidden", "hidden"},
    {"%title%", 1, " . .. x.y.", "x.y."},
    {"%title% %num%", 1, "...", "01"},
    {"%title%", 1, "..", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Pattern);
    tag.Title = c.Title;
    EXPECT_EQ(ExpandRenamePattern(c.Pattern, tag, c.N), c.Want);
  }
}

TEST(FileOperationNames, APatternGivesNoNameWhenEveryTagItNamesIsBlank)
{
  TAudioTag blank;
  blank.Title = "  ";
  TAudioTag titled;
  titled.Title = "T";
  struct Case { const char *Pattern; bool Blank, Titled; };
  const Case cases[] = {
    {"%artist% - %title%", false, true},
    {"%ARTIST%", false, false},
    {"%num% - %title%", false, true},
    {"%num%", true, true},         // numbering names every file
    {"Track", true, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Pattern);
    EXPECT_EQ(PatternHasTagValues(c.Pattern, blank), c.Blank);
    EXPECT_EQ(PatternHasTagValues(c.Pattern, titled), c.Titled);
  }
}

TEST(FileOperationNames, EntryNamesAndExtensions)
{
  for (const std::string &bad : std::vector<std::string>{"", ".", "..", "a/b", "../x", "/", std::string("a\0b", 3)})
    EXPECT_FALSE(IsValidEntryName(bad)) << bad;
  for (const std::string &good : std::vector<std::string>{"a", "...", ".hidden", "a\\b", "x..y", " .. "})
    EXPECT_TRUE(IsValidEntryName(good)) << good;
  EXPECT_EQ(FileNameExtension("New Name"), "");
  EXPECT_EQ(FileNameExtension("New Name.ogg"), ".ogg");
  EXPECT_EQ(FileNameExtension("/a.b/song"), "");
  EXPECT_EQ(FileNameExtension("/a/x.tar.mp3"), ".mp3");
}

TEST_F(FileOperations, SingleRenameKeepsOrAddsTheExtensionAndCarriesTheRecord)
{
  const std::string song = AddSong("song.mp3", "Song");
  Scan(Root());
  Select({song});

  Prompts.InputAnswers = {"  New Name  "};
  Ops.btnRenameFileClick(rcRenameFile);
  ASSERT_EQ(Prompts.Inputs.size(), 1u);
  EXPECT_EQ(Prompts.Inputs[0].Title, "Rename file");
  EXPECT_EQ(Prompts.Inputs[0].Prompt, "Enter new file name:");
  EXPECT_EQ(Prompts.Inputs[0].Value, "song.mp3");
  const std::string renamed = At("New Name.mp3");
  EXPECT_TRUE(FileExists(renamed));
  EXPECT_FALSE(FileExists(song));
  EXPECT_EQ(View.Status, QString::fromStdString("Renamed: " + renamed));
  EXPECT_EQ(Model.FindListItem(song), -1);
  const int row = Model.FindListItem(renamed);
  ASSERT_GE(row, 0);
  EXPECT_EQ(Model.CellText(row, flcFile), "New Name.mp3");
  EXPECT_EQ(Model.CurrentFile(), renamed);
  ASSERT_NE(Model.FindCachedTag(renamed), nullptr);
  EXPECT_TRUE(Model.FindCachedTag(renamed)->Tag.Modified);
  // The next save writes the record into the file at its new path.
  EXPECT_EQ(Model.btnSaveClick().Saved, 1);
  EXPECT_FALSE(FileExists(song));

  Prompts.InputAnswers = {"New Name.ogg"};
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_TRUE(FileExists(At("New Name.ogg")));
  EXPECT_EQ(TitleOnDisk(At("New Name.ogg")), "Song");
}

TEST_F(FileOperations, SingleRenameStopsWhereItShould)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  Scan(Root());

  View.Selected.clear();
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Please select one or more files to rename.")));
  Select({a, b});
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Please select one file to rename.")));

  Select({a});
  const auto before = Listing(Root());
  Ops.btnRenameFileClick(rcRenameFile);  // cancelled
  Prompts.InputAnswers = {"   "};
  Ops.btnRenameFileClick(rcRenameFile);
  Prompts.InputAnswers = {"a.mp3"};
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_EQ(Listing(Root()), before);
  EXPECT_EQ(Prompts.Messages.size(), 2u);

  // Never onto an existing file: both files keep their contents.
  const Bytes8 bytesA = ReadFileBytes(a), bytesB = ReadFileBytes(b);
  Prompts.InputAnswers = {"b"};
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_EQ(LastMessage(), std::make_pair(mkError, QString("Failed to rename file.")));
  EXPECT_EQ(ReadFileBytes(a), bytesA);
  EXPECT_EQ(ReadFileBytes(b), bytesB);
  EXPECT_GE(Model.FindListItem(a), 0);

  // File names are case-sensitive here: a change of case alone is a rename of its own.
  Prompts.InputAnswers = {"A.mp3"};
  Ops.btnRenameFileClick(rcRenameFile);
  EXPECT_TRUE(FileExists(At("A.mp3")));
  EXPECT_FALSE(FileExists(a));
  EXPECT_GE(Model.FindListItem(At("A.mp3")), 0);
  EXPECT_EQ(Model.FindListItem(a), -1);
}

TEST_F(FileOperations, TypedNamesCannotLeaveTheirFolder)
{
  const std::string song = AddSong("music/song.mp3", "Song");
  Tree.Selected = At("music");
  Scan(Tree.Selected);
  Select({song});
  const auto before = Listing(Root());
  for (const QString &name : {QString(".."), QString("."), QString("../escaped"), QString("sub/x.mp3"), QString("/tmp/x"),
                             QString::fromUtf8("a\0b.mp3", 7)}) {
    SCOPED_TRACE(name.toStdString());
    Prompts.Messages.clear();
    Prompts.InputAnswers = {name};
    Ops.btnRenameFileClick(rcRenameFile);
    Prompts.InputAnswers = {name};
    Ops.btnNewFolderClick();
    Prompts.InputAnswers = {name};
    Ops.btnRenameFolderClick();
    ASSERT_EQ(Prompts.Messages.size(), 3u);
    for (const auto &[kind, text] : Prompts.Messages) {
      EXPECT_EQ(kind, mkWarning);
      EXPECT_TRUE(text.startsWith(kRefused)) << text.toStdString();
    }
    EXPECT_EQ(Listing(Root()), before);
  }
  EXPECT_EQ(Prompts.Messages.back().second, kRefused + "\r\n" + QString::fromUtf8("a\u2400b.mp3"));
  EXPECT_GE(Model.FindListItem(song), 0);
}

TEST_F(FileOperations, PatternRenameCountsWhatItRenamed)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  const std::string c = AddSong("c.mp3", "C");
  const std::string taken = AddSong("02 X.mp3", "X");
  Scan(Root());
  // Numbers follow the list's order: sorted by name (the first click sorts descending).
  Model.lvFilesColumnClick(flcFile);
  Model.lvFilesColumnClick(flcFile);
  Select({a, b, c});
  // b's title makes a name that is taken; c's record holds a NUL that cannot be in a name.
  TAudioTag tag;
  ASSERT_TRUE(Model.TryGetTag(b, tag));
  tag.Title = "X";
  Model.StoreTag(tag);
  ASSERT_TRUE(Model.TryGetTag(c, tag));
  tag.Title = std::string("C\0D", 3);
  Model.StoreTag(tag);
  const Bytes8 takenBytes = ReadFileBytes(taken);

  Prompts.InputAnswers = {" %num% %TITLE% "};
  Ops.btnRenameFileClick(rcTagToName);
  ASSERT_EQ(Prompts.Inputs.size(), 1u);
  EXPECT_EQ(Prompts.Inputs[0].Title, "Batch rename");
  EXPECT_EQ(Prompts.Inputs[0].Prompt, "Enter pattern (use %artist%, %title%, %album%, %track%, %year%, %num%):");
  EXPECT_EQ(Prompts.Inputs[0].Value, "%artist% - %title%");
  EXPECT_EQ(View.Status, "Renamed 1 file(s).");
  EXPECT_TRUE(FileExists(At("01 A.mp3")));
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(FileExists(b));
  EXPECT_TRUE(FileExists(c));
  EXPECT_EQ(ReadFileBytes(taken), takenBytes);
  EXPECT_EQ(LastMessage().first, mkWarning);
  EXPECT_EQ(LastMessage().second, kRefused + "\r\n" + QString::fromUtf8("03 C\u2400D.mp3"));

  // One file through "Tag to Name..." takes the pattern too.
  Select({b});
  ASSERT_TRUE(Model.TryGetTag(b, tag));
  tag.Title = "Bee";
  Model.StoreTag(tag);
  Prompts.InputAnswers = {"%num% %title%"};
  Ops.btnRenameFileClick(rcTagToName);
  EXPECT_TRUE(FileExists(At("01 Bee.mp3")));
  EXPECT_EQ(View.Status, "Renamed 1 file(s).");
}

TEST_F(FileOperations, PatternRenameSkipsFilesWhoseTagsGiveNoName)
{
  const std::string a = AddSong("a.mp3", "");
  const std::string b = AddSong("b.mp3", "B");
  Scan(Root());
  Select({a, b});
  TAudioTag tag;
  ASSERT_TRUE(Model.TryGetTag(a, tag));
  tag.Artist.clear();
  Model.StoreTag(tag);
  ASSERT_TRUE(Model.TryGetTag(b, tag));
  tag.Artist = "..";
  Model.StoreTag(tag);
  Prompts.InputAnswers = {"%artist% - %title%"};
  Ops.btnRenameFileClick(rcTagToName);
  EXPECT_TRUE(FileExists(a));  // not "-.mp3"
  EXPECT_FALSE(FileExists(At("-.mp3")));
  EXPECT_TRUE(FileExists(At("- B.mp3")));  // not the hidden ".. - B.mp3"
  EXPECT_EQ(View.Status, "Renamed 1 file(s). Skipped 1 file(s): their tags give no name.");
}

TEST_F(FileOperations, UndoFollowsAPatternRename)
{
  const std::string a = AddSong("a.mp3", "Old");
  Scan(Root());
  Select({a});
  View.Type(efTitle, "New");
  Model.btnSaveClick();
  ASSERT_EQ(TitleOnDisk(a), "New");

  Prompts.InputAnswers = {"%title%"};
  Ops.btnRenameFileClick(rcTagToName);
  const std::string renamed = At("New.mp3");
  ASSERT_TRUE(FileExists(renamed));
  Model.ActionUndoExecute();
  EXPECT_EQ(TitleOnDisk(renamed), "Old");
  EXPECT_FALSE(FileExists(a));
}

TEST_F(FileOperations, CopyReplacesAFileOnlyWhenToldAndNeverAFileByItself)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  const std::string stale = AddSong("out/a.mp3", "Stale");
  Scan(Root());
  // The file about to be replaced has an undo step and a row.
  Select({stale});
  View.Type(efTitle, "Stale2");
  Model.btnSaveClick();
  ASSERT_EQ(Model.UndoStack().size(), 1u);

  Select({a, b});
  const Bytes8 staleBytes = ReadFileBytes(stale);
  // Asked about out/a.mp3; Enter takes the default, Skip: b.mp3 is copied, out/a.mp3 stays.
  Prompts.FolderAnswers = {QString::fromStdString(At("out/"))};
  Ops.btnCopyFileToClick();
  ASSERT_EQ(Prompts.FolderPicks.size(), 1u);
  EXPECT_EQ(Prompts.FolderPicks[0].Title, "Copy to folder");
  ASSERT_EQ(Prompts.Choices.size(), 1u);
  EXPECT_EQ(Prompts.Choices[0].Text, QString::fromStdString("A file named \"a.mp3\" already exists in " + At("out") + ". Replace it?"));
  EXPECT_EQ(Prompts.Choices[0].Buttons, (QStringList{"Overwrite", "Skip", "Cancel"}));
  EXPECT_EQ(Prompts.Choices[0].Buttons[Prompts.Choices[0].Default], "Skip");
  EXPECT_EQ(Prompts.Choices[0].Buttons[Prompts.Choices[0].Escape], "Cancel");
  EXPECT_EQ(ReadFileBytes(stale), staleBytes);
  EXPECT_EQ(ReadFileBytes(At("out/b.mp3")), ReadFileBytes(b));
  EXPECT_EQ(View.Status, QString::fromStdString("Copied 1 file(s) to " + At("out/") + " Skipped 1 file(s) that exist there already."));
  EXPECT_EQ(Model.UndoStack().size(), 1u);

  // Cancel stops before the files after it.
  fs::remove(At("out/b.mp3"));
  Prompts.FolderAnswers = {QString::fromStdString(At("out/"))};
  Prompts.ChoiceAnswers = {2};
  Ops.btnCopyFileToClick();
  EXPECT_EQ(ReadFileBytes(stale), staleBytes);
  EXPECT_FALSE(FileExists(At("out/b.mp3")));
  EXPECT_EQ(View.Status, QString::fromStdString("Copied 0 file(s) to " + At("out/") + " Copying was cancelled."));

  // Overwrite replaces it.
  Prompts.FolderAnswers = {QString::fromStdString(At("out/"))};
  Prompts.ChoiceAnswers = {0};
  Ops.btnCopyFileToClick();
  EXPECT_EQ(Prompts.Choices.size(), 3u);
  EXPECT_EQ(View.Status, QString::fromStdString("Copied 2 file(s) to " + At("out/")));
  EXPECT_EQ(ReadFileBytes(stale), ReadFileBytes(a));
  EXPECT_EQ(ReadFileBytes(At("out/b.mp3")), ReadFileBytes(b));
  EXPECT_TRUE(FileExists(a));
  // What was known of the replaced file went with it.
  EXPECT_TRUE(Model.UndoStack().empty());
  EXPECT_EQ(RowTitle(stale), "A");

  // Onto itself: skipped, the file untouched, not counted.
  const Bytes8 bytes = ReadFileBytes(a);
  Prompts.FolderAnswers = {QString::fromStdString(Root())};
  Select({a});
  Prompts.Messages.clear();
  Ops.btnCopyFileToClick();
  EXPECT_EQ(ReadFileBytes(a), bytes);
  EXPECT_TRUE(Prompts.Messages.empty());
  EXPECT_EQ(Prompts.Choices.size(), 3u);
  EXPECT_EQ(View.Status, QString::fromStdString("Copied 0 file(s) to " + Root() + "/" +
                                                " 1 file(s) already in that folder: a file is not copied onto itself."));
}

TEST_F(FileOperations, ACopyNeverReplacesAFileThatAppearsWhileItIsWritten)
{
  const std::string a = AddSong("a.mp3", "A");
  Scan(Root());
  Select({a});
  fs::create_directories(At("out"));
  const Bytes8 late{7, 7, 7};
  Ops.MoveOptions.Copy = [&](const std::string &Source, const std::string &Dest, std::string &Error) {
    if (!FileExists(At("out/a.mp3"))) WriteFileBytes(At("out/a.mp3"), late);  // another program was quicker
    return CopyFileFast(Source, Dest, Error);
  };
  Prompts.FolderAnswers = {QString::fromStdString(At("out"))};
  Ops.btnCopyFileToClick();
  ASSERT_EQ(Prompts.Choices.size(), 1u);  // asked once the name was found taken
  EXPECT_EQ(ReadFileBytes(At("out/a.mp3")), late);
  EXPECT_EQ(Listing(At("out")), std::vector<std::string>{"a.mp3"});
}

TEST_F(FileOperations, AFailedCopyLeavesTheTargetAndIsNotCounted)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  const std::string target = AddSong("out/a.mp3", "Target");
  Scan(Root());
  Select({a, b});
  const Bytes8 targetBytes = ReadFileBytes(target);
  Ops.MoveOptions.Copy = [&](const std::string &Source, const std::string &Dest, std::string &Error) {
    if (Source != a) return CopyFileFast(Source, Dest, Error);
    WriteFileBytes(Dest, Bytes8{1, 2, 3});  // written in part, then the disk filled up
    Error = Dest + ": No space left on device";
    return false;
  };
  Prompts.FolderAnswers = {QString::fromStdString(At("out"))};
  Prompts.ChoiceAnswers = {0};  // Overwrite
  Ops.btnCopyFileToClick();
  EXPECT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(LastMessage(), std::make_pair(mkError, QString::fromStdString("Failed to copy \"" + a + "\": " + target + ": No space left on device")));
  EXPECT_EQ(ReadFileBytes(target), targetBytes);
  EXPECT_EQ(Listing(At("out")), (std::vector<std::string>{"a.mp3", "b.mp3"}));
  EXPECT_EQ(View.Status, QString::fromStdString("Copied 1 file(s) to " + At("out/")));

  // Nothing selected, or the picker cancelled: nothing happens.
  View.Selected.clear();
  Ops.btnCopyFileToClick();
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Please select one or more files to copy.")));
}

TEST_F(FileOperations, MoveCarriesRecordsAndUndoAndNeverReplaces)
{
  const std::string a = AddSong("a.mp3", "Old");
  const std::string b = AddSong("b.mp3", "B");
  const std::string occupied = AddSong("out/b.mp3", "Occupied");
  Scan(Root());
  Select({a});
  View.Type(efTitle, "New");
  Model.btnSaveClick();
  const Bytes8 bBytes = ReadFileBytes(b), occupiedBytes = ReadFileBytes(occupied);

  Select({a, b});
  Prompts.FolderAnswers = {QString::fromStdString(At("out"))};
  QSignalSpy rescanned(&Model, &TEditingModel::ScanCompleted);
  Ops.btnMoveFileToClick();
  EXPECT_EQ(Prompts.FolderPicks.back().Title, "Move to folder");
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(LastMessage(), std::make_pair(mkError, QString::fromStdString("Failed to move \"" + b + "\": File exists")));
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadFileBytes(b), bBytes);
  EXPECT_EQ(ReadFileBytes(occupied), occupiedBytes);

  // The list is read again from the tree's folder, and the undo step followed the file. The
  // outcome is shown once the rescan's own lines are over.
  ASSERT_TRUE(rescanned.wait(20000));
  EXPECT_EQ(View.Status, QString::fromStdString("Moved 1 file(s) to " + At("out")));
  EXPECT_EQ(Model.TagCount(), 3);
  ASSERT_EQ(Model.UndoStack().size(), 1u);
  EXPECT_EQ(Model.UndoStack().back().Files, std::vector<std::string>{At("out/a.mp3")});
  Model.ActionUndoExecute();
  EXPECT_EQ(TitleOnDisk(At("out/a.mp3")), "Old");
  EXPECT_FALSE(FileExists(a));
}

TEST_F(FileOperations, MoveBetweenFileSystemsDeletesTheSourceOnlyAfterAVerifiedCopy)
{
  const std::string a = AddSong("a.mp3", "A");
  fs::create_directories(At("out"));
  const Bytes8 original = ReadFileBytes(a);
  struct timespec modTime {};
  ASSERT_TRUE(GetFileModTime(a, modTime));
  modTime.tv_sec -= 86400;
  ASSERT_TRUE(SetFileModTime(a, modTime));

  struct Case { const char *Name; TFileCopyStep Copy; const char *Error; };
  const Case failing[] = {
    {"short copy", [](const std::string &Source, const std::string &Dest, std::string &) {
       Bytes8 data = ReadFileBytes(Source);
       data.resize(data.size() / 2);
       WriteFileBytes(Dest, data);
       return true;
     }, "The copy differs from the original; the original was kept."},
    {"changed byte", [](const std::string &Source, const std::string &Dest, std::string &) {
       Bytes8 data = ReadFileBytes(Source);
       data[data.size() / 2] ^= 0x40;
       WriteFileBytes(Dest, data);
       return true;
     }, "The copy differs from the original; the original was kept."},
    {"copy failed", [](const std::string &, const std::string &Dest, std::string &Error) {
       Error = Dest + ": Input/output error";
       return false;
     }, nullptr},
  };
  for (const Case &c : failing) {
    SCOPED_TRACE(c.Name);
    std::string error;
    ASSERT_FALSE(MoveFileNoReplace(a, At("out/a.mp3"), error, TMoveOptions{c.Copy, true}));
    EXPECT_EQ(error, c.Error ? std::string(c.Error) : At("out/a.mp3") + ": Input/output error");
    EXPECT_EQ(ReadFileBytes(a), original);
    EXPECT_TRUE(Listing(At("out")).empty());
  }

  std::string error;
  ASSERT_TRUE(MoveFileNoReplace(a, At("out/a.mp3"), error, TMoveOptions{{}, true})) << error;
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadFileBytes(At("out/a.mp3")), original);
  struct timespec movedTime {};
  ASSERT_TRUE(GetFileModTime(At("out/a.mp3"), movedTime));
  EXPECT_EQ(movedTime.tv_sec, modTime.tv_sec);
  EXPECT_EQ(Listing(At("out")), std::vector<std::string>{"a.mp3"});

  // Between file systems too, an existing target is never replaced.
  const std::string b = AddSong("b.mp3", "B");
  EXPECT_FALSE(MoveFileNoReplace(b, At("out/a.mp3"), error, TMoveOptions{{}, true}));
  EXPECT_EQ(error, "File exists");
  EXPECT_EQ(ReadFileBytes(At("out/a.mp3")), original);
  EXPECT_TRUE(FileExists(b));
}

// Each write-like step of a move between file systems (the copy, the sync of the target's
// folder before the source goes) is made to fail in turn: the move reports it, the source stays
// as it was and no copy is left. A move that succeeds never had one of its steps fail.
TEST(FileOperationMove, EveryFailingStepBetweenFileSystemsIsReportedAndKeepsTheSource)
{
  TempDir dir;
  const std::string source = dir.Write("a.mp3", Bytes8(4096, 0x5A));
  fs::create_directories(dir.Path() + "/out");
  const std::string dest = dir.Path() + "/out/a.mp3";
  const Bytes8 original = ReadFileBytes(source);

  std::string error;
  TWriteFailureSteps steps;
  steps.Save = [&] {
    error.clear();
    return MoveFileNoReplace(source, dest, error, TMoveOptions{{}, true});
  };
  steps.CheckIntact = [&](int) {
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(source), original);
    EXPECT_TRUE(Listing(dir.Path() + "/out").empty());
  };
  steps.Limit = 20;
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  ASSERT_TRUE(run.Succeeded);
  EXPECT_GE(run.Failures, 2);
  EXPECT_FALSE(FileExists(source));
  EXPECT_EQ(ReadFileBytes(dest), original);
}

TEST_F(FileOperations, TheMoveCommandUsesTheVerifiedCopy)
{
  const std::string a = AddSong("a.mp3", "A");
  Scan(Root());
  Select({a});
  fs::create_directories(At("out"));
  Ops.MoveOptions.AlwaysCopy = true;
  Ops.MoveOptions.Copy = [](const std::string &Source, const std::string &Dest, std::string &) {
    WriteFileBytes(Dest, Bytes8(ReadFileBytes(Source).size(), 0));
    return true;
  };
  Prompts.FolderAnswers = {QString::fromStdString(At("out"))};
  QSignalSpy rescanned(&Model, &TEditingModel::ScanCompleted);
  Ops.btnMoveFileToClick();
  EXPECT_EQ(LastMessage(), std::make_pair(mkError, QString::fromStdString(
    "Failed to move \"" + a + "\": The copy differs from the original; the original was kept.")));
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(Listing(At("out")).empty());
  ASSERT_TRUE(rescanned.wait(20000));
  EXPECT_EQ(View.Status, QString::fromStdString("Moved 0 file(s) to " + At("out")));
}

TEST(FileOperationRename, TheLinkFallbackNeverReplaces)
{
  TempDir dir;
  const std::string a = dir.Write("a", Bytes8{1}), b = dir.Write("b", Bytes8{2});
  EXPECT_FALSE(RenameNoReplaceByLink(a, b));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadFileBytes(a), Bytes8{1});
  EXPECT_EQ(ReadFileBytes(b), Bytes8{2});
  ASSERT_TRUE(RenameNoReplaceByLink(a, dir.Path() + "/c"));
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(ReadFileBytes(dir.Path() + "/c"), Bytes8{1});
  // Folders cannot be linked: the checked rename, which refuses an existing target too.
  fs::create_directories(dir.Path() + "/d1/inner");
  fs::create_directories(dir.Path() + "/d2");
  EXPECT_FALSE(RenameNoReplaceByLink(dir.Path() + "/d1", dir.Path() + "/d2"));
  EXPECT_TRUE(fs::exists(dir.Path() + "/d1/inner"));
  EXPECT_TRUE(RenameNoReplaceByLink(dir.Path() + "/d1", dir.Path() + "/d3"));
  EXPECT_TRUE(fs::exists(dir.Path() + "/d3/inner"));
}

TEST_F(FileOperations, DeleteCountsWhatWentAndEmptiesTheFieldsOfTheShownFile)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  const std::string c = AddSong("c.mp3", "C");
  const std::string gone = AddSong("gone.mp3", "Gone");
  Scan(Root());
  Select({a});
  ASSERT_EQ(View.FieldText(efTitle), "A");

  Prompts.Answers = {false};
  Ops.btnDeleteFileClick();
  EXPECT_EQ(LastMessage(), std::make_pair(mkConfirmation, QString("Delete 1 selected file(s)? This cannot be undone.")));
  // Asked with No as the default answer.
  EXPECT_EQ(Prompts.DefaultNoConfirmations, std::vector<QString>{"Delete 1 selected file(s)? This cannot be undone."});
  EXPECT_TRUE(FileExists(a));

  Ops.btnDeleteFileClick();
  EXPECT_FALSE(FileExists(a));
  EXPECT_EQ(Model.FindListItem(a), -1);
  EXPECT_EQ(Model.FindCachedTag(a), nullptr);
  EXPECT_TRUE(Model.CurrentFile().empty());
  EXPECT_EQ(View.FieldText(efTitle), "");
  EXPECT_FALSE(Model.TagsAreChanged());
  EXPECT_EQ(View.Status, "Deleted 1 file(s).");

  // b cannot be deleted (a folder took its place), gone.mp3 is gone already.
  fs::remove(b);
  fs::create_directories(b + "/inside");
  fs::remove(gone);
  Select({b, c, gone});
  Prompts.Messages.clear();
  Ops.btnDeleteFileClick();
  ASSERT_EQ(Prompts.Messages.size(), 2u);
  EXPECT_EQ(Prompts.Messages[0].second, "Delete 3 selected file(s)? This cannot be undone.");
  EXPECT_EQ(Prompts.Messages[1], std::make_pair(mkError, QString::fromStdString("Failed to delete \"" + b + "\": Is a directory")));
  EXPECT_GE(Model.FindListItem(b), 0);
  EXPECT_EQ(Model.FindListItem(c), -1);
  EXPECT_EQ(Model.FindListItem(gone), -1);
  EXPECT_EQ(View.Status, "Deleted 2 file(s).");

  View.Selected.clear();
  Ops.btnDeleteFileClick();
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Please select one or more files to delete.")));
}

TEST_F(FileOperations, DeleteMovesFilesToTheTrashWhereThereIsOne)
{
  const std::string a = AddSong("a.mp3", "A");
  const std::string b = AddSong("b.mp3", "B");
  Scan(Root());
  fs::create_directories(At("trash"));
  // A trash that takes a.mp3 and refuses b.mp3 (on a volume it does not serve, say).
  std::vector<std::string> trashed;
  Ops.MoveToTrash = [&](const std::string &File) {
    if (File != a) return false;
    trashed.push_back(File);
    return ::rename(File.c_str(), At("trash/a.mp3").c_str()) == 0;
  };
  Select({a, b});
  Ops.btnDeleteFileClick();
  EXPECT_EQ(trashed, std::vector<std::string>{a});
  EXPECT_TRUE(FileExists(At("trash/a.mp3")));
  EXPECT_FALSE(FileExists(a));
  EXPECT_FALSE(FileExists(b));
  EXPECT_EQ(Model.RowCount(), 0);
  EXPECT_EQ(View.Status, "Moved 1 file(s) to the trash. Deleted 1 file(s).");
}

TEST_F(FileOperations, NewFolder)
{
  Prompts.InputAnswers = {" Albums "};
  Ops.btnNewFolderClick();
  ASSERT_EQ(Prompts.Inputs.size(), 1u);
  EXPECT_EQ(Prompts.Inputs[0].Title, "New folder");
  EXPECT_EQ(Prompts.Inputs[0].Prompt, "Folder name:");
  EXPECT_EQ(Prompts.Inputs[0].Value, "New Folder");
  EXPECT_TRUE(DirectoryExists(At("Albums")));
  EXPECT_EQ(View.Status, QString::fromStdString("Created folder: " + At("Albums")));

  Prompts.InputAnswers = {"Albums"};
  Ops.btnNewFolderClick();
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Folder already exists.")));

  // A file of that name: an error, not a status that claims the folder was made.
  WriteFileBytes(At("taken"), Bytes8{1});
  Prompts.InputAnswers = {"taken"};
  Ops.btnNewFolderClick();
  EXPECT_EQ(LastMessage().first, mkError);
  EXPECT_TRUE(LastMessage().second.startsWith("Failed to create folder:\r\n"));
  EXPECT_EQ(ReadFileBytes(At("taken")), Bytes8{1});

  const std::size_t asked = Prompts.Inputs.size();
  Tree.Selected.clear();
  Ops.btnNewFolderClick();
  EXPECT_EQ(Prompts.Inputs.size(), asked);
}

TEST_F(FileOperations, RenameFolderMovesEverythingAndRescans)
{
  const std::string song = AddSong("Old/song.mp3", "Old");
  AddSong("Other/x.mp3", "X");
  Tree.Selected = At("Old/");
  Scan(At("Old"));
  Select({song});
  View.Type(efTitle, "New");
  Model.btnSaveClick();

  Prompts.InputAnswers = {"Other"};
  Ops.btnRenameFolderClick();
  EXPECT_EQ(Prompts.Inputs.back().Title, "Rename folder");
  EXPECT_EQ(Prompts.Inputs.back().Value, "Old");
  EXPECT_EQ(LastMessage(), std::make_pair(mkInformation, QString("Folder already exists.")));
  EXPECT_TRUE(FileExists(song));

  QSignalSpy rescanned(&Model, &TEditingModel::ScanCompleted);
  Prompts.InputAnswers = {"old"};  // a change of case is a real rename here
  Ops.btnRenameFolderClick();
  const std::string moved = At("old/song.mp3");
  EXPECT_TRUE(FileExists(moved));
  EXPECT_FALSE(DirectoryExists(At("Old")));
  EXPECT_EQ(Tree.Refreshed, std::vector<std::string>{Root()});
  EXPECT_EQ(Tree.Selected, At("old"));
  ASSERT_TRUE(rescanned.wait(20000));
  EXPECT_EQ(View.Status, QString::fromStdString("Renamed folder: " + At("old")));
  EXPECT_EQ(Model.TableFiles(), std::vector<std::string>{moved});
  Model.ActionUndoExecute();
  EXPECT_EQ(TitleOnDisk(moved), "Old");

  // The root has no parent to rename it in.
  Tree.Selected = "/";
  const std::size_t asked = Prompts.Inputs.size();
  Ops.btnRenameFolderClick();
  EXPECT_EQ(Prompts.Inputs.size(), asked);
}
