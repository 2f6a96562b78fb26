#pragma once
// TActionPresetStore: the quick-action presets in memory (an ordered owning list plus the name
// of the default preset) and their file `QuickActionPresets.json` in the settings folder.
//
// File: one JSON object {"lastPreset":"..","presets":[{"name":"..","actions":[{"kind":"..",
// "target":"..","source":"..","search":"..","replace":".."}]}]} (RFC 8259), written compactly
// in exactly that key order, UTF-8 with a byte-order mark; in strings ", \ and / are written
// \" \\ \/, BS TAB LF FF CR as \b \t \n \f \r, every other UTF-16 unit below U+0020 or above
// U+007F as \uXXXX with upper-case hex, so the text after the mark is ASCII. Reading accepts
// the file with or without the mark and ignores case and surrounding blanks in the spellings.
//
// Invariants: LastPresetName is empty only when there is no preset, after Load. A file that is
// not JSON or has the wrong shape (a value of another type than the layout's) is renamed aside
// with a ".broken-<time>" suffix before the built-in presets are written, so nothing a user
// wrote is lost; a file with no named preset is replaced by the built-ins. Writes go through
// QSaveFile, so the file is either the old one or the new one. Failures are returned as false
// with a text in LastError(); nothing throws.

#include <QString>

#include <memory>
#include <vector>

#include "app/quick_actions.h"

// The presets file in a settings folder (SettingsFolder() when Folder is empty).
QString DefaultPresetsFileName(const QString &Folder = QString());

class TActionPresetStore {
public:
  explicit TActionPresetStore(const QString &AFileName);

  const QString &FileName() const { return FFileName; }
  const QString &LastPresetName() const { return FLastPresetName; }
  void SetLastPresetName(const QString &Name) { FLastPresetName = Name; }

  // Replaces the content with the file's; falls back to the built-in presets (and writes them)
  // when the file is missing or unusable. False, with a text for the user in LastError(), when
  // the file could not be read or written or was kept aside; the store then still holds usable
  // presets (the built-ins when nothing was read).
  bool Load();
  // Writes the whole store atomically; false with LastError() when it could not.
  bool Save();
  // What the last failed Load or Save reported (empty after success), and where the last
  // unusable file was moved to (empty when none was).
  const QString &LastError() const { return FLastError; }
  const QString &KeptAsideFileName() const { return FKeptAsideFileName; }

  int PresetCount() const { return static_cast<int>(FPresets.size()); }
  // Index must be in range.
  TActionPreset &PresetByIndex(int Index);
  const TActionPreset &PresetByIndex(int Index) const;
  // First preset whose name equals AName without regard to case; nullptr when none.
  TActionPreset *FindByName(const QString &AName);
  const TActionPreset *FindByName(const QString &AName) const;
  void AddPreset(std::unique_ptr<TActionPreset> APreset);   // nullptr is ignored
  void DeletePresetByIndex(int Index);                      // out of range is ignored
  void CreateDefaultPresets();
  // The file's bytes for the current content, exactly as Save writes them.
  QByteArray ToJson() const;

private:
  QString FFileName;
  std::vector<std::unique_ptr<TActionPreset>> FPresets;
  QString FLastPresetName;
  QString FLastError;
  QString FKeptAsideFileName;
};
