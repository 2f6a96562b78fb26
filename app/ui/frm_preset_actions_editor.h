#pragma once
// TFrmPresetActionsEditor: the preset dialog ("Preset Actions", 720 x 440): one preset's name
// and its ordered list of actions, edited on a working copy that is handed back only when the
// user confirms. OK is refused, with a warning and the dialog left open with the user's edits,
// while the name is blank after trimming codes up to U+0020 or while the name check of the
// caller refuses it (a name another preset already has).

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "app/prompts.h"
#include "app/quick_actions.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// "Copy field -> Comment (from Artist)", "Replace text -> Title ("_" => " ")", ...
QString ActionLineText(const TTagAction &Action);

class TFrmPresetActionsEditor : public QDialog {
  Q_OBJECT
public:
  // Judges a trimmed, non-empty name: empty when it may be used, else the warning to show.
  using TNameCheck = std::function<QString(const QString &Name)>;
  // Opens the action dialog on an action; true when the user confirmed it.
  using TActionEditor = std::function<bool(QWidget *Owner, TTagAction &Action)>;

  // Prompts answers warnings and confirmations; null uses the platform's dialogs.
  TFrmPresetActionsEditor(QWidget *AOwner, const QString &PresetName, const std::vector<TTagAction> &Actions,
                          TNameCheck NameCheck = {}, IPrompts *Prompts = nullptr);
  ~TFrmPresetActionsEditor() override;

  // Shows the dialog modally; true with the trimmed name and the new actions when confirmed,
  // false (both unchanged) when cancelled.
  static bool ExecuteEditor(QWidget *AOwner, QString &PresetName, std::vector<TTagAction> &Actions,
                            TNameCheck NameCheck = {}, IPrompts *Prompts = nullptr);

  // The working copy and the name as they stand.
  const std::vector<TTagAction> &Actions() const { return FActions; }
  QString TrimmedName() const;

  void btnAddClick();
  void btnEditClick();
  void btnDeleteClick();
  void btnUpClick();
  void btnDownClick();
  void btnOKClick();

  // The action dialog; tests put their own in its place.
  TActionEditor EditActionDialog;

  QLabel *lblName = nullptr;
  QLineEdit *edtName = nullptr;
  QListWidget *lb = nullptr;
  QPushButton *btnAdd = nullptr, *btnEdit = nullptr, *btnDelete = nullptr, *btnUp = nullptr, *btnDown = nullptr;
  QPushButton *btnOK = nullptr, *btnCancel = nullptr;

protected:
  void resizeEvent(QResizeEvent *Event) override;
  void showEvent(QShowEvent *Event) override;

private:
  void FillList(int Selected);
  void SwapWith(int Offset);

  std::vector<TTagAction> FActions;
  TNameCheck FNameCheck;
  std::unique_ptr<IPrompts> FOwnPrompts;
  IPrompts *FPrompts = nullptr;
  QWidget *FBottomPanel = nullptr;
};
