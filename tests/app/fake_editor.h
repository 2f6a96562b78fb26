#pragma once
// Stand-ins for what surrounds the editing model in the window, shared by the tests of the core:
// TFakeView (the file list, selection, edit fields, picture box, status line and Undo button in
// memory), TFakePrompts (modal questions answered from a script and recorded) and
// TFakeTagService (files as records in memory, with call counts).

#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/editing_model.h"
#include "app/editor_view.h"
#include "app/prompts.h"
#include "app/service/tag_service.h"
#include "tests/support/test_support.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString &Text, std::ostream *Out) { *Out << '"' << Text.toStdString() << '"'; }

inline bool LooksLikePicture(const TBytes &Data)
{
  static const std::uint8_t png[] = {0x89, 'P', 'N', 'G'};
  return (Data.size() > 4 && std::equal(png, png + 4, Data.begin())) ||
         (Data.size() > 2 && Data[0] == 0xFF && Data[1] == 0xD8);
}

inline std::string PictureMime(const TBytes &Data) { return Data.size() > 1 && Data[0] == 0x89 ? "image/png" : "image/jpeg"; }

// The window as the model sees it: rows, selection, fields, picture box, status, Undo button.
class TFakeView : public IEditorView {
public:
  TEditingModel *Model = nullptr;
  std::vector<int> Selected;
  int RowTotal = 0;
  std::array<QString, kEditFieldCount> Fields;
  std::array<QStringList, kEditFieldCount> Suggestions;
  TBytes Box;  // the decoded picture in the box; empty = placeholder
  QString Status;
  bool UndoEnabled = false;
  std::vector<std::vector<TErrorItem>> ErrorReports;

  void FileListReset() override { Selected.clear(); RowTotal = 0; }
  void FileListRowsAppended(int, int Count) override { RowTotal += Count; }
  void FileListRowChanged(int) override {}
  void FileListRowRemoved(int Row) override
  {
    --RowTotal;
    std::erase(Selected, Row);
    for (int &r : Selected)
      if (r > Row) --r;
  }
  void FileListRowsReordered(const std::vector<int> &OldRowOfNewRow) override
  {
    std::vector<int> moved;
    for (std::size_t n = 0; n < OldRowOfNewRow.size(); ++n)
      if (std::find(Selected.begin(), Selected.end(), OldRowOfNewRow[n]) != Selected.end()) moved.push_back(static_cast<int>(n));
    Selected = moved;
  }
  std::vector<int> SelectedRows() const override { return Selected; }

  QString FieldText(TEditField Field) const override { return Fields[static_cast<std::size_t>(Field)]; }
  void SetFieldText(TEditField Field, const QString &Text) override
  {
    Fields[static_cast<std::size_t>(Field)] = Text;
    if (Model) Model->EditFieldChange();  // the widget's change event fires for program changes too
  }
  void SetFieldSuggestions(TEditField Field, const QStringList &Items) override { Suggestions[static_cast<std::size_t>(Field)] = Items; }

  void ShowCover(const TAudioTag &Tag) override { Box = LooksLikePicture(Tag.CoverData) ? Tag.CoverData : TBytes(); }
  void ClearCover() override { Box.clear(); }
  bool LoadCoverFromFile(const QString &FileName, QString &Error) override
  {
    const TBytes data = ReadFileBytes(FileName.toStdString());
    if (!LooksLikePicture(data)) {
      Error = "Unsupported image";
      return false;
    }
    Box = data;
    return true;
  }
  void CoverFromImage(TAudioTag &Tag) const override
  {
    Tag.CoverData = Box;
    Tag.CoverMime = Box.empty() ? std::string() : PictureMime(Box);
  }

  std::function<void(const QString &)> OnStatus;
  void SetStatusText(const QString &Text) override
  {
    Status = Text;
    if (OnStatus) OnStatus(Text);
  }
  void SetUndoEnabled(bool Enabled) override { UndoEnabled = Enabled; }
  void ShowErrorReport(const std::vector<TErrorItem> &Errors) override { ErrorReports.push_back(Errors); }

  // A user typing into a field.
  void Type(TEditField Field, const QString &Text)
  {
    Fields[static_cast<std::size_t>(Field)] = Text;
    Model->EditFieldChange();
  }
};

// Answers the modal questions from a script and records them.
class TFakePrompts : public IPrompts {
public:
  struct TInput {
    QString Title, Prompt, Value;  // Value: what the box was prefilled with
  };
  std::vector<std::pair<TMessageKind, QString>> Messages;
  std::deque<bool> Answers;  // for confirmations; Yes when the script is empty
  QString OpenFileAnswer;    // empty = cancel
  std::deque<QString> InputAnswers;   // answers of input boxes in turn; none left = cancel
  std::vector<TInput> Inputs;
  std::deque<QString> FolderAnswers;  // answers of folder pickers in turn; none left = cancel
  std::vector<TInput> FolderPicks;

  bool MessageBox(TMessageKind Kind, const QString &Text) override
  {
    Messages.emplace_back(Kind, Text);
    if (Kind != mkConfirmation) return true;
    if (Answers.empty()) return true;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  // Confirmations asked with No as the default button, by text (they are in Messages too).
  std::vector<QString> DefaultNoConfirmations;
  bool ConfirmDefaultNo(const QString &Text) override
  {
    DefaultNoConfirmations.push_back(Text);
    return MessageBox(mkConfirmation, Text);
  }
  struct TChoice {
    QString Text;
    QStringList Buttons;
    int Default = -1, Escape = -1;
  };
  std::vector<TChoice> Choices;
  std::deque<int> ChoiceAnswers;  // button indexes in turn; none left = the default button
  int Choose(const QString &Text, const QStringList &Buttons, int Default, int Escape) override
  {
    Choices.push_back({Text, Buttons, Default, Escape});
    if (ChoiceAnswers.empty()) return Default;
    const int answer = ChoiceAnswers.front();
    ChoiceAnswers.pop_front();
    return answer;
  }
  bool InputBox(const QString &Title, const QString &Prompt, QString &Value) override
  {
    Inputs.push_back({Title, Prompt, Value});
    if (InputAnswers.empty()) return false;
    Value = InputAnswers.front();
    InputAnswers.pop_front();
    return true;
  }
  bool PickFolder(const QString &Title, QString &Folder) override
  {
    FolderPicks.push_back({Title, QString(), Folder});
    if (FolderAnswers.empty()) return false;
    Folder = FolderAnswers.front();
    FolderAnswers.pop_front();
    return true;
  }
  bool OpenFileDialog(const QString &, const QString &, QString &FileName) override
  {
    if (OpenFileAnswer.isEmpty()) return false;
    FileName = OpenFileAnswer;
    return true;
  }
};

// Files as records in memory, with call counts; a path it does not hold fails to load.
class TFakeTagService : public ITagService {
public:
  std::map<std::string, TAudioTag> Files;
  std::set<std::string> FailingSaves;
  int Loads = 0, Saves = 0, Removes = 0;
  std::vector<std::string> SaveOrder;

  bool LoadTag(const std::string &FileName, TAudioTag &Tag) override
  {
    ++Loads;
    Tag.Clear();
    const auto it = Files.find(FileName);
    if (it == Files.end()) return Fail("File not found.");
    Tag = it->second;
    Tag.FileName = FileName;
    Tag.Modified = false;
    return Ok();
  }
  bool SaveTag(const TAudioTag &Tag) override
  {
    ++Saves;
    SaveOrder.push_back(Tag.FileName);
    if (!Files.count(Tag.FileName)) return Fail("File not found.");
    if (FailingSaves.count(Tag.FileName)) return Fail("Tags save error: 5");
    TAudioTag stored = Tag;
    stored.Modified = false;
    Files[Tag.FileName] = stored;
    return Ok();
  }
  std::string GetLastError() const override { return FLastError; }
  void SetTransactional(bool) override {}
  bool GetTransactional() const override { return true; }
  bool RemoveTags(const std::string &FileName) override
  {
    ++Removes;
    if (!Files.count(FileName)) return Fail("File not found.");
    Files[FileName] = TAudioTag();
    return Ok();
  }

  TAudioTag &Add(const std::string &FileName, const std::string &Title = "")
  {
    TAudioTag &t = Files[FileName];
    t.FileName = FileName;
    t.Title = Title;
    return t;
  }

private:
  bool Fail(const std::string &Message)
  {
    FLastError = Message;
    return false;
  }
  bool Ok()
  {
    FLastError.clear();
    return true;
  }
  std::string FLastError;
};
