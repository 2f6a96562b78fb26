// main for GoogleTest executables that drive windows: a QApplication exists for the whole run,
// on the offscreen platform unless QT_QPA_PLATFORM says otherwise, and the per-user folders
// (settings, data, runtime) point into a temporary folder, so a test never reads or writes the
// settings of the person running it.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (!home.isValid()) return 2;
  qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
  qputenv("XDG_RUNTIME_DIR", (home.path() + QStringLiteral("/runtime")).toUtf8());

  QApplication app(argc, argv);
  QApplication::setOrganizationName("Corvella");
  QApplication::setApplicationName("Corvella");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
