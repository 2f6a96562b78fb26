#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>

#include "app/ui/frm_preset_action_edit.h"
#include "app/ui/frm_preset_actions_editor.h"
#include "app/ui/frm_preset_editor.h"
#include "tests/support/test_support.h"

void PrintTo(const QString &Text, std::ostream *Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace {

class TScriptedPrompts : public IPrompts {
public:
  std::vector<std::pair<TMessageKind, QString>> Messages;
  std::deque<bool> Answers;  // confirmations; Yes when empty
  bool MessageBox(TMessageKind Kind, const QString &Text) override
  {
    Messages.emplace_back(Kind, Text);
    if (Kind != mkConfirmation || Answers.empty()) return true;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &) override { return false; }
};

QStringList Lines(const QListWidget *List)
{
  QStringList lines;
  for (int i = 0; i < List->count(); ++i) lines << List->item(i)->text();
  return lines;
}

// Runs Step on the modal dialog of type T once the event loop shows it.
template <typename T, typename TStep>
void OnModal(TStep Step)
{
  QTimer::singleShot(0, [Step] {
    auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    Step(*dialog);
  });
}

TEST(ActionDialog, LaidOutAtItsSizeAndOpensOnTheAction)
{
  const TTagAction copy{takCopyField, tfComment, tfArtist, {}, {}};
  TFrmPresetActionEdit dialog(nullptr, copy);
  EXPECT_EQ(dialog.size(), QSize(420, 240));
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  EXPECT_EQ(dialog.windowTitle(), "Edit Action");
  EXPECT_EQ(dialog.btnOK->geometry(), QRect(248, 192, 75, 28));
  EXPECT_EQ(dialog.btnCancel->geometry(), QRect(333, 192, 75, 28));
  EXPECT_EQ(dialog.edtSearch->geometry(), QRect(120, 112, 288, 24));
  QStringList kinds;
  for (int i = 0; i < dialog.cbKind->count(); ++i) kinds << dialog.cbKind->itemText(i);
  EXPECT_EQ(kinds, QStringList({"Trim spaces", "Collapse spaces", "Upper case", "Lower case", "Title case",
                                "Replace text", "Copy field"}));
  EXPECT_EQ(dialog.cbKind->currentIndex(), 6);
  EXPECT_EQ(dialog.cbTarget->currentText(), "Comment");
  EXPECT_EQ(dialog.cbSource->currentText(), "Artist");
  EXPECT_EQ(dialog.CurrentAction(), copy);
}

TEST(ActionDialog, ShowsOnlyTheControlsOfTheChosenKind)
{
  TFrmPresetActionEdit dialog(nullptr, TTagAction{});
  for (int position = 0; position < kTagActionKindCount; ++position) {
    dialog.cbKind->setCurrentIndex(position);
    const TTagActionKind kind = kActionKindListOrder[position];
    EXPECT_EQ(dialog.cbSource->isVisibleTo(&dialog), kind == takCopyField) << position;
    EXPECT_EQ(dialog.lblSource->isVisibleTo(&dialog), kind == takCopyField) << position;
    EXPECT_EQ(dialog.edtSearch->isVisibleTo(&dialog), kind == takReplaceText) << position;
    EXPECT_EQ(dialog.edtReplace->isVisibleTo(&dialog), kind == takReplaceText) << position;
    EXPECT_EQ(dialog.lblReplace->isVisibleTo(&dialog), kind == takReplaceText) << position;
  }
}

TEST(ActionDialog, ABlankSearchTextIsRefusedAndTheDialogStaysOpenWithTheEdits)
{
  TScriptedPrompts prompts;
  TFrmPresetActionEdit dialog(nullptr, TTagAction{}, &prompts);
  dialog.show();
  dialog.cbKind->setCurrentIndex(5);
  dialog.cbTarget->setCurrentIndex(2);
  dialog.edtSearch->setText(" ");
  dialog.edtReplace->setText("x");
  QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
  ASSERT_EQ(prompts.Messages.size(), 1u);
  EXPECT_EQ(prompts.Messages[0], std::make_pair(mkWarning, QString("Search text cannot be empty for \"Replace text\".")));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.edtSearch->text(), " ");
  EXPECT_EQ(dialog.cbTarget->currentIndex(), 2);

  dialog.edtSearch->setText(".");
  QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
  EXPECT_EQ(prompts.Messages.size(), 1u);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.CurrentAction(), (TTagAction{takReplaceText, tfAlbum, tfTitle, ".", "x"}));
}

TEST(ActionDialog, TextsOfKindsThatDoNotUseThemAreDropped)
{
  TFrmPresetActionEdit dialog(nullptr, TTagAction{takReplaceText, tfTitle, tfArtist, "a", "b"});
  dialog.cbKind->setCurrentIndex(2);
  EXPECT_EQ(dialog.CurrentAction(), (TTagAction{takUpperCase, tfTitle, tfTitle, {}, {}}));
}

TEST(ActionDialog, EditActionGivesTheActionOnlyWhenConfirmed)
{
  TTagAction action{takTrimSpaces, tfYear, tfTitle, {}, {}};
  OnModal<TFrmPresetActionEdit>([](TFrmPresetActionEdit &d) {
    d.cbKind->setCurrentIndex(4);
    d.btnOK->click();
  });
  EXPECT_TRUE(EditAction(nullptr, action));
  EXPECT_EQ(action, (TTagAction{takTitleCase, tfYear, tfTitle, {}, {}}));

  OnModal<TFrmPresetActionEdit>([](TFrmPresetActionEdit &d) {
    d.cbKind->setCurrentIndex(1);
    d.btnCancel->click();
  });
  EXPECT_FALSE(EditAction(nullptr, action));
  EXPECT_EQ(action.Kind, takTitleCase);
}

TEST(ActionLines, DescribeEachAction)
{
  EXPECT_EQ(ActionLineText({takCopyField, tfComment, tfArtist, {}, {}}), "Copy field -> Comment (from Artist)");
  EXPECT_EQ(ActionLineText({takReplaceText, tfTitle, tfTitle, "_", " "}), "Replace text -> Title (\"_\" => \" \")");
  EXPECT_EQ(ActionLineText({takCollapseSpaces, tfGenre, tfTitle, {}, {}}), "Collapse spaces -> Genre");
}

class PresetDialog : public ::testing::Test {
protected:
  // The action dialog answers from a queue: an action confirms, nothing cancels.
  void Script(TFrmPresetActionsEditor &Dialog)
  {
    Dialog.EditActionDialog = [this](QWidget *, TTagAction &Action) {
      Seen.push_back(Action);
      if (Replies.empty()) return false;
      Action = Replies.front();
      Replies.pop_front();
      return true;
    };
  }
  const TTagAction Trim{takTrimSpaces, tfTitle, tfTitle, {}, {}};
  const TTagAction Upper{takUpperCase, tfArtist, tfTitle, {}, {}};
  const TTagAction Copy{takCopyField, tfComment, tfArtist, {}, {}};
  std::deque<TTagAction> Replies;
  std::vector<TTagAction> Seen;
  TScriptedPrompts Prompts;
};

TEST_F(PresetDialog, LaidOutAtItsSize)
{
  TFrmPresetActionsEditor dialog(nullptr, "P", {Trim});
  dialog.show();
  EXPECT_EQ(dialog.size(), QSize(720, 440));
  EXPECT_EQ(dialog.windowTitle(), "Preset Actions");
  EXPECT_EQ(dialog.edtName->geometry(), QRect(90, 10, 520, 24));
  EXPECT_EQ(dialog.btnUp->geometry(), QRect(10, 128, 150, 28));
  EXPECT_EQ(dialog.btnOK->mapTo(&dialog, QPoint(0, 0)), QPoint(720 - 180, 440 - 48 + 10));
  dialog.resize(900, 500);
  QApplication::processEvents();
  EXPECT_EQ(dialog.btnCancel->mapTo(&dialog, QPoint(0, 0)), QPoint(900 - 95, 500 - 48 + 10));
}

TEST_F(PresetDialog, AddEditDeleteAndMoveWorkOnTheCopy)
{
  const std::vector<TTagAction> original{Trim, Upper};
  TFrmPresetActionsEditor dialog(nullptr, "P", original, {}, &Prompts);
  Script(dialog);

  Replies = {Copy};
  dialog.btnAddClick();
  ASSERT_EQ(Seen.size(), 1u);
  EXPECT_EQ(Seen[0], (TTagAction{}));  // a new action: trim spaces on the title
  EXPECT_EQ(Lines(dialog.lb), QStringList({"Trim spaces -> Title", "Upper case -> Artist",
                                           "Copy field -> Comment (from Artist)"}));
  EXPECT_EQ(dialog.lb->currentRow(), 2);

  dialog.btnDownClick();  // the last line stays
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Upper, Copy}));
  dialog.btnUpClick();
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Copy, Upper}));
  EXPECT_EQ(dialog.lb->currentRow(), 1);
  dialog.lb->setCurrentRow(0);
  dialog.btnUpClick();  // the first line stays
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Copy, Upper}));

  dialog.lb->setCurrentRow(1);
  Replies = {Trim};
  dialog.btnEditClick();
  EXPECT_EQ(Seen.back(), Copy);
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Trim, Upper}));
  EXPECT_EQ(dialog.lb->currentRow(), 1);
  dialog.btnEditClick();  // cancelled: nothing changes
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Trim, Upper}));

  Prompts.Answers = {false};
  dialog.lb->setCurrentRow(2);
  dialog.btnDeleteClick();
  EXPECT_EQ(dialog.Actions().size(), 3u);
  EXPECT_EQ(Prompts.Messages.back(), std::make_pair(mkConfirmation, QString("Delete selected action?")));
  dialog.btnDeleteClick();
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Trim}));
  EXPECT_EQ(dialog.lb->currentRow(), 1);
  dialog.lb->setCurrentRow(0);
  dialog.btnDeleteClick();
  EXPECT_EQ(dialog.lb->currentRow(), 0);
}

TEST_F(PresetDialog, ARefusedNameKeepsTheDialogOpenWithTheEdits)
{
  int checks = 0;
  TFrmPresetActionsEditor dialog(nullptr, "Mine", {Trim},
                                 [&](const QString &Name) {
                                   ++checks;
                                   return Name == "Taken" ? QString("A preset with this name already exists.")
                                                          : QString();
                                 },
                                 &Prompts);
  Script(dialog);
  dialog.show();
  Replies = {Upper};
  dialog.btnAddClick();

  dialog.edtName->setText(" \t ");
  QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(checks, 0);
  EXPECT_EQ(Prompts.Messages.back(), std::make_pair(mkWarning, QString("Preset name cannot be empty.")));

  dialog.edtName->setText("  Taken ");
  QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Prompts.Messages.back(), std::make_pair(mkWarning, QString("A preset with this name already exists.")));
  EXPECT_EQ(dialog.edtName->text(), "  Taken ");
  EXPECT_EQ(dialog.Actions(), (std::vector<TTagAction>{Trim, Upper}));

  dialog.edtName->setText("  Rock & Roll ");
  QTest::mouseClick(dialog.btnOK, Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.TrimmedName(), "Rock & Roll");
}

TEST_F(PresetDialog, ExecuteEditorHandsBackOnlyWhatWasConfirmed)
{
  QString name = "Old";
  std::vector<TTagAction> actions{Trim};
  OnModal<TFrmPresetActionsEditor>([this](TFrmPresetActionsEditor &d) {
    d.edtName->setText(" New ");
    d.lb->setCurrentRow(0);
    Prompts.Answers = {true};
    d.btnDeleteClick();
    d.btnOK->click();
  });
  EXPECT_TRUE(TFrmPresetActionsEditor::ExecuteEditor(nullptr, name, actions, {}, &Prompts));
  EXPECT_EQ(name, "New");
  EXPECT_TRUE(actions.empty());

  actions = {Upper};
  OnModal<TFrmPresetActionsEditor>([](TFrmPresetActionsEditor &d) {
    d.edtName->setText("Other");
    d.btnCancel->click();
  });
  EXPECT_FALSE(TFrmPresetActionsEditor::ExecuteEditor(nullptr, name, actions, {}, &Prompts));
  EXPECT_EQ(name, "New");
  EXPECT_EQ(actions, std::vector<TTagAction>{Upper});
}

class PresetList : public ::testing::Test {
protected:
  void SetUp() override
  {
    Store.CreateDefaultPresets();
    ASSERT_TRUE(Store.Save());
  }
  // The preset dialog as the user would drive it: the real dialog, its name typed in turn
  // from Names and OK clicked after each until it accepts (or the names run out: Cancel).
  void TypeNames(TFrmPresetEditor &Editor, QStringList Names)
  {
    Editor.EditPresetDialog = [this, Names](QWidget *Owner, QString &Name, std::vector<TTagAction> &Actions,
                                            const TFrmPresetActionsEditor::TNameCheck &Check) {
      TFrmPresetActionsEditor dialog(Owner, Name, Actions, Check, &Prompts);
      dialog.show();
      Offered.push_back(dialog.edtName->text());
      for (const QString &typed : Names) {
        dialog.edtName->setText(typed);
        dialog.btnOK->click();
        if (dialog.result() == QDialog::Accepted) {
          Name = dialog.TrimmedName();
          Actions = dialog.Actions();
          return true;
        }
        EXPECT_TRUE(dialog.isVisible());
      }
      return false;
    };
  }
  QString StoredDefault() const
  {
    TActionPresetStore again(Store.FileName());
    again.Load();
    return again.LastPresetName();
  }
  QStringList StoredNames() const
  {
    TActionPresetStore again(Store.FileName());
    again.Load();
    QStringList names;
    for (int i = 0; i < again.PresetCount(); ++i) names << again.PresetByIndex(i).Name;
    return names;
  }

  TempDir Dir;
  TActionPresetStore Store{QString::fromStdString(Dir.Path() + "/QuickActionPresets.json")};
  TScriptedPrompts Prompts;
  QStringList Offered;
};

TEST_F(PresetList, LaidOutAtItsSizeWithTheDefaultSelected)
{
  Store.SetLastPresetName("title case (title/artist/album)");
  TFrmPresetEditor editor(nullptr, Store, &Prompts);
  editor.show();
  EXPECT_EQ(editor.size(), QSize(600, 380));
  EXPECT_EQ(editor.windowTitle(), "Preset Editor");
  EXPECT_EQ(editor.btnClose->geometry(), QRect(10, 300, 180, 28));
  EXPECT_EQ(editor.lb->width(), 400);
  EXPECT_EQ(Lines(editor.lb), QStringList({"Quick Clean", "Title Case (Title/Artist/Album)",
                                           "Scene Cleanup (_ . to space)"}));
  EXPECT_EQ(editor.lb->currentRow(), 1);
  EXPECT_TRUE(editor.chkDefault->isChecked());
}

TEST_F(PresetList, TheCheckBoxFollowsTheSelectionAndMovesTheDefault)
{
  TFrmPresetEditor editor(nullptr, Store, &Prompts);
  editor.show();
  EXPECT_TRUE(editor.chkDefault->isChecked());
  editor.lb->setCurrentRow(2);
  EXPECT_FALSE(editor.chkDefault->isChecked());
  EXPECT_EQ(Store.LastPresetName(), "Quick Clean");

  QTest::mouseClick(editor.chkDefault, Qt::LeftButton, {}, QPoint(6, editor.chkDefault->height() / 2));
  EXPECT_TRUE(editor.chkDefault->isChecked());
  EXPECT_EQ(Store.LastPresetName(), "Scene Cleanup (_ . to space)");
  EXPECT_EQ(StoredDefault(), "Scene Cleanup (_ . to space)");

  // Unticking is undone: the default can only move.
  QTest::mouseClick(editor.chkDefault, Qt::LeftButton, {}, QPoint(6, editor.chkDefault->height() / 2));
  EXPECT_TRUE(editor.chkDefault->isChecked());
  EXPECT_EQ(Store.LastPresetName(), "Scene Cleanup (_ . to space)");
}

TEST_F(PresetList, ADuplicateNameIsRefusedInsideThePresetDialog)
{
  TFrmPresetEditor editor(nullptr, Store, &Prompts);
  TypeNames(editor, {"quick CLEAN", "Rock & Roll"});
  editor.btnAddClick();
  EXPECT_EQ(Offered, QStringList({"New Preset"}));
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0], std::make_pair(mkWarning, QString("A preset with this name already exists.")));
  EXPECT_EQ(Lines(editor.lb).last(), "Rock & Roll");
  EXPECT_EQ(editor.SelectedName(), "Rock & Roll");
  EXPECT_FALSE(editor.chkDefault->isChecked());
  EXPECT_EQ(StoredNames().last(), "Rock & Roll");
}

TEST_F(PresetList, RenamingOnlyInLetterCaseKeepsTheDefault)
{
  TFrmPresetEditor editor(nullptr, Store, &Prompts);
  editor.lb->setCurrentRow(0);
  TypeNames(editor, {"quick clean"});
  editor.btnEditClick();
  EXPECT_TRUE(Prompts.Messages.empty());
  EXPECT_EQ(Store.PresetByIndex(0).Name, "quick clean");
  EXPECT_EQ(Store.LastPresetName(), "quick clean");
  EXPECT_EQ(StoredDefault(), "quick clean");
  EXPECT_EQ(Store.PresetByIndex(0).Actions.size(), 14u);
  EXPECT_TRUE(editor.chkDefault->isChecked());

  // Renaming onto another preset's name is refused; cancelling then changes nothing.
  TypeNames(editor, {"Scene Cleanup (_ . TO space)"});
  editor.btnEditClick();
  EXPECT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Store.PresetByIndex(0).Name, "quick clean");
}

TEST_F(PresetList, DeletingTheDefaultMovesItAndDeletingTheLastBringsBackTheBuiltIns)
{
  TFrmPresetEditor editor(nullptr, Store, &Prompts);
  Prompts.Answers = {false};
  editor.btnDeleteClick();
  EXPECT_EQ(Prompts.Messages.back(), std::make_pair(mkConfirmation, QString("Delete preset \"Quick Clean\"?")));
  EXPECT_EQ(Store.PresetCount(), 3);

  editor.btnDeleteClick();
  EXPECT_EQ(Store.PresetCount(), 2);
  EXPECT_EQ(Store.LastPresetName(), "Title Case (Title/Artist/Album)");
  EXPECT_EQ(editor.lb->currentRow(), 0);
  EXPECT_TRUE(editor.chkDefault->isChecked());

  editor.lb->setCurrentRow(1);
  editor.btnDeleteClick();  // not the default: it stays where it is
  EXPECT_EQ(Store.LastPresetName(), "Title Case (Title/Artist/Album)");
  editor.btnDeleteClick();
  EXPECT_EQ(Store.PresetCount(), 3);
  EXPECT_EQ(Store.LastPresetName(), "Quick Clean");
  EXPECT_EQ(StoredNames(), QStringList({"Quick Clean", "Title Case (Title/Artist/Album)",
                                        "Scene Cleanup (_ . to space)"}));
}

// Every change is saved at once; a file that cannot be written is said, not passed over.
TEST_F(PresetList, AFailedSaveIsReported)
{
  const std::string blocker = Dir.Write("not-a-folder", Bytes().Str("x"));
  TActionPresetStore store(QString::fromStdString(blocker + "/QuickActionPresets.json"));
  store.CreateDefaultPresets();
  TFrmPresetEditor editor(nullptr, store, &Prompts);
  editor.show();
  editor.lb->setCurrentRow(1);
  QTest::mouseClick(editor.chkDefault, Qt::LeftButton, {}, QPoint(6, editor.chkDefault->height() / 2));
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0].first, mkError);
  EXPECT_TRUE(Prompts.Messages[0].second.startsWith("Cannot write the presets file: "))
    << Prompts.Messages[0].second.toStdString();
  EXPECT_EQ(store.LastPresetName(), "Title Case (Title/Artist/Album)");
}

TEST_F(PresetList, ExecuteEditorReturnsWhenClosed)
{
  OnModal<TFrmPresetEditor>([](TFrmPresetEditor &d) { d.btnClose->click(); });
  EXPECT_TRUE(TFrmPresetEditor::ExecuteEditor(nullptr, Store, &Prompts));
}

}  // namespace
