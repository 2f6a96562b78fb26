#include "app/editing_model.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "app/file_scanner.h"
#include "tags/tag_container.h"
#include "tests/app/fake_editor.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

void Touch(const std::string &Path)
{
  fs::create_directories(fs::path(Path).parent_path());
  WriteFileBytes(Path, Bytes8{0});
}

class EditingModel : public ::testing::Test {
protected:
  void SetUp() override { View.Model = &Model; }

  // Files on disk (empty; their tags live in the fake service) with the given titles.
  std::vector<std::string> MakeFiles(const std::vector<std::string> &Titles, const std::string &Sub = "")
  {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < Titles.size(); ++i) {
      const std::string path = Dir.Path() + Sub + "/f" + std::to_string(Counter++) + ".mp3";
      Touch(path);
      Service->Add(path, Titles[i]);
      paths.push_back(path);
    }
    return paths;
  }

  void Scan(const std::string &Root)
  {
    QSignalSpy done(&Model, &TEditingModel::ScanCompleted);
    Model.StartScan(Root);
    ASSERT_TRUE(done.wait(20000));
    ASSERT_EQ(done.count(), 1);
  }

  void Select(const std::vector<std::string> &Files)
  {
    Model.lvFilesMouseActivate();
    View.Selected.clear();
    for (const std::string &f : Files) {
      const int row = Model.FindListItem(f);
      ASSERT_GE(row, 0) << f;
      View.Selected.push_back(row);
    }
    Model.lvFilesSelectItem();
  }

  QString Field(TEditField f) const { return View.Fields[static_cast<std::size_t>(f)]; }

  TempDir Dir;
  int Counter = 0;
  std::shared_ptr<TFakeTagService> Service = std::make_shared<TFakeTagService>();
  TFakeView View;
  TFakePrompts Prompts;
  TEditingModel Model{Service, View, Prompts};
};

} // namespace

TEST_F(EditingModel, ScanLoadsEveryFileIntoTableAndRowsInScanOrder)
{
  const auto files = MakeFiles({"One", "Two", "Three"}, "/sub");
  Touch(Dir.Path() + "/broken.mp3");  // unknown to the service: its tags cannot be read
  Scan(Dir.Path());
  EXPECT_EQ(Model.TagCount(), 4);
  EXPECT_EQ(Model.RowCount(), 4);
  EXPECT_EQ(View.RowTotal, 4);
  EXPECT_EQ(Model.TableFiles().size(), 4u);
  for (int r = 0; r < Model.RowCount(); ++r) EXPECT_EQ(Model.RowFileName(r), Model.TableFiles()[static_cast<std::size_t>(r)]);
  EXPECT_EQ(View.Status, "Loaded 4 files.");

  TAudioTag broken;
  ASSERT_TRUE(Model.TryGetTag(Dir.Path() + "/broken.mp3", broken));
  EXPECT_EQ(broken.FileName, Dir.Path() + "/broken.mp3");
  EXPECT_EQ(broken.FileType, aftUnknown);
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[1]), flcTitle), "Two");
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[1]), flcFile), QString::fromStdString(fs::path(files[1]).filename().string()));
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[1]), flcDirectory), QString::fromStdString(Dir.Path() + "/sub"));
}

TEST_F(EditingModel, FilteredFilesEnterTheTableWithoutARow)
{
  const auto files = MakeFiles({"Intro", "Outro"});
  Model.edtFilterChange("  INT ");
  EXPECT_EQ(Model.FilterText(), "int");
  Scan(Dir.Path());
  EXPECT_EQ(Model.TagCount(), 2);
  EXPECT_EQ(Model.RowCount(), 1);
  EXPECT_EQ(View.Status, "Loaded 1 files.");
}

TEST_F(EditingModel, DurationColumn)
{
  const auto files = MakeFiles({"a", "b", "c"});
  Service->Files[files[0]].DurationSec = 185;
  Service->Files[files[1]].DurationSec = 4500;
  Service->Files[files[2]].DurationSec = 0;
  Scan(Dir.Path());
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[0]), flcDuration), "3:05");
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[1]), flcDuration), "75:00");
  EXPECT_EQ(Model.CellText(Model.FindListItem(files[2]), flcDuration), "");
}

TEST_F(EditingModel, SeveralFilesMergeIntoKeepMarkersAndSuggestions)
{
  const auto files = MakeFiles({"Intro", "INTRO", "intro"});
  Service->Files[files[0]].Year = "1999";
  Service->Files[files[1]].Year = "2001";
  Service->Files[files[2]].Year = "1999";
  Service->Files[files[1]].Artist = "X";
  Scan(Dir.Path());
  Select(files);
  // The first record in row order gives the shown text and the single suggestion.
  const std::string first = Model.FindCachedTag(Model.GetSelectedFiles()[0])->Tag.Title;
  EXPECT_EQ(Field(efTitle), QString::fromStdString(first));
  EXPECT_EQ(View.Suggestions[efTitle], QStringList{QString::fromStdString(first)});
  EXPECT_EQ(Field(efYear), "<keep>");
  QStringList years = View.Suggestions[efYear];
  years.sort();
  EXPECT_EQ(years, (QStringList{"1999", "2001"}));
  EXPECT_EQ(Field(efArtist), "<keep>");  // an empty and a non-empty value differ
  EXPECT_EQ(Field(efAlbum), "");
  EXPECT_FALSE(Model.TagsAreChanged());
  EXPECT_TRUE(Model.CurrentFile().empty());

  View.Type(efGenre, "Rock");
  const TSaveReport report = Model.btnSaveClick();
  EXPECT_EQ(report.Saved, 3);
  EXPECT_EQ(Service->Files[files[0]].Year, "1999");
  EXPECT_EQ(Service->Files[files[1]].Year, "2001");
  for (const auto &f : files) {
    EXPECT_EQ(Service->Files[f].Genre, "Rock");
    EXPECT_EQ(Service->Files[f].Title, first);
  }
  EXPECT_EQ(Service->Files[files[1]].Artist, "X");
  EXPECT_EQ(View.Status, "Saved tags to 3 files. Errors: 0");
}

TEST_F(EditingModel, KeepTypedIntoOneFileLeavesThatField)
{
  const auto files = MakeFiles({"Song"});
  Scan(Dir.Path());
  Select(files);
  EXPECT_EQ(Model.CurrentFile(), files[0]);
  View.Type(efTitle, "<keep>");
  View.Type(efArtist, "Someone");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[0]].Title, "Song");
  EXPECT_EQ(Service->Files[files[0]].Artist, "Someone");
}

TEST_F(EditingModel, SavePromptNoDropsTheEditYesWritesItToThePreviousSelection)
{
  const auto files = MakeFiles({"A", "B"});
  Scan(Dir.Path());
  Select({files[0]});
  View.Type(efTitle, "A2");
  Prompts.Answers = {false};
  Select({files[1]});
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0].first, mkConfirmation);
  EXPECT_EQ(Prompts.Messages[0].second, "Do you want to save the tag changes?");
  EXPECT_EQ(Service->Saves, 0);
  EXPECT_EQ(Field(efTitle), "B");

  View.Type(efTitle, "B2");
  Prompts.Answers = {true};
  Select({files[0]});
  EXPECT_EQ(Service->Files[files[1]].Title, "B2");
  EXPECT_EQ(Service->Files[files[0]].Title, "A");
  EXPECT_EQ(Field(efTitle), "A");
  // A selection change without the mouse press drops unapplied edits.
  View.Type(efTitle, "lost");
  View.Selected = {Model.FindListItem(files[1])};
  Model.lvFilesSelectItem();
  EXPECT_FALSE(Model.TagsAreChanged());
}

TEST_F(EditingModel, SavingNothingReportsZeroAndFailuresAreListedAndRetried)
{
  const auto files = MakeFiles({"A", "B"});
  Scan(Dir.Path());
  Model.btnSaveClick();
  EXPECT_EQ(View.Status, "Saved tags to 0 files. Errors: 0");
  EXPECT_TRUE(View.ErrorReports.empty());

  Service->FailingSaves.insert(files[1]);
  Select(files);
  View.Type(efAlbum, "Album");
  const TSaveReport report = Model.btnSaveClick();
  EXPECT_EQ(report.Saved, 1);
  EXPECT_EQ(report.Failed, 1);
  EXPECT_EQ(View.Status, "Saved tags to 1 files. Errors: 1");
  ASSERT_EQ(View.ErrorReports.size(), 1u);
  EXPECT_EQ(View.ErrorReports[0], (std::vector<TErrorItem>{{files[1], "Tags save error: 5"}}));
  EXPECT_TRUE(Model.FindCachedTag(files[1])->Tag.Modified);

  Service->FailingSaves.clear();
  EXPECT_EQ(Model.btnSaveClick().Saved, 1);
  EXPECT_EQ(Service->Files[files[1]].Album, "Album");
}

TEST_F(EditingModel, UndoKeepsThirtyStepsRestoresSavesAndSurvivesARescan)
{
  const auto files = MakeFiles({"v0"});
  Scan(Dir.Path());
  Select(files);
  for (int i = 1; i <= 31; ++i) {
    View.Type(efTitle, QString("v%1").arg(i));
    Model.btnSaveClick();
  }
  EXPECT_EQ(Model.UndoStack().size(), 30u);
  EXPECT_TRUE(View.UndoEnabled);
  EXPECT_EQ(Service->Files[files[0]].Title, "v31");

  Scan(Dir.Path());  // the table is reloaded; the stack stays
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[files[0]].Title, "v30");
  for (int i = 0; i < 29; ++i) Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[files[0]].Title, "v1");  // the step back to v0 was dropped
  EXPECT_FALSE(View.UndoEnabled);
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[files[0]].Title, "v1");
}

TEST_F(EditingModel, UndoRestoresAFileThatIsNoLongerListed)
{
  const auto a = MakeFiles({"A"}, "/one");
  const auto b = MakeFiles({"B"}, "/two");
  Scan(Dir.Path() + "/one");
  Select(a);
  View.Type(efTitle, "A2");
  Model.btnSaveClick();
  Scan(Dir.Path() + "/two");
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[a[0]].Title, "A");
  EXPECT_EQ(Service->Files[b[0]].Title, "B");
}

TEST_F(EditingModel, FilterMatchesNameTitleArtistAlbumOnly)
{
  const auto files = MakeFiles({"Morning", "Evening", "Noon"}, "/Folder Jazz");
  Service->Files[files[1]].Artist = "ART Blakey";
  Service->Files[files[2]].Album = "Jazz Album";
  Scan(Dir.Path());
  struct Case { const char *Filter; int Rows; };
  const Case cases[] = {{"", 3}, {"  ", 3}, {"morn", 1}, {"art b", 1}, {"jazz", 1}, {"folder", 0}, {"F1.MP3", 1}, {"ing", 2}};
  for (const Case &c : cases) {
    Model.edtFilterChange(c.Filter);
    EXPECT_EQ(Model.RowCount(), c.Rows) << c.Filter;
    EXPECT_EQ(View.RowTotal, c.Rows) << c.Filter;
  }
  Model.edtFilterChange("");
  for (int r = 0; r < 3; ++r) EXPECT_EQ(Model.RowFileName(r), Model.TableFiles()[static_cast<std::size_t>(r)]);
}

TEST_F(EditingModel, PathsAreComparedExactly)
{
  const std::string lower = Dir.Path() + "/a.mp3", upper = Dir.Path() + "/A.mp3";
  Touch(lower);
  Touch(upper);
  Service->Add(lower, "lower");
  Service->Add(upper, "upper");
  Scan(Dir.Path());
  ASSERT_EQ(Model.RowCount(), 2);
  EXPECT_NE(Model.FindListItem(lower), Model.FindListItem(upper));
  Select({upper});
  EXPECT_EQ(Model.CurrentFile(), upper);
  View.Type(efTitle, "UPPER");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[upper].Title, "UPPER");
  EXPECT_EQ(Service->Files[lower].Title, "lower");
}

// Enough files leave the table for it to be compacted: the rest keep their order, records,
// rows and renames, and a save still reaches exactly the changed ones.
TEST_F(EditingModel, TheTableStaysConsistentWhenManyFilesLeaveIt)
{
  std::vector<std::string> paths, kept;
  for (int i = 0; i < 1400; ++i) {
    const std::string path = "/music/f" + std::to_string(i) + ".mp3";
    Service->Add(path, "t" + std::to_string(i));
    Model.ScannerProgress(path);
    paths.push_back(path);
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i % 5 == 0)
      kept.push_back(paths[i]);
    else
      Model.RemoveFileFromModel(paths[i]);
  }
  EXPECT_EQ(Model.TableFiles(), kept);
  EXPECT_EQ(Model.TagCount(), static_cast<int>(kept.size()));
  ASSERT_EQ(Model.RowCount(), static_cast<int>(kept.size()));
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const TCachedTag *entry = Model.FindCachedTag(kept[i]);
    ASSERT_NE(entry, nullptr) << kept[i];
    EXPECT_EQ(entry->Tag.FileName, kept[i]);
    EXPECT_EQ(entry->Tag.Title, Service->Files[kept[i]].Title);
    EXPECT_EQ(Model.FindListItem(kept[i]), static_cast<int>(i));
  }
  EXPECT_EQ(Model.FindCachedTag(paths[1]), nullptr);

  const std::string renamed = "/music/renamed.mp3";
  Service->Files[renamed] = Service->Files[kept[3]];
  Model.RenameFileInModel(kept[3], renamed);
  EXPECT_EQ(Model.FindCachedTag(kept[3]), nullptr);
  EXPECT_EQ(Model.TableFiles()[3], renamed);
  const TSaveReport report = Model.btnSaveClick();
  EXPECT_EQ(report.Saved, 1);
  EXPECT_EQ(Service->SaveOrder, std::vector<std::string>{renamed});
}

TEST_F(EditingModel, PictureBytesStayInTheFileUntilShownOrWritten)
{
  const TBytes png = ReadFileBytes(FixturePath("images/cover.png"));
  const auto files = MakeFiles({"A", "B"});
  Service->Files[files[0]].CoverData = png;
  Service->Files[files[0]].CoverMime = "image/png";
  Scan(Dir.Path());
  const TCachedTag *entry = Model.FindCachedTag(files[0]);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->CoverState, TCoverState::InFile);
  EXPECT_TRUE(entry->Tag.CoverData.empty());
  EXPECT_EQ(entry->Tag.CoverMime, "image/png");
  EXPECT_EQ(entry->CoverSize, png.size());
  EXPECT_EQ(Model.FindCachedTag(files[1])->CoverState, TCoverState::None);

  Select({files[0]});
  EXPECT_EQ(View.Box, png);  // what the user sees is unchanged
  TAudioTag full;
  ASSERT_TRUE(Model.TryGetTagWithCover(files[0], full));
  EXPECT_EQ(full.CoverData, png);

  // A text edit writes the file's own picture back untouched.
  View.Type(efTitle, "A2");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[0]].CoverData, png);
  EXPECT_EQ(Service->Files[files[0]].CoverMime, "image/png");
  EXPECT_EQ(Model.FindCachedTag(files[0])->CoverState, TCoverState::InFile);
}

TEST_F(EditingModel, PicturesChangeOnlyWhenTheUserLoadedOrClearedOne)
{
  const TBytes png = ReadFileBytes(FixturePath("images/cover.png"));
  const TBytes jpg = ReadFileBytes(FixturePath("images/cover.jpg"));
  const TBytes garbage = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  const auto files = MakeFiles({"A", "B", "C"});
  Service->Files[files[0]].CoverData = png;
  Service->Files[files[1]].CoverData = garbage;  // shown as no picture
  Scan(Dir.Path());

  // Several files: the empty picture box does not empty their pictures.
  Select({files[0], files[1]});
  EXPECT_TRUE(View.Box.empty());
  View.Type(efGenre, "Pop");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[0]].CoverData, png);
  EXPECT_EQ(Service->Files[files[1]].CoverData, garbage);

  // One file whose picture cannot be decoded keeps it too.
  Select({files[1]});
  EXPECT_TRUE(View.Box.empty());
  View.Type(efTitle, "B2");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[1]].CoverData, garbage);

  // A loaded picture reaches every selected record.
  Select({files[0], files[1], files[2]});
  Prompts.OpenFileAnswer = QString::fromStdString(FixturePath("images/cover.jpg"));
  Model.btnLoadCoverClick();
  EXPECT_TRUE(Model.TagsAreChanged());
  Model.btnSaveClick();
  for (const auto &f : files) {
    EXPECT_EQ(Service->Files[f].CoverData, jpg) << f;
    EXPECT_EQ(Service->Files[f].CoverMime, "image/jpeg") << f;
  }
  // Written pictures leave memory again.
  for (const auto &f : files) EXPECT_EQ(Model.FindCachedTag(f)->CoverState, TCoverState::InFile);

  // A cancelled open-file dialog changes nothing and pushes no step.
  const std::size_t steps = Model.UndoStack().size();
  Prompts.OpenFileAnswer.clear();
  Model.btnLoadCoverClick();
  EXPECT_EQ(Model.UndoStack().size(), steps);
  EXPECT_FALSE(Model.TagsAreChanged());

  // Clear on one file removes its picture; Undo puts it back although the table never held it.
  Select({files[2]});
  Model.btnClearCoverClick();
  Model.btnSaveClick();
  EXPECT_TRUE(Service->Files[files[2]].CoverData.empty());
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[files[2]].CoverData, jpg);
  EXPECT_EQ(Service->Files[files[2]].CoverMime, "image/jpeg");
}

TEST_F(EditingModel, UnreadablePictureIsNeverReplacedByNothing)
{
  const TBytes png = ReadFileBytes(FixturePath("images/cover.png"));
  const auto files = MakeFiles({"A"});
  Service->Files[files[0]].CoverData = png;
  Scan(Dir.Path());
  Select(files);
  View.Type(efTitle, "A2");
  // The file became unreadable between the scan and the save.
  const TAudioTag onDisk = Service->Files[files[0]];
  Service->Files.erase(files[0]);
  const TSaveReport report = Model.btnSaveClick();
  EXPECT_EQ(report.Failed, 1);
  EXPECT_EQ(Service->Saves, 0);
  Service->Files[files[0]] = onDisk;
  EXPECT_EQ(Model.btnSaveClick().Saved, 1);
  EXPECT_EQ(Service->Files[files[0]].CoverData, png);
}

TEST_F(EditingModel, OnlyRemoveTagsRemovesWholeTags)
{
  const auto files = MakeFiles({"A", "B"});
  Service->Files[files[0]].Artist = "X";
  Scan(Dir.Path());

  // Emptying every field is an ordinary save.
  Select({files[0]});
  View.Type(efTitle, "");
  View.Type(efArtist, "");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Removes, 0);
  EXPECT_EQ(Service->Saves, 1);

  Select(files);
  View.Type(efTitle, "pending edit");
  Prompts.Answers = {false};
  Model.btnRemoveTagClick();
  EXPECT_EQ(Service->Removes, 0);
  EXPECT_EQ(Prompts.Messages.back().second, "Clear all editable tag fields for 2 file(s) and save?");

  Prompts.Answers = {true};
  Model.btnRemoveTagClick();
  EXPECT_EQ(Service->Removes, 2);
  EXPECT_EQ(View.Status, "Tags cleared for 2 file(s) (in memory).");
  EXPECT_EQ(Model.UndoStack().size(), 2u);  // the edit and the removal
  EXPECT_TRUE(Model.FindCachedTag(files[1])->Tag.Title.empty());

  // Undo writes the values back with an ordinary save.
  const int saves = Service->Saves;
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Removes, 2);
  EXPECT_EQ(Service->Saves, saves + 2);
  EXPECT_EQ(Service->Files[files[1]].Title, "B");

  View.Selected.clear();
  Model.btnRemoveTagClick();
  EXPECT_EQ(Prompts.Messages.back(), std::make_pair(mkInformation, QString("Please select one or more files whose tags you want to clear.")));
}

TEST_F(EditingModel, UndoFollowsRenamesAndForgetsDeletedFiles)
{
  const auto files = MakeFiles({"A", "C"});
  Scan(Dir.Path());
  Select({files[0]});
  View.Type(efTitle, "A2");
  Model.btnSaveClick();

  // a is renamed to b, then c is renamed to a: the snapshot of a belongs to b now.
  const std::string b = Dir.Path() + "/b.mp3";
  Service->Files[b] = Service->Files[files[0]];
  Service->Files.erase(files[0]);
  Model.RenameFileInModel(files[0], b);
  Service->Files[files[0]] = Service->Files[files[1]];
  Service->Files.erase(files[1]);
  Model.RenameFileInModel(files[1], files[0]);
  EXPECT_TRUE(Model.FindCachedTag(b)->Tag.Modified);
  EXPECT_GE(Model.FindListItem(b), 0);
  EXPECT_EQ(Model.FindListItem(files[1]), -1);

  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[b].Title, "A");
  EXPECT_EQ(Service->Files[files[0]].Title, "C");

  // A deleted file's snapshots go with it.
  Select({b});
  View.Type(efTitle, "B2");
  Model.btnSaveClick();
  ASSERT_EQ(Model.UndoStack().size(), 1u);
  Model.RemoveFileFromModel(b);
  EXPECT_TRUE(Model.UndoStack().empty());
  EXPECT_FALSE(View.UndoEnabled);
  EXPECT_TRUE(Model.CurrentFile().empty());
  EXPECT_EQ(Field(efTitle), "");
  EXPECT_EQ(Model.FindCachedTag(b), nullptr);
  EXPECT_EQ(Model.FindListItem(b), -1);
}

TEST_F(EditingModel, UndoFollowsAFolderRename)
{
  const auto files = MakeFiles({"A"}, "/old");
  Scan(Dir.Path());
  Select(files);
  View.Type(efTitle, "A2");
  Model.btnSaveClick();
  const std::string moved = Dir.Path() + "/new/" + fs::path(files[0]).filename().string();
  Service->Files[moved] = Service->Files[files[0]];
  Service->Files.erase(files[0]);
  Model.RenameFolderInModel(Dir.Path() + "/old", Dir.Path() + "/new");
  EXPECT_EQ(Model.UndoStack().back().Files, std::vector<std::string>{moved});
  Model.ActionUndoExecute();
  EXPECT_EQ(Service->Files[moved].Title, "A");
  EXPECT_FALSE(Service->Files.count(files[0]));
}

TEST_F(EditingModel, QuickActionsOnThreeFilesAreOneUndoStep)
{
  const auto files = MakeFiles({"one", "two", "three"});
  Scan(Dir.Path());
  Select(files);
  Model.ApplyActionsToSelection({TTagAction{takUpperCase, tfTitle, tfTitle, {}, {}}});
  EXPECT_EQ(Model.UndoStack().size(), 1u);
  EXPECT_EQ(Field(efTitle), "<keep>");
  Model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[2]].Title, "THREE");
  Model.ActionUndoExecute();
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Service->Files[files[i]].Title, (std::vector<std::string>{"one", "two", "three"})[i]);
}

TEST_F(EditingModel, SortingByColumns)
{
  const auto files = MakeFiles({"b", "A", "c"});
  Service->Files[files[0]].DurationSec = 600;
  Service->Files[files[1]].DurationSec = 599;
  Service->Files[files[2]].DurationSec = 61;
  Scan(Dir.Path());
  Select({files[0]});
  const auto titles = [&] {
    QStringList t;
    for (int r = 0; r < Model.RowCount(); ++r) t << Model.CellText(r, flcTitle);
    return t;
  };
  Model.lvFilesColumnClick(flcTitle);
  EXPECT_EQ(titles(), (QStringList{"A", "b", "c"}));
  EXPECT_EQ(View.Selected, std::vector<int>{1});  // the selection follows its row
  Model.lvFilesColumnClick(flcTitle);
  EXPECT_EQ(titles(), (QStringList{"c", "b", "A"}));
  Model.lvFilesColumnClick(flcDuration);
  EXPECT_EQ(titles(), (QStringList{"c", "A", "b"}));
  EXPECT_EQ(Model.FindListItem(files[0]), 2);
  // The first click on the File column sorts descending: the list counts as sorted by it.
  TEditingModel fresh(Service, View, Prompts);
  fresh.lvFilesColumnClick(flcFile);
  EXPECT_FALSE(fresh.SortAscending());
}

TEST_F(EditingModel, NothingFromAStoppedScanReachesTheNewList)
{
  MakeFiles({"old1", "old2", "old3"}, "/old");
  const auto fresh = MakeFiles({"new"}, "/new");
  QSignalSpy done(&Model, &TEditingModel::ScanCompleted);
  Model.StartScan(Dir.Path() + "/old");
  // No event has run: the old walk is blocked in its first hand-over when it is stopped.
  Model.StartScan(Dir.Path() + "/new");
  ASSERT_TRUE(done.wait(20000));
  QCoreApplication::processEvents();
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(Model.TableFiles(), fresh);
  EXPECT_EQ(Model.RowCount(), 1);
}

TEST_F(EditingModel, ANewScanStartedFromInsideAHandOverReplacesTheOldOne)
{
  MakeFiles({"old1", "old2", "old3"}, "/old");
  const auto fresh = MakeFiles({"new"}, "/new");
  bool restarted = false;
  View.OnStatus = [&](const QString &Text) {
    if (restarted || !Text.startsWith("Loaded: ")) return;
    restarted = true;
    Model.StartScan(Dir.Path() + "/new");
  };
  QSignalSpy done(&Model, &TEditingModel::ScanCompleted);
  Model.StartScan(Dir.Path() + "/old");
  ASSERT_TRUE(done.wait(20000));
  EXPECT_TRUE(restarted);
  QCoreApplication::processEvents();
  EXPECT_EQ(Model.TableFiles(), fresh);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(Model.RowCount(), 1);
}

TEST_F(EditingModel, SavesThroughTheTagServiceIntoARealFile)
{
  const std::string file = Dir.CopyFixture("mp3/id3v1-only.mp3", "song.mp3");
  TFakeView view;
  TFakePrompts prompts;
  auto service = std::shared_ptr<ITagService>(CreateTagService());
  TEditingModel model(service, view, prompts);
  view.Model = &model;
  QSignalSpy done(&model, &TEditingModel::ScanCompleted);
  model.StartScan(Dir.Path());
  ASSERT_TRUE(done.wait(20000));
  ASSERT_EQ(model.RowCount(), 1);
  TAudioTag before;
  ASSERT_TRUE(model.TryGetTag(file, before));

  view.Selected = {0};
  model.lvFilesSelectItem();
  view.Type(efTitle, "Edited Title");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  TAudioTag after;
  ASSERT_TRUE(TTagService().LoadTag(file, after));
  EXPECT_EQ(after.Title, "Edited Title");
  EXPECT_EQ(after.Artist, before.Artist);

  model.ActionUndoExecute();
  ASSERT_TRUE(TTagService().LoadTag(file, after));
  EXPECT_EQ(after.Title, before.Title);
  EXPECT_FALSE(fs::exists(TagBackupFileName(file)));
}

// A file whose artist frame holds two strings shows them joined in the field; a save of
// another field leaves that frame as it was, several files that agree show the joined text
// (not "<keep>"), and what the user types over it becomes the one artist.
TEST_F(EditingModel, SeveralValuesShowJoinedAndStayUnlessTyped)
{
  const Bytes tag = ID3v2Tag(4, 0,
                             Bytes()
                               .Append(ID3v24TextFrame("TIT2", "Song"))
                               .Append(ID3v24TextFrame("TPE1", std::string_view("piman\0jzig", 10)))
                               .Zeros(32));
  const std::string one = Dir.Write("one.mp3", Bytes().Append(tag).Append(MpegFrames(4)));
  const std::string two = Dir.Write("two.mp3", Bytes().Append(tag).Append(MpegFrames(4)));
  const Bytes8 artistFrame = ID3v24FrameBytes(ReadFileBytes(one), "TPE1");
  ASSERT_FALSE(artistFrame.empty());
  TFakeView view;
  TFakePrompts prompts;
  TEditingModel model(CreateTagService(), view, prompts);
  view.Model = &model;
  QSignalSpy done(&model, &TEditingModel::ScanCompleted);
  model.StartScan(Dir.Path());
  ASSERT_TRUE(done.wait(20000));
  const auto select = [&](const std::vector<std::string> &Files) {
    model.lvFilesMouseActivate();
    view.Selected.clear();
    for (const std::string &f : Files) view.Selected.push_back(model.FindListItem(f));
    model.lvFilesSelectItem();
  };

  select({one});
  EXPECT_EQ(view.Fields[efArtist], "piman; jzig");
  view.Type(efTitle, "Edited");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  EXPECT_EQ(ID3v24FrameBytes(ReadFileBytes(one), "TPE1"), artistFrame);

  select({one, two});
  EXPECT_EQ(view.Fields[efArtist], "piman; jzig");
  view.Type(efAlbum, "Both");
  EXPECT_EQ(model.btnSaveClick().Saved, 2);
  for (const std::string &file : {one, two}) EXPECT_EQ(ID3v24FrameBytes(ReadFileBytes(file), "TPE1"), artistFrame) << file;

  select({two});
  view.Type(efArtist, "X");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(two), tagsOk);
  std::vector<std::string> strings;
  ASSERT_TRUE(tags.ID3v2Tag.GetTextMultiple(tags.ID3v2Tag.FrameExists("TPE1"), strings));
  EXPECT_EQ(strings, std::vector<std::string>{"X"});
  EXPECT_EQ(ID3v24FrameBytes(ReadFileBytes(one), "TPE1"), artistFrame);
}

// Undo of an artist typed over two strings gives every file its two strings back, not their
// joined text as one: the undo step keeps the separate values, the table gets them back, and
// a later save of another field leaves the restored frame as it is.
TEST_F(EditingModel, UndoGivesBackSeparateValues)
{
  const Bytes tag = ID3v2Tag(4, 0,
                             Bytes()
                               .Append(ID3v24TextFrame("TIT2", "Song"))
                               .Append(ID3v24TextFrame("TPE1", std::string_view("piman\0jzig", 10)))
                               .Zeros(32));
  const std::string one = Dir.Write("one.mp3", Bytes().Append(tag).Append(MpegFrames(4)));
  const std::string two = Dir.Write("two.mp3", Bytes().Append(tag).Append(MpegFrames(4)));
  const auto artistStrings = [](const std::string &File) {
    TTags tags;
    std::vector<std::string> strings;
    if (tags.LoadFromFile(File) == tagsOk) tags.ID3v2Tag.GetTextMultiple(tags.ID3v2Tag.FrameExists("TPE1"), strings);
    return strings;
  };
  const std::vector<std::string> separate{"piman", "jzig"};
  TFakeView view;
  TFakePrompts prompts;
  TEditingModel model(CreateTagService(), view, prompts);
  view.Model = &model;
  QSignalSpy done(&model, &TEditingModel::ScanCompleted);
  model.StartScan(Dir.Path());
  ASSERT_TRUE(done.wait(20000));
  const auto select = [&](const std::vector<std::string> &Files) {
    model.lvFilesMouseActivate();
    view.Selected.clear();
    for (const std::string &f : Files) view.Selected.push_back(model.FindListItem(f));
    model.lvFilesSelectItem();
  };

  select({one, two});
  view.Type(efArtist, "X");
  EXPECT_EQ(model.btnSaveClick().Saved, 2);
  for (const std::string &file : {one, two}) EXPECT_EQ(artistStrings(file), std::vector<std::string>{"X"}) << file;
  ASSERT_EQ(model.UndoStack().size(), 1u);
  for (const TCachedTag &snapshot : model.UndoStack().back().Tags)
    EXPECT_EQ(FieldValues(snapshot.Tag, &TAudioTag::Artist), separate);

  model.ActionUndoExecute();
  EXPECT_TRUE(model.UndoStack().empty());
  EXPECT_EQ(view.Fields[efArtist], "piman; jzig");
  for (const std::string &file : {one, two}) {
    EXPECT_EQ(artistStrings(file), separate) << file;
    const TCachedTag *entry = model.FindCachedTag(file);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(FieldValues(entry->Tag, &TAudioTag::Artist), separate) << file;
    EXPECT_FALSE(entry->Tag.Modified) << file;
  }

  const Bytes8 restored = ID3v24FrameBytes(ReadFileBytes(one), "TPE1");
  select({one});
  EXPECT_EQ(view.Fields[efArtist], "piman; jzig");
  view.Type(efTitle, "Edited");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  EXPECT_EQ(ID3v24FrameBytes(ReadFileBytes(one), "TPE1"), restored);

  // Typed back to the joined text by hand, the field is one value again, and undoing that
  // gives the two strings back once more.
  view.Type(efArtist, "Y");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  view.Type(efArtist, "piman; jzig");
  EXPECT_EQ(model.btnSaveClick().Saved, 1);
  EXPECT_EQ(artistStrings(one), std::vector<std::string>{"piman; jzig"});
  model.ActionUndoExecute();
  EXPECT_EQ(artistStrings(one), std::vector<std::string>{"Y"});
  model.ActionUndoExecute();
  EXPECT_EQ(artistStrings(one), separate);
  EXPECT_EQ(view.Fields[efArtist], "piman; jzig");
  EXPECT_EQ(view.Fields[efTitle], "Edited");
}

namespace {

// A window whose multi-line fields give their text back in a form of their own (the lines
// joined with CR LF whatever they were set with), as a text widget may.
class TNormalisingView : public TFakeView {
public:
  QString FieldText(TEditField Field) const override
  {
    QString text = TFakeView::FieldText(Field);
    if (Field == efComment || Field == efLyrics) text.replace("\r\n", "\n").replace("\n", "\r\n");
    return text;
  }
};

} // namespace

TEST_F(EditingModel, FieldsTheUserDidNotChangeAreNotWritten)
{
  TNormalisingView view;
  TEditingModel model(Service, view, Prompts);
  view.Model = &model;
  const auto files = MakeFiles({"A", "B"});
  Service->Files[files[0]].Lyrics = "one\ntwo";
  Service->Files[files[0]].Comment = "same";
  Service->Files[files[1]].Comment = "same";
  Service->Files[files[1]].Lyrics = "x\ny";
  QSignalSpy done(&model, &TEditingModel::ScanCompleted);
  model.StartScan(Dir.Path());
  ASSERT_TRUE(done.wait(20000));

  const auto select = [&](const std::vector<std::string> &Files) {
    view.Selected.clear();
    for (const std::string &f : Files) view.Selected.push_back(model.FindListItem(f));
    model.lvFilesSelectItem();
  };
  select({files[0]});
  view.Type(efTitle, "A2");
  model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[0]].Title, "A2");
  EXPECT_EQ(Service->Files[files[0]].Lyrics, "one\ntwo");  // not "one\r\ntwo"

  // Typed into: written as the field gives it.
  view.Type(efLyrics, "three\nfour");
  model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[0]].Lyrics, "three\r\nfour");

  // Several files: a field left alone keeps each file's own value.
  select(files);
  view.Type(efAlbum, "Both");
  model.btnSaveClick();
  EXPECT_EQ(Service->Files[files[1]].Album, "Both");
  EXPECT_EQ(Service->Files[files[1]].Lyrics, "x\ny");
  EXPECT_EQ(Service->Files[files[1]].Comment, "same");
}

TEST_F(EditingModel, ANewListClearsTheFieldsAndAnEditGoesToItsFilesOrIsDroppedKnowingly)
{
  const auto one = MakeFiles({"One"}, "/one");
  const auto two = MakeFiles({"Two"}, "/two");
  Scan(Dir.Path() + "/one");
  Select(one);
  View.Type(efTitle, "One typed");

  // Another folder: asked first; Yes writes the edit to the file it was typed for.
  Prompts.Answers = {true};
  Scan(Dir.Path() + "/two");
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0], std::make_pair(mkConfirmation, QString("Do you want to save the tag changes?")));
  EXPECT_EQ(Service->Files[one[0]].Title, "One typed");
  for (const QString &field : View.Fields) EXPECT_TRUE(field.isEmpty()) << field.toStdString();
  EXPECT_FALSE(Model.TagsAreChanged());

  // No drops it.
  Select(two);
  View.Type(efTitle, "Two typed");
  Prompts.Answers = {false};
  Scan(Dir.Path() + "/one");
  EXPECT_EQ(Prompts.Messages.size(), 2u);
  EXPECT_EQ(Service->Files[two[0]].Title, "Two");
  EXPECT_EQ(Model.TagsAreChanged(), false);
  EXPECT_EQ(View.Fields[efTitle], "");

  // Typed with no file to go to: the save says the edit is dropped instead of "0 files".
  View.Type(efArtist, "Nobody");
  Model.btnSaveClick();
  EXPECT_EQ(Prompts.Messages.back(),
            std::make_pair(mkInformation, QString("No file is selected: the changes typed into the fields are dropped.")));
  EXPECT_FALSE(Model.TagsAreChanged());

  // A filter change rebuilds the list: the same offer, then empty fields.
  Select(one);
  View.Type(efTitle, "Filtered");
  Prompts.Answers = {true};
  Model.edtFilterChange("one");
  EXPECT_EQ(Service->Files[one[0]].Title, "Filtered");
  EXPECT_EQ(View.Fields[efTitle], "");
  EXPECT_TRUE(Model.CurrentFile().empty());
}

TEST_F(EditingModel, ACommandsOutcomeIsShownAfterTheRescanItStarted)
{
  MakeFiles({"A"});
  QSignalSpy done(&Model, &TEditingModel::ScanCompleted);
  Model.StartScan(Dir.Path());
  Model.SetStatusAfterScan("Moved 1 file(s) to x");
  ASSERT_TRUE(done.wait(20000));
  EXPECT_EQ(View.Status, "Moved 1 file(s) to x");
  // Once: the next scan reports itself.
  Scan(Dir.Path());
  EXPECT_EQ(View.Status, "Loaded 1 files.");
  // With no scan running it shows at once.
  Model.SetStatusAfterScan("now");
  EXPECT_EQ(View.Status, "now");
}

TEST_F(EditingModel, ASortStaysInForceAfterARescanAFilterChangeAndEdits)
{
  const auto files = MakeFiles({"b", "d", "a", "c"});
  Scan(Dir.Path());
  EXPECT_FALSE(Model.RowsInSortOrder());  // nobody sorted yet: no order to show
  const auto titles = [&] {
    QStringList t;
    for (int r = 0; r < Model.RowCount(); ++r) t << Model.CellText(r, flcTitle);
    return t;
  };
  Model.lvFilesColumnClick(flcTitle);
  Model.lvFilesColumnClick(flcTitle);  // descending
  EXPECT_EQ(titles(), (QStringList{"d", "c", "b", "a"}));
  EXPECT_TRUE(Model.RowsInSortOrder());

  // Rows arrive in scan order during a rescan, and the order is claimed only while they have
  // it; when the walk ends they are sorted again.
  int claimedWrongly = 0;
  View.OnStatus = [&](const QString &) {
    QStringList sorted = titles();
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    if (Model.RowsInSortOrder() && titles() != sorted) ++claimedWrongly;
  };
  Scan(Dir.Path());
  View.OnStatus = nullptr;
  EXPECT_EQ(claimedWrongly, 0);
  EXPECT_EQ(titles(), (QStringList{"d", "c", "b", "a"}));
  EXPECT_TRUE(Model.RowsInSortOrder());

  Model.edtFilterChange(".mp3");
  EXPECT_EQ(titles(), (QStringList{"d", "c", "b", "a"}));
  EXPECT_TRUE(Model.RowsInSortOrder());

  // An edit that moves a row out of place: the row goes where the sort puts it, the selection
  // with it.
  Select({files[2]});  // "a", last
  View.Type(efTitle, "z");
  Model.btnSaveClick();
  EXPECT_EQ(titles(), (QStringList{"z", "d", "c", "b"}));
  EXPECT_EQ(View.Selected, std::vector<int>{0});
  EXPECT_TRUE(Model.RowsInSortOrder());
}

// A backup that an earlier failed save left and that differs from the file blocks the save;
// the model asks whether to put it back. No keeps both as they are and lists the failure; Yes
// puts the backup back and saves the edit onto it.
TEST_F(EditingModel, DifferingBackupIsOfferedForRestore)
{
  const std::string file = Dir.CopyFixture("mp3/id3v1-only.mp3", "song.mp3");
  const std::string backup = TagBackupFileName(file);
  const Bytes8 original = ReadFileBytes(file);
  TFakeView view;
  TFakePrompts prompts;
  TEditingModel model(CreateTagService(), view, prompts);
  view.Model = &model;
  QSignalSpy done(&model, &TEditingModel::ScanCompleted);
  model.StartScan(Dir.Path());
  ASSERT_TRUE(done.wait(20000));
  ASSERT_EQ(model.RowCount(), 1);

  // What a killed save may leave: the file changed, the complete backup beside it.
  ASSERT_TRUE(TTagService().SaveTag([&] {
    TAudioTag t;
    EXPECT_TRUE(TTagService().LoadTag(file, t));
    t.Album = "Half-saved";
    return t;
  }()));
  WriteFileBytes(backup, original);
  const Bytes8 changed = ReadFileBytes(file);

  view.Selected = {0};
  model.lvFilesSelectItem();
  view.Type(efTitle, "Edited");
  prompts.Answers = {false};
  TSaveReport report = model.btnSaveClick();
  EXPECT_EQ(report.Failed, 1);
  ASSERT_EQ(prompts.Messages.size(), 1u);
  EXPECT_EQ(prompts.Messages[0].first, mkConfirmation);
  EXPECT_TRUE(prompts.Messages[0].second.contains(QString::fromStdString(backup)));
  EXPECT_TRUE(prompts.Messages[0].second.endsWith("Put the backup back over the file and save again?"));
  ASSERT_EQ(report.Errors.size(), 1u);
  EXPECT_EQ(report.Errors[0].Message.rfind("Backup failed: ", 0), 0u);
  EXPECT_EQ(ReadFileBytes(file), changed);
  EXPECT_EQ(ReadFileBytes(backup), original);

  prompts.Answers = {true};
  report = model.btnSaveClick();
  EXPECT_EQ(report.Saved, 1);
  EXPECT_EQ(report.Failed, 0);
  EXPECT_EQ(prompts.Messages.size(), 2u);
  EXPECT_FALSE(fs::exists(backup));
  TAudioTag after;
  ASSERT_TRUE(TTagService().LoadTag(file, after));
  EXPECT_EQ(after.Title, "Edited");
  EXPECT_EQ(after.Album, "Test Album") << "the edit went onto the restored file";

  // Another failure asks nothing.
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  view.Type(efTitle, "Read-only");
  report = model.btnSaveClick();
  EXPECT_EQ(report.Failed, 1);
  EXPECT_EQ(prompts.Messages.size(), 2u);
  EXPECT_EQ(report.Errors[0].Message, "Tags save error: 5: read-only file");
}
