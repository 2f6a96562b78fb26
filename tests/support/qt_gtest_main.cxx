// main for GoogleTest executables that use Qt: a QCoreApplication exists for the whole run,
// so queued signals, QThread hand-overs and QSettings work; tests drive the event loop with
// QSignalSpy::wait or QTRY_* and never sleep. The per-user folders point into a temporary
// folder, so a test never touches the settings of the person running it.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "tests/support/private_user_folders.h"

int main(int argc, char **argv)
{
  QTemporaryDir home;
  if (!UsePrivateUserFolders(home)) return 2;
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Corvella");
  QCoreApplication::setApplicationName("Corvella");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
