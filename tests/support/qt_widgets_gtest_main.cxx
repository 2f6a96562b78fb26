// main for GoogleTest executables that drive windows: a QApplication exists for the whole run,
// on the offscreen platform unless QT_QPA_PLATFORM says otherwise, and the per-user folders
// (settings, data, runtime) point into a temporary folder, so a test never reads or writes the
// settings of the person running it.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/support/private_user_folders.h"

int main(int argc, char **argv)
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (!UsePrivateUserFolders(home)) return 2;

  QApplication app(argc, argv);
  QApplication::setOrganizationName("Corvella");
  QApplication::setApplicationName("Corvella");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
