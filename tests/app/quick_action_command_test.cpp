#include "app/quick_action_command.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

#include "tests/support/test_support.h"

namespace {

// Files as records in memory; every save is counted.
class TMemoryTagService : public ITagService {
public:
  std::map<std::string, TAudioTag> Files;
  int Saves = 0;
  bool LoadTag(const std::string &FileName, TAudioTag &Tag) override
  {
    Tag = Files.at(FileName);
    Tag.FileName = FileName;
    return true;
  }
  bool SaveTag(const TAudioTag &Tag) override
  {
    ++Saves;
    Files[Tag.FileName] = Tag;
    Files[Tag.FileName].Modified = false;
    return true;
  }
  std::string GetLastError() const override { return {}; }
  void SetTransactional(bool) override {}
  bool GetTransactional() const override { return true; }
  bool RemoveTags(const std::string &) override { return true; }
};

class TListView : public IEditorView {
public:
  std::vector<int> Selected;
  std::array<QString, kEditFieldCount> Fields;
  QString Status;
  void FileListReset() override {}
  void FileListRowsAppended(int, int) override {}
  void FileListRowChanged(int) override {}
  void FileListRowRemoved(int) override {}
  void FileListRowsReordered(const std::vector<int> &) override {}
  std::vector<int> SelectedRows() const override { return Selected; }
  QString FieldText(TEditField Field) const override { return Fields[static_cast<std::size_t>(Field)]; }
  void SetFieldText(TEditField Field, const QString &Text) override { Fields[static_cast<std::size_t>(Field)] = Text; }
  void SetFieldSuggestions(TEditField, const QStringList &) override {}
  void ShowCover(const TAudioTag &) override {}
  void ClearCover() override {}
  bool LoadCoverFromFile(const QString &, QString &) override { return false; }
  void CoverFromImage(TAudioTag &) const override {}
  void SetStatusText(const QString &Text) override { Status = Text; }
  void SetUndoEnabled(bool) override {}
  void ShowErrorReport(const std::vector<TErrorItem> &) override {}
};

class TRecordingPrompts : public IPrompts {
public:
  std::vector<std::pair<TMessageKind, QString>> Messages;
  bool MessageBox(TMessageKind Kind, const QString &Text) override
  {
    Messages.emplace_back(Kind, Text);
    return true;
  }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &) override { return false; }
};

class QuickActionCommand : public ::testing::Test {
protected:
  void SetUp() override
  {
    for (const char *title : {"  one  two ", "three", "four"}) {
      const std::string path = "/music/" + std::to_string(Service->Files.size()) + ".mp3";
      Service->Files[path].Title = title;
      Model.ScannerProgress(path);
      Paths.push_back(path);
    }
    Store.CreateDefaultPresets();
    auto upper = std::make_unique<TActionPreset>();
    upper->Name = "Shout & Co";
    upper->Actions = {TTagAction{takUpperCase, tfTitle, tfTitle, {}, {}}};
    Store.AddPreset(std::move(upper));
    auto empty = std::make_unique<TActionPreset>();
    empty->Name = "Nothing";
    Store.AddPreset(std::move(empty));
    ASSERT_TRUE(Store.Save());
  }
  void SelectAll()
  {
    View.Selected = {0, 1, 2};
    Model.lvFilesSelectItem();
  }
  std::string Title(int Index) { return Service->Files[Paths[static_cast<std::size_t>(Index)]].Title; }
  QString StoredDefault()
  {
    TActionPresetStore again(Store.FileName());
    EXPECT_TRUE(again.Load());
    return again.LastPresetName();
  }

  TempDir Dir;
  std::vector<std::string> Paths;
  std::shared_ptr<TMemoryTagService> Service = std::make_shared<TMemoryTagService>();
  TListView View;
  TRecordingPrompts Prompts;
  TEditingModel Model{Service, View, Prompts};
  TActionPresetStore Store{QString::fromStdString(Dir.Path() + "/QuickActionPresets.json")};
};

TEST_F(QuickActionCommand, RunsOnTheSelectionAsOneUndoStepSavesAndBecomesTheDefault)
{
  SelectAll();
  const TQuickActionResult result = RunQuickActionPreset(Model, &Store, Prompts, "Shout & Co");
  EXPECT_EQ(result.Outcome, TQuickActionOutcome::Ran);
  EXPECT_TRUE(result.StoreSaved);
  EXPECT_EQ(result.Save.Saved, 3);
  EXPECT_TRUE(Prompts.Messages.empty());
  EXPECT_EQ(Title(0), "  ONE  TWO ");
  EXPECT_EQ(Title(2), "FOUR");
  EXPECT_EQ(Model.UndoStack().size(), 1u);
  EXPECT_EQ(Store.LastPresetName(), "Shout & Co");
  EXPECT_EQ(StoredDefault(), "Shout & Co");
  EXPECT_EQ(View.Status, "Saved tags to 3 files. Errors: 0");
  EXPECT_EQ(View.Fields[efTitle], "<keep>");

  Model.ActionUndoExecute();
  EXPECT_EQ(Title(0), "  one  two ");
  EXPECT_EQ(Title(1), "three");
}

// An album typed into the fields and not yet saved is not lost to the refilled fields: it goes
// to the selected files with the action's changes.
TEST_F(QuickActionCommand, AnEditTypedBeforeTheActionIsSavedWithIt)
{
  SelectAll();
  View.Fields[efAlbum] = "Typed album";
  Model.EditFieldChange();
  const TQuickActionResult result = RunQuickActionPreset(Model, &Store, Prompts, "Shout & Co");
  EXPECT_EQ(result.Save.Saved, 3);
  for (const std::string &path : Paths) EXPECT_EQ(Service->Files[path].Album, "Typed album") << path;
  EXPECT_EQ(Title(2), "FOUR");
}

TEST_F(QuickActionCommand, TheDefaultPresetRunsWhenNoNameIsGiven)
{
  SelectAll();
  Store.SetLastPresetName("quick clean");
  const TQuickActionResult result = RunDefaultQuickAction(Model, &Store, Prompts);
  EXPECT_EQ(result.Outcome, TQuickActionOutcome::Ran);
  EXPECT_EQ(Title(0), "one two");
}

TEST_F(QuickActionCommand, NamesAreTrimmedAndFoundWithoutRegardToCase)
{
  SelectAll();
  EXPECT_EQ(RunQuickActionPreset(Model, &Store, Prompts, " \tSHOUT & CO\r\n").Outcome, TQuickActionOutcome::Ran);
  EXPECT_EQ(Title(1), "THREE");
  EXPECT_EQ(Store.LastPresetName(), "SHOUT & CO");
}

TEST_F(QuickActionCommand, WithoutASelectionTheDefaultStillMovesAndTheSaveCommandRuns)
{
  const TQuickActionResult result = RunQuickActionPreset(Model, &Store, Prompts, "Shout & Co");
  EXPECT_EQ(result.Outcome, TQuickActionOutcome::Ran);
  EXPECT_EQ(result.Save.Saved, 0);
  EXPECT_EQ(Service->Saves, 0);
  EXPECT_TRUE(Model.UndoStack().empty());
  EXPECT_EQ(StoredDefault(), "Shout & Co");
  EXPECT_EQ(View.Status, "Saved tags to 0 files. Errors: 0");
}

struct RefusalCase {
  const char *Name;
  QString PresetName;
  TQuickActionOutcome Outcome;
  TMessageKind Kind;
  QString Message;  // empty: nothing is said
};

class QuickActionRefusal : public QuickActionCommand, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(QuickActionRefusal, ChangesNothing)
{
  const RefusalCase &c = GetParam();
  SelectAll();
  const QString before = Store.LastPresetName();
  const TQuickActionResult result = RunQuickActionPreset(Model, &Store, Prompts, c.PresetName);
  EXPECT_EQ(result.Outcome, c.Outcome);
  if (c.Message.isEmpty()) {
    EXPECT_TRUE(Prompts.Messages.empty());
  } else {
    ASSERT_EQ(Prompts.Messages.size(), 1u);
    EXPECT_EQ(Prompts.Messages[0].first, c.Kind);
    EXPECT_EQ(Prompts.Messages[0].second, c.Message);
  }
  EXPECT_EQ(Store.LastPresetName(), before);
  EXPECT_TRUE(Model.UndoStack().empty());
  EXPECT_EQ(Service->Saves, 0);
  EXPECT_EQ(Title(1), "three");
}

INSTANTIATE_TEST_SUITE_P(Table, QuickActionRefusal, ::testing::Values(
  RefusalCase{"unknown", " Missing ", TQuickActionOutcome::PresetNotFound, mkWarning, "Preset not found: Missing"},
  RefusalCase{"no_actions", "nothing", TQuickActionOutcome::PresetHasNoActions, mkInformation,
              "Preset has no actions: nothing"},
  RefusalCase{"blank_name", " \t ", TQuickActionOutcome::NothingToRun, mkInformation, ""}),
  [](const auto &p) { return std::string(p.param.Name); });

TEST_F(QuickActionCommand, NoStoreDoesNothing)
{
  SelectAll();
  EXPECT_EQ(RunDefaultQuickAction(Model, nullptr, Prompts).Outcome, TQuickActionOutcome::NothingToRun);
  EXPECT_EQ(RunQuickActionPreset(Model, nullptr, Prompts, "Quick Clean").Outcome, TQuickActionOutcome::NothingToRun);
  EXPECT_TRUE(Prompts.Messages.empty());
  EXPECT_TRUE(Model.UndoStack().empty());
}

TEST_F(QuickActionCommand, APresetsFileThatCannotBeWrittenIsReportedAndTheRecordsAreStillSaved)
{
  // A file where the presets file's folder should be.
  WriteFileBytes(Dir.Path() + "/blocked", Bytes8{1});
  TActionPresetStore store(QString::fromStdString(Dir.Path() + "/blocked/QuickActionPresets.json"));
  store.CreateDefaultPresets();
  SelectAll();
  const TQuickActionResult result = RunQuickActionPreset(Model, &store, Prompts, "Quick Clean");
  EXPECT_EQ(result.Outcome, TQuickActionOutcome::Ran);
  EXPECT_FALSE(result.StoreSaved);
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0].first, mkError);
  EXPECT_TRUE(Prompts.Messages[0].second.startsWith("Cannot write the presets file: "));
  EXPECT_EQ(result.Save.Saved, 3);
  EXPECT_EQ(Title(0), "one two");
}

}  // namespace
