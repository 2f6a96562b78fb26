#include "app/quick_action_command.h"

#include "app/localization.h"
#include "tags/text/text.h"

TQuickActionResult RunQuickActionPreset(TEditingModel &Model, TActionPresetStore *Store, IPrompts &Prompts,
                                        const QString &PresetName)
{
  TQuickActionResult result;
  if (!Store) return result;
  const QString name = QString::fromStdString(TrimBlanks(PresetName.toStdString()));
  if (name.isEmpty()) return result;

  const TActionPreset *preset = Store->FindByName(name);
  if (!preset) {
    Prompts.Warning(Translate("Preset not found: ") + name);
    result.Outcome = TQuickActionOutcome::PresetNotFound;
    return result;
  }
  if (preset->Actions.empty()) {
    Prompts.Information(Translate("Preset has no actions: ") + name);
    result.Outcome = TQuickActionOutcome::PresetHasNoActions;
    return result;
  }

  // A copy: saving the store below must not pull the actions from under the loop.
  const std::vector<TTagAction> actions = preset->Actions;
  Model.ApplyActionsToSelection(actions);
  Store->SetLastPresetName(name);
  result.StoreSaved = Store->Save();
  if (!result.StoreSaved) Prompts.Error(Store->LastError());
  result.Outcome = TQuickActionOutcome::Ran;
  result.Save = Model.btnSaveClick();
  return result;
}

TQuickActionResult RunDefaultQuickAction(TEditingModel &Model, TActionPresetStore *Store, IPrompts &Prompts)
{
  if (!Store) return {};
  return RunQuickActionPreset(Model, Store, Prompts, Store->LastPresetName());
}
