#pragma once
// The per-user settings folder: $XDG_CONFIG_HOME/Corvella (normally ~/.config/Corvella), the
// generic configuration location plus a subfolder named after the application. The window
// layout, the presets file and the chosen language live there.

#include <QString>

QString SettingsFolder();
