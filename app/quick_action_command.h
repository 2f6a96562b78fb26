#pragma once
// The quick-action command: runs one preset of the store on the selected files of the editing
// model. Every entry point of the window (the toolbar button, Ctrl+Q, the context menu, a
// preset's menu item) ends here; the window decides which name to run (a menu item carries
// its preset's name as data) and rebuilds its presets menu when a preset ran, since running
// one makes it the default.
//
// Steps: without a store nothing happens; the name is trimmed (codes up to U+0020) and an
// empty name does nothing; an unknown name is a warning "Preset not found: " + name, a preset
// without actions an information "Preset has no actions: " + name. Otherwise the actions run
// on the selection as one undo step, the preset becomes the default and the store is saved
// (a failure to write it is reported and does not stop the command), and the Save command of
// the model writes every changed record, also when nothing was selected.

#include <QString>

#include <cstdint>

#include "app/editing_model.h"
#include "app/preset_store.h"
#include "app/prompts.h"

enum class TQuickActionOutcome : std::uint8_t {
  NothingToRun,   // no store, or an empty name
  PresetNotFound,
  PresetHasNoActions,
  Ran,            // the actions ran and the Save command ran after them
};

struct TQuickActionResult {
  TQuickActionOutcome Outcome = TQuickActionOutcome::NothingToRun;
  bool StoreSaved = false;  // Ran: the presets file took the new default
  TSaveReport Save;         // Ran: what the Save command wrote
};

// Runs the preset named PresetName (found without regard to case).
TQuickActionResult RunQuickActionPreset(TEditingModel &Model, TActionPresetStore *Store, IPrompts &Prompts,
                                        const QString &PresetName);
// Runs the store's default preset (its LastPresetName): the toolbar button, Ctrl+Q and the
// context menu's "Quick Action".
TQuickActionResult RunDefaultQuickAction(TEditingModel &Model, TActionPresetStore *Store, IPrompts &Prompts);
