// main for GoogleTest executables that use Qt: a QCoreApplication exists for the whole run,
// so queued signals, QThread hand-overs and QSettings work; tests drive the event loop with
// QSignalSpy::wait or QTRY_* and never sleep.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
  QCoreApplication app(argc, argv);
  QCoreApplication::setOrganizationName("Corvella");
  QCoreApplication::setApplicationName("Corvella");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
