// The file list's item model (TFileListModel) held to the item-model protocol by
// QAbstractItemModelTester, in the window that owns it: watched from before the first scan fills
// it, through a rescan, sorts by a header, a row deleted and a filter typed and cleared. The
// tester reports each breach as a warning of the category "qt.modeltest"; they are collected
// and must stay empty.
#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>

#include "app/editing_model.h"
#include "app/localization.h"
#include "app/prompts.h"
#include "app/ui/file_list_model.h"
#include "app/ui/frm_main.h"

// Readable failure messages for Qt texts.
inline void PrintTo(const QString &Text, std::ostream *Out) { *Out << '"' << Text.toStdString() << '"'; }

namespace {

// Every message of the category "qt.modeltest" while an object of this class lives; other
// messages go on to the handler that was there before.
class TModelTestMessages {
public:
  TModelTestMessages()
  {
    Current = this;
    FPrevious = qInstallMessageHandler(&Handle);
  }
  ~TModelTestMessages()
  {
    qInstallMessageHandler(FPrevious);
    Current = nullptr;
  }
  QStringList Taken()
  {
    const std::lock_guard<std::mutex> lock(FLock);
    return FMessages;
  }

private:
  static void Handle(QtMsgType Type, const QMessageLogContext &Context, const QString &Text)
  {
    TModelTestMessages *self = Current;
    if (self && Context.category && QByteArray(Context.category) == "qt.modeltest") {
      const std::lock_guard<std::mutex> lock(self->FLock);
      self->FMessages << Text;
      return;
    }
    if (self && self->FPrevious) self->FPrevious(Type, Context, Text);
  }

  static inline TModelTestMessages *Current = nullptr;
  QtMessageHandler FPrevious = nullptr;
  std::mutex FLock;
  QStringList FMessages;
};

class TYesPrompts : public IPrompts {
public:
  bool MessageBox(TMessageKind, const QString &) override { return true; }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &) override { return false; }
};

const char *const kFixtures[] = {"id3v1-only.mp3", "id3v23-latin1.mp3", "id3v23-utf16.mp3", "id3v24-utf8.mp3",
                                 "notags.mp3"};
constexpr int kFixtureCount = static_cast<int>(std::size(kFixtures));

class FileListModelTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(Settings.isValid() && Music.isValid());
    LoadTranslationFile(QStringLiteral(CORVELLA_SOURCE_DIR "/data/transl.dt"), QStringLiteral("en"));
    for (const char *name : kFixtures) {
      const QString copy = Music.filePath(QString::fromLatin1(name));
      ASSERT_TRUE(QFile::copy(QStringLiteral(CORVELLA_TEST_DATA "/mp3/") + QString::fromLatin1(name), copy));
      QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
  }

  // Opens the window over the music folder with the tester watching its file list from the
  // start, and waits for the first scan.
  void OpenWindow()
  {
    TFrmMainOptions options;
    options.SettingsFolder = Settings.path();
    options.DefaultFolder = Music.path();
    options.Prompts = &Prompts;
    Window = std::make_unique<TFrmMain>(options);
    List = Window->lvFiles->model();
    ASSERT_NE(dynamic_cast<TFileListModel *>(List), nullptr);
    Tester = std::make_unique<QAbstractItemModelTester>(List, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
  }

  QStringList FileColumn() const
  {
    QStringList names;
    for (int row = 0; row < List->rowCount(); ++row) names << List->index(row, flcFile).data().toString();
    return names;
  }

  int RowOf(const QString &Name) const { return static_cast<int>(FileColumn().indexOf(Name)); }

  void ExpectNoProtocolBreach()
  {
    const QStringList breaches = Messages.Taken();
    EXPECT_TRUE(breaches.isEmpty()) << breaches.join(QLatin1Char('\n')).toStdString();
  }

  void TearDown() override
  {
    Tester.reset();
    Window.reset();
  }

  TModelTestMessages Messages;
  QTemporaryDir Settings;
  QTemporaryDir Music;
  TYesPrompts Prompts;
  std::unique_ptr<TFrmMain> Window;
  QAbstractItemModel *List = nullptr;
  std::unique_ptr<QAbstractItemModelTester> Tester;
};

TEST_F(FileListModelTest, KeepsTheItemModelProtocolThroughScanRescanSortAndDelete)
{
  OpenWindow();
  ASSERT_EQ(List->rowCount(), kFixtureCount);
  EXPECT_EQ(List->columnCount(), kFileListColumnCount);

  // A rescan empties the list and fills it again.
  QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
  QTest::mouseClick(Window->btnRescan, Qt::LeftButton);
  ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
  EXPECT_EQ(List->rowCount(), kFixtureCount);

  // Sorting moves the rows; an index held across the sort follows its file.
  const QPersistentModelIndex held(List->index(RowOf(QStringLiteral("notags.mp3")), flcTitle));
  ASSERT_TRUE(held.isValid());
  Window->lvFilesColumnClick(flcFile);
  const QStringList descending = FileColumn();
  EXPECT_EQ(descending.front(), QStringLiteral("notags.mp3"));
  Window->lvFilesColumnClick(flcFile);
  QStringList ascending = FileColumn();
  EXPECT_EQ(ascending.front(), QStringLiteral("id3v1-only.mp3"));
  std::reverse(ascending.begin(), ascending.end());
  EXPECT_EQ(ascending, descending);
  Window->lvFilesColumnClick(flcTitle);
  ASSERT_TRUE(held.isValid());
  EXPECT_EQ(List->index(held.row(), flcFile).data().toString(), QStringLiteral("notags.mp3"));
  EXPECT_EQ(held.column(), flcTitle);

  // Deleting a file removes its row.
  const int row = RowOf(QStringLiteral("id3v24-utf8.mp3"));
  ASSERT_GE(row, 0);
  Window->lvFiles->selectionModel()->select(List->index(row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QTest::mouseClick(Window->btnDeleteFile, Qt::LeftButton);
  EXPECT_FALSE(QFile::exists(Music.filePath(QStringLiteral("id3v24-utf8.mp3"))));
  EXPECT_EQ(List->rowCount(), kFixtureCount - 1);
  EXPECT_EQ(RowOf(QStringLiteral("id3v24-utf8.mp3")), -1);

  ExpectNoProtocolBreach();
}

TEST_F(FileListModelTest, KeepsTheItemModelProtocolWhileFiltering)
{
  OpenWindow();
  // A filter keeps the files whose name, title, artist or album hold the text; clearing it
  // brings every file back.
  QTest::keyClicks(Window->edtFilter, QStringLiteral("id3v23"));
  QStringList shown = FileColumn();
  shown.sort();
  EXPECT_EQ(shown, (QStringList{QStringLiteral("id3v23-latin1.mp3"), QStringLiteral("id3v23-utf16.mp3")}));
  Window->edtFilter->clear();
  EXPECT_EQ(List->rowCount(), kFixtureCount);
  ExpectNoProtocolBreach();
}

} // namespace
