#pragma once
// TFrmPresetEditor: the preset list ("Preset Editor", 600 x 380): adds, edits and deletes the
// presets of a TActionPresetStore and moves its default; every change is saved to the store's
// file at once (a failure to write it is reported). The check box "Default (button click)" is
// ticked exactly while the selected preset is the default; ticking it moves the default there
// and an untick is undone, so the default cannot be removed, only moved. A new or renamed
// preset whose name another preset has (without regard to case) is refused inside the preset
// dialog, which stays open with the user's edits.

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "app/preset_store.h"
#include "app/prompts.h"
#include "app/ui/frm_preset_actions_editor.h"

class QCheckBox;
class QListWidget;
class QPushButton;

class TFrmPresetEditor : public QDialog {
  Q_OBJECT
public:
  // Opens the preset dialog on a name and actions (in and out) with a name check; true when
  // the user confirmed.
  using TPresetDialog = std::function<bool(QWidget *Owner, QString &Name, std::vector<TTagAction> &Actions,
                                           const TFrmPresetActionsEditor::TNameCheck &NameCheck)>;

  // Prompts answers warnings and confirmations; null uses the platform's dialogs.
  TFrmPresetEditor(QWidget *AOwner, TActionPresetStore &AStore, IPrompts *Prompts = nullptr);
  ~TFrmPresetEditor() override;

  // Shows the preset list modally; true when it closes. The caller loads the store again from
  // its file afterwards.
  static bool ExecuteEditor(QWidget *AOwner, TActionPresetStore &AStore, IPrompts *Prompts = nullptr);

  // Fills the list from the store and selects the default (or the first) preset.
  void FillList();
  // The selected preset's name; empty when none is selected.
  QString SelectedName() const;
  void lbClick();
  void chkDefaultClick(bool Checked);
  void btnAddClick();
  void btnEditClick();
  void btnDeleteClick();

  // The preset dialog; tests put their own in its place.
  TPresetDialog EditPresetDialog;

  QListWidget *lb = nullptr;
  QCheckBox *chkDefault = nullptr;
  QPushButton *btnAdd = nullptr, *btnEdit = nullptr, *btnDelete = nullptr, *btnClose = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;

private:
  void UpdateCheckBox();
  void SelectByName(const QString &Name);
  void SaveStore();
  // The name check for a preset that was called OldName (empty for a new one).
  TFrmPresetActionsEditor::TNameCheck NameCheckFor(const QString &OldName) const;

  TActionPresetStore &FStore;
  std::unique_ptr<IPrompts> FOwnPrompts;
  IPrompts *FPrompts = nullptr;
};
