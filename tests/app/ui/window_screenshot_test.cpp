// A picture of the main window in its visual style with a folder of fixtures loaded and one
// file selected, drawn on the offscreen platform. With CORVELLA_SCREENSHOT=path.png set, the
// picture is also written there (that is how docs/screenshot.png is made).
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include "app/editing_model.h"
#include "app/localization.h"
#include "app/ui/frm_main.h"
#include "app/ui/visual_style.h"

namespace {

class TSilentPrompts : public IPrompts {
public:
  bool MessageBox(TMessageKind, const QString &) override { return false; }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &) override { return false; }
};

TEST(WindowScreenshot, DrawsTheWindowWithFilesLoaded)
{
  QTemporaryDir settings, music;
  ASSERT_TRUE(settings.isValid() && music.isValid());
  LoadTranslationFile(QStringLiteral(CORVELLA_SOURCE_DIR "/data/transl.dt"), QStringLiteral("en"));
  ApplyVisualStyle(*qobject_cast<QApplication *>(QCoreApplication::instance()));
  const QString album = music.filePath(QStringLiteral("Test Album"));
  ASSERT_TRUE(QDir().mkpath(album));
  const QStringList fixtures = QDir(QStringLiteral(CORVELLA_TEST_DATA "/mp3")).entryList({"*.mp3"}, QDir::Files);
  ASSERT_GE(fixtures.size(), 7);
  for (const QString &name : fixtures)
    ASSERT_TRUE(QFile::copy(QStringLiteral(CORVELLA_TEST_DATA "/mp3/") + name, album + QLatin1Char('/') + name));

  {
    QSettings ini(settings.filePath(QStringLiteral("set.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Main/WindowState"), 0);
    ini.setValue(QStringLiteral("Main/Width"), 1342);
    ini.setValue(QStringLiteral("Main/Height"), 760);
    const int widths[kFileListColumnCount] = {170, 150, 170, 100, 130, 100, 64, 50, 50};
    for (int column = 0; column < kFileListColumnCount; ++column)
      ini.setValue(QStringLiteral("Cols/W%1").arg(column), widths[column]);
  }
  TSilentPrompts prompts;
  TFrmMainOptions options;
  options.SettingsFolder = settings.path();
  options.DefaultFolder = album;
  options.Prompts = &prompts;
  options.OpenUrl = [](const QUrl &) { return true; };
  TFrmMain window(options);
  QSignalSpy finished(&window.Model(), &TEditingModel::ScanCompleted);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
  ASSERT_EQ(window.Model().RowCount(), fixtures.size());
  for (int row = 0; row < window.Model().RowCount(); ++row) {
    if (window.Model().CellText(row, flcFile) == QStringLiteral("id3v24-utf8.mp3")) {
      window.lvFiles->selectionModel()->select(window.lvFiles->model()->index(row, 0),
                                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
  }
  ASSERT_FALSE(window.edtTitle->currentText().isEmpty());

  const QImage picture = window.grab().toImage();
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size(), window.size() * picture.devicePixelRatio());
  const QString target = qEnvironmentVariable("CORVELLA_SCREENSHOT");
  if (!target.isEmpty()) {
    EXPECT_TRUE(picture.save(target, "PNG"));
  }
}

} // namespace
