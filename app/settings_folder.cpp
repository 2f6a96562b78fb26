#include "app/settings_folder.h"

#include <QStandardPaths>

QString SettingsFolder()
{
  // The same folder QSettings uses for organisation "Corvella", so the chosen language
  // (Corvella.conf), the window layout and the presets file sit side by side.
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/Corvella");
}
