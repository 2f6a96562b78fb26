#pragma once
// Points the per-user folders (settings, data, runtime) of a test process into Home, so that a
// test never reads or writes the settings of the person running it (the chosen language, the
// presets, the window layout). Call before the Qt application object is created.
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

inline bool UsePrivateUserFolders(const QTemporaryDir &Home)
{
  if (!Home.isValid()) return false;
  qputenv("XDG_CONFIG_HOME", (Home.path() + QStringLiteral("/config")).toUtf8());
  qputenv("XDG_DATA_HOME", (Home.path() + QStringLiteral("/data")).toUtf8());
  qputenv("XDG_RUNTIME_DIR", (Home.path() + QStringLiteral("/runtime")).toUtf8());
  return true;
}
