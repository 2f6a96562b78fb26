// The main window driven as a user drives it, on the offscreen platform: a folder of fixture
// copies is scanned through the folder tree, rows are selected in the file list, fields typed
// into, toolbar buttons and menu items clicked; modal questions are answered by a scripted
// IPrompts, and the files on disk are read back through the tag service.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTextCursor>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>

#include "app/editing_model.h"
#include "app/localization.h"
#include "app/preset_store.h"
#include "app/service/tag_service.h"
#include "app/ui/cover_widget.h"
#include "app/ui/file_list_model.h"
#include "app/ui/folder_tree.h"
#include "app/ui/frm_main.h"
#include "app/ui/maker_links.h"
#include "app/ui/widget_prompts.h"

namespace {

class TScriptedPrompts : public IPrompts {
public:
  std::vector<std::pair<TMessageKind, QString>> Messages;
  std::deque<bool> Confirmations;   // Yes when empty
  std::deque<QString> Inputs;       // cancelled when empty
  std::deque<QString> OpenFiles;    // cancelled when empty
  std::deque<QString> Folders;      // cancelled when empty
  std::vector<QString> DefaultNoConfirmations;
  struct TChoice {
    QString Text;
    QStringList Buttons;
    int Default = -1;
  };
  std::vector<TChoice> Choices;      // answered with the default button

  bool ConfirmDefaultNo(const QString &Text) override
  {
    DefaultNoConfirmations.push_back(Text);
    return MessageBox(mkConfirmation, Text);
  }
  int Choose(const QString &Text, const QStringList &Buttons, int Default, int) override
  {
    Choices.push_back({Text, Buttons, Default});
    return Default;
  }
  bool MessageBox(TMessageKind Kind, const QString &Text) override
  {
    Messages.emplace_back(Kind, Text);
    if (Kind != mkConfirmation || Confirmations.empty()) return true;
    const bool answer = Confirmations.front();
    Confirmations.pop_front();
    return answer;
  }
  bool InputBox(const QString &, const QString &, QString &Value) override
  {
    if (Inputs.empty()) return false;
    Value = Inputs.front();
    Inputs.pop_front();
    return true;
  }
  bool PickFolder(const QString &, QString &Folder) override
  {
    if (Folders.empty()) return false;
    Folder = Folders.front();
    Folders.pop_front();
    return true;
  }
  bool OpenFileDialog(const QString &, const QString &, QString &FileName) override
  {
    if (OpenFiles.empty()) return false;
    FileName = OpenFiles.front();
    OpenFiles.pop_front();
    return true;
  }
};

const char *const kFixtures[] = {"apev2-id3v1.mp3", "id3v1-only.mp3", "id3v23-latin1.mp3", "id3v23-utf16.mp3",
                                 "id3v24-id3v1-kid3.mp3", "id3v24-utf8.mp3", "notags.mp3"};

QString TranslationFile() { return QStringLiteral(CORVELLA_SOURCE_DIR "/data/transl.dt"); }

TAudioTag ReadFile(const QString &Path)
{
  TAudioTag tag;
  EXPECT_TRUE(CreateTagService()->LoadTag(Path.toStdString(), tag)) << Path.toStdString();
  return tag;
}

class FrmMainTest : public ::testing::Test {
protected:
  void SetUp() override
  {
    ASSERT_TRUE(Settings.isValid() && Music.isValid());
    LoadTranslationFile(TranslationFile(), QStringLiteral("en"));
    for (const char *name : kFixtures)
      ASSERT_TRUE(QFile::copy(QStringLiteral(CORVELLA_TEST_DATA "/mp3/") + QString::fromLatin1(name),
                              Music.filePath(QString::fromLatin1(name))));
    for (const QString &name : QDir(Music.path()).entryList(QDir::Files))
      QFile(Music.filePath(name)).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
  void TearDown() override
  {
    Window.reset();
    LoadTranslationFile(TranslationFile(), QStringLiteral("en"));
  }

  // Opens the window; without set.ini it starts on the music folder and scans it. With
  // RealDialogs the window asks through the platform's message boxes.
  void OpenWindow(bool WaitForScan = true, bool RealDialogs = false)
  {
    TFrmMainOptions options;
    options.SettingsFolder = Settings.path();
    options.DefaultFolder = Music.path();
    options.Prompts = RealDialogs ? nullptr : &Prompts;
    options.OpenUrl = [this](const QUrl &Url) {
      OpenedUrls << Url;
      return OpenUrlResult;
    };
    options.ErrorReport = [this](const std::vector<TErrorItem> &Errors) { ErrorReports.push_back(Errors); };
    options.PresetEditor = PresetEditor;
    Window = std::make_unique<TFrmMain>(options);
    // Deleted files go to a trash of the test's own.
    Window->FileOperations().MoveToTrash = [this](const std::string &File) {
      Trashed.push_back(File);
      return QDir().mkpath(Trash.path()) &&
             QFile::rename(QString::fromStdString(File), Trash.filePath(QFileInfo(QString::fromStdString(File)).fileName()));
    };
    QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
    Window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
    if (WaitForScan) {
      ASSERT_TRUE(finished.count() > 0 || finished.wait(20000));
    }
  }

  int RowOf(const QString &Name) const
  {
    for (int row = 0; row < Window->Model().RowCount(); ++row)
      if (Window->Model().CellText(row, flcFile) == Name) return row;
    return -1;
  }

  // Selects rows the way a click and Ctrl+clicks do.
  void SelectFiles(const QStringList &Names)
  {
    QItemSelection selection;
    for (const QString &name : Names) {
      const int row = RowOf(name);
      ASSERT_GE(row, 0) << name.toStdString();
      const QModelIndex index = Window->lvFiles->model()->index(row, 0);
      selection.select(index, index);
    }
    Window->lvFiles->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                           QItemSelectionModel::Rows);
  }

  void TypeInto(QComboBox *Box, const QString &Text)
  {
    Box->lineEdit()->selectAll();
    QTest::keyClicks(Box->lineEdit(), Text);
  }

  QString FilePath(const char *Name) const { return Music.filePath(QString::fromLatin1(Name)); }

  // Writes texts into a file of the music folder as another program would.
  void WriteTags(const char *Name, const std::function<void(TAudioTag &)> &Change)
  {
    const std::shared_ptr<ITagService> service = CreateTagService();
    TAudioTag tag;
    ASSERT_TRUE(service->LoadTag(FilePath(Name).toStdString(), tag));
    Change(tag);
    ASSERT_TRUE(service->SaveTag(tag));
  }

  QTemporaryDir Settings;
  QTemporaryDir Music;
  QTemporaryDir Trash;
  std::vector<std::string> Trashed;
  TScriptedPrompts Prompts;
  QList<QUrl> OpenedUrls;
  bool OpenUrlResult = true;
  std::vector<std::vector<TErrorItem>> ErrorReports;
  std::function<void(TActionPresetStore &)> PresetEditor;
  std::unique_ptr<TFrmMain> Window;
};

TEST_F(FrmMainTest, ScansTheStartFolderIntoNineColumns)
{
  OpenWindow();
  EXPECT_EQ(Window->ShellTree1->SelectedFolderPath(), QDir(Music.path()).canonicalPath());
  EXPECT_EQ(Window->Model().RowCount(), 7);
  EXPECT_EQ(Window->lvFiles->model()->rowCount(), 7);
  ASSERT_EQ(Window->lvFiles->model()->columnCount(), kFileListColumnCount);
  const QStringList captions = {"File", "Directory", "Title", "Artist", "Album Artist", "Album", "Duration", "Year",
                                "Track"};
  for (int column = 0; column < kFileListColumnCount; ++column)
    EXPECT_EQ(Window->lvFiles->model()->headerData(column, Qt::Horizontal).toString(), captions[column]);
  const int row = RowOf(QStringLiteral("id3v24-utf8.mp3"));
  ASSERT_GE(row, 0);
  const QAbstractItemModel *list = Window->lvFiles->model();
  EXPECT_EQ(list->index(row, flcArtist).data().toString(), QStringLiteral("Test Artist"));
  EXPECT_EQ(list->index(row, flcYear).data().toString(), QStringLiteral("2021"));
  EXPECT_FALSE(qvariant_cast<QIcon>(list->index(row, flcFile).data(Qt::DecorationRole)).isNull());
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Loaded 7 files."));
}

TEST_F(FrmMainTest, TwoFilesWithDifferentYearsShowKeep)
{
  OpenWindow();
  SelectFiles({QStringLiteral("id3v24-utf8.mp3"), QStringLiteral("notags.mp3")});
  EXPECT_EQ(Window->edtYear->currentText(), QStringLiteral("<keep>"));
  EXPECT_EQ(Window->edtArtist->currentText(), QStringLiteral("<keep>"));
  ASSERT_EQ(Window->edtYear->count(), 1);
  EXPECT_EQ(Window->edtYear->itemText(0), QStringLiteral("2021"));
  EXPECT_FALSE(Window->imgCover->HasPicture());
  EXPECT_FALSE(Window->imgCover->VirtualImage1->isHidden());

  // A field edited for both files is written to both; the years stay each file's own.
  TypeInto(Window->edtGenre, QStringLiteral("Jazz"));
  QTest::mouseClick(Window->btnSave, Qt::LeftButton);
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Saved tags to 2 files. Errors: 0"));
  EXPECT_EQ(ReadFile(FilePath("id3v24-utf8.mp3")).Genre, "Jazz");
  EXPECT_EQ(ReadFile(FilePath("id3v24-utf8.mp3")).Year, "2021");
  EXPECT_EQ(ReadFile(FilePath("notags.mp3")).Genre, "Jazz");
  EXPECT_EQ(ReadFile(FilePath("notags.mp3")).Year, "");
}

TEST_F(FrmMainTest, EditSaveAndUndo)
{
  OpenWindow();
  const QString file = FilePath("id3v24-utf8.mp3");
  const TAudioTag before = ReadFile(file);
  SelectFiles({QStringLiteral("id3v24-utf8.mp3")});
  EXPECT_EQ(Window->edtTitle->currentText(), QString::fromStdString(before.Title));
  EXPECT_TRUE(Window->imgCover->HasPicture());
  EXPECT_TRUE(Window->imgCover->VirtualImage1->isHidden());
  EXPECT_FALSE(Window->btnUndo->isEnabled());

  TypeInto(Window->edtTitle, QStringLiteral("New Title"));
  Window->memComment->setPlainText(QStringLiteral("first line\nsecond line"));
  Window->actSave->trigger();
  TAudioTag saved = ReadFile(file);
  EXPECT_EQ(saved.Title, "New Title");
  EXPECT_EQ(saved.Comment, "first line\nsecond line");  // new lines are LF
  EXPECT_EQ(saved.CoverData, before.CoverData);
  const int row = RowOf(QStringLiteral("id3v24-utf8.mp3"));
  EXPECT_EQ(Window->lvFiles->model()->index(row, flcTitle).data().toString(), QStringLiteral("New Title"));
  ASSERT_TRUE(Window->btnUndo->isEnabled());

  QTest::mouseClick(Window->btnUndo, Qt::LeftButton);
  saved = ReadFile(file);
  EXPECT_EQ(saved.Title, before.Title);
  EXPECT_EQ(saved.Comment, before.Comment);
  EXPECT_EQ(Window->edtTitle->currentText(), QString::fromStdString(before.Title));
  EXPECT_FALSE(Window->btnUndo->isEnabled());
  EXPECT_FALSE(Window->ActionUndo->isEnabled());
}

TEST_F(FrmMainTest, PressOnTheListAsksToSaveEditsForTheOldSelection)
{
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  TypeInto(Window->edtTitle, QStringLiteral("Typed"));
  Prompts.Confirmations = {true};
  const int other = RowOf(QStringLiteral("id3v1-only.mp3"));
  const QRect rect = Window->lvFiles->visualRect(Window->lvFiles->model()->index(other, flcFile));
  QTest::mouseClick(Window->lvFiles->viewport(), Qt::LeftButton, {}, rect.center());
  ASSERT_FALSE(Prompts.Messages.empty());
  EXPECT_EQ(Prompts.Messages.back().second, QStringLiteral("Do you want to save the tag changes?"));
  EXPECT_EQ(ReadFile(FilePath("notags.mp3")).Title, "Typed");
  EXPECT_EQ(ReadFile(FilePath("id3v1-only.mp3")).Title, "Björk - Jóga");
  EXPECT_EQ(Window->edtTitle->currentText(), QStringLiteral("Björk - Jóga"));
}

// The folder tree may report the folder it shows once more (its model fills in the background):
// no scan starts, so the selection and what is typed in the fields stay.
TEST_F(FrmMainTest, TheShownFolderReportedAgainStartsNoScan)
{
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  const int rows = Window->Model().RowCount();
  Window->edtTitle->setEditText(QStringLiteral("typed"));
  Window->ShellTree1SelectionChanged(Music.path() + QStringLiteral("/"));
  EXPECT_EQ(Window->Model().RowCount(), rows);
  EXPECT_EQ(Window->lvFiles->selectionModel()->selectedRows().size(), 1);
  EXPECT_EQ(Window->edtTitle->currentText(), QStringLiteral("typed"));
}

TEST_F(FrmMainTest, LoadAndClearCover)
{
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  EXPECT_FALSE(Window->imgCover->HasPicture());
  Prompts.OpenFiles = {QStringLiteral(CORVELLA_TEST_DATA "/images/cover.jpg")};
  QTest::mouseClick(Window->btnLoadCover, Qt::LeftButton);
  EXPECT_TRUE(Window->imgCover->HasPicture());
  EXPECT_TRUE(Window->imgCover->VirtualImage1->isHidden());
  QTest::mouseClick(Window->btnSave, Qt::LeftButton);
  QFile jpeg(QStringLiteral(CORVELLA_TEST_DATA "/images/cover.jpg"));
  ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
  const QByteArray bytes = jpeg.readAll();
  TAudioTag saved = ReadFile(FilePath("notags.mp3"));
  EXPECT_EQ(saved.CoverMime, "image/jpeg");
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(saved.CoverData.data()), static_cast<qsizetype>(saved.CoverData.size())),
            bytes);

  QTest::mouseClick(Window->btnClearCover, Qt::LeftButton);
  EXPECT_FALSE(Window->imgCover->HasPicture());
  EXPECT_FALSE(Window->imgCover->VirtualImage1->isHidden());
  QTest::mouseClick(Window->btnSave, Qt::LeftButton);
  EXPECT_TRUE(ReadFile(FilePath("notags.mp3")).CoverData.empty());
}

TEST_F(FrmMainTest, PresetRunsFromItsMenuItemEvenWithAnAmpersandInItsName)
{
  OpenWindow();
  TActionPresetStore *store = Window->PresetStore();
  ASSERT_NE(store, nullptr);
  auto preset = std::make_unique<TActionPreset>();
  preset->Name = QStringLiteral("Rock & Roll");
  preset->Actions.push_back(TTagAction{takUpperCase, tfTitle, tfTitle, {}, {}});
  store->AddPreset(std::move(preset));
  ASSERT_TRUE(store->Save());
  Window->BuildQuickActionsMenu();

  SelectFiles({QStringLiteral("id3v1-only.mp3")});
  QAction *item = nullptr;
  for (QAction *action : Window->pmQuickActions->actions())
    if (action->data().toString() == QStringLiteral("Rock & Roll")) item = action;
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral("Rock && Roll"));
  EXPECT_TRUE(Window->mnuQuickAction->actions().contains(item));
  item->trigger();
  EXPECT_TRUE(Prompts.Messages.empty());
  EXPECT_EQ(ReadFile(FilePath("id3v1-only.mp3")).Title, "BJöRK - JóGA");
  EXPECT_EQ(store->LastPresetName(), QStringLiteral("Rock & Roll"));
  // The menu was rebuilt after the run; the new default is its bold item.
  QCoreApplication::processEvents();
  bool boldDefault = false;
  for (QAction *action : Window->pmQuickActions->actions())
    if (action->data().toString() == QStringLiteral("Rock & Roll")) boldDefault = action->font().bold();
  EXPECT_TRUE(boldDefault);

  // Ctrl+Q's action and the toolbar button run the default preset.
  SelectFiles({QStringLiteral("notags.mp3")});
  TypeInto(Window->edtTitle, QStringLiteral("quiet"));
  Window->actSave->trigger();
  Window->ActionQuickAction->trigger();
  EXPECT_EQ(ReadFile(FilePath("notags.mp3")).Title, "QUIET");
}

TEST_F(FrmMainTest, PresetEditorItemReloadsTheStoreAndTheMenu)
{
  PresetEditor = [](TActionPresetStore &Store) {
    auto preset = std::make_unique<TActionPreset>();
    preset->Name = QStringLiteral("Added In Editor");
    preset->Actions.push_back(TTagAction{});
    Store.AddPreset(std::move(preset));
    Store.Save();
  };
  OpenWindow(false);
  QAction *editor = nullptr;
  for (QAction *action : Window->pmQuickActions->actions())
    if (action->text() == QStringLiteral("Preset Editor...")) editor = action;
  ASSERT_NE(editor, nullptr);
  editor->trigger();
  QStringList names;
  for (QAction *action : Window->mnuQuickAction->actions())
    if (!action->isSeparator()) names << action->text();
  EXPECT_EQ(names, QStringList({"Quick Clean", "Title Case (Title/Artist/Album)", "Scene Cleanup (_ . to space)",
                                "Added In Editor", "Preset Editor..."}));
}

TEST_F(FrmMainTest, PatternRenameAndDeleteFromTheToolbar)
{
  OpenWindow();
  SelectFiles({QStringLiteral("id3v1-only.mp3")});
  Prompts.Inputs = {QStringLiteral("%artist% - %track%")};
  QTest::mouseClick(Window->btnTagToFileName, Qt::LeftButton);
  EXPECT_TRUE(QFile::exists(Music.filePath(QStringLiteral("Test Artist - 3.mp3"))));
  EXPECT_FALSE(QFile::exists(FilePath("id3v1-only.mp3")));
  EXPECT_GE(RowOf(QStringLiteral("Test Artist - 3.mp3")), 0);
  EXPECT_EQ(RowOf(QStringLiteral("id3v1-only.mp3")), -1);

  SelectFiles({QStringLiteral("notags.mp3")});
  Prompts.Confirmations = {true};
  QTest::mouseClick(Window->btnDeleteFile, Qt::LeftButton);
  EXPECT_FALSE(QFile::exists(FilePath("notags.mp3")));
  EXPECT_EQ(Window->Model().RowCount(), 6);
  EXPECT_EQ(RowOf(QStringLiteral("notags.mp3")), -1);
  EXPECT_EQ(Window->lvFiles->model()->rowCount(), 6);
}

TEST_F(FrmMainTest, SortingByAHeaderClick)
{
  OpenWindow();
  // The list counts as sorted ascending by "File": the first click sorts descending.
  Window->lvFilesColumnClick(flcFile);
  EXPECT_EQ(Window->Model().CellText(0, flcFile), QStringLiteral("notags.mp3"));
  EXPECT_EQ(Window->lvFiles->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  QTest::mouseClick(Window->lvFiles->header()->viewport(), Qt::LeftButton, {},
                    QPoint(Window->lvFiles->header()->sectionViewportPosition(flcFile) + 5, 5));
  EXPECT_EQ(Window->Model().CellText(0, flcFile), QStringLiteral("apev2-id3v1.mp3"));
}

TEST_F(FrmMainTest, PlayReportsWhatWentWrong)
{
  OpenWindow();
  Window->ToolButton3Click();
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0], std::make_pair(mkInformation, QStringLiteral("Please select an audio file first.")));

  SelectFiles({QStringLiteral("notags.mp3")});
  Window->ctxPlay->trigger();
  ASSERT_EQ(OpenedUrls.size(), 1);
  EXPECT_EQ(OpenedUrls[0], QUrl::fromLocalFile(FilePath("notags.mp3")));

  OpenUrlResult = false;
  Window->ToolButton3Click();
  ASSERT_EQ(Prompts.Messages.size(), 2u);
  EXPECT_EQ(Prompts.Messages[1],
            std::make_pair(mkError, QStringLiteral("Unable to start playback for:\r\n") + FilePath("notags.mp3")));

  Window->actVisitWebsite->trigger();
  EXPECT_EQ(OpenedUrls.size(), 3);
  EXPECT_EQ(Prompts.Messages.size(), 2u);

  ASSERT_TRUE(QFile::remove(FilePath("notags.mp3")));
  Window->ToolButton3Click();
  ASSERT_EQ(Prompts.Messages.size(), 3u);
  EXPECT_EQ(Prompts.Messages[2], std::make_pair(mkError, QStringLiteral("File not found:\r\n") + FilePath("notags.mp3")));
  EXPECT_EQ(OpenedUrls.size(), 3);
}

TEST_F(FrmMainTest, HelpItemsAndTheLinkOpenTheMakersPages)
{
  OpenWindow(false);
  EXPECT_EQ(Window->lbHomepageURL->text(), HomepageDisplayText());
  Window->actTutorial->trigger();
  Window->actContactUs->trigger();
  Window->actVisitWebsite->trigger();
  QTest::mouseClick(Window->lbHomepageURL, Qt::LeftButton);
  EXPECT_EQ(OpenedUrls, QList<QUrl>({QUrl(TutorialUrl()), QUrl(SupportUrl()), QUrl(HomepageUrl()), QUrl(HomepageUrl())}));
  EXPECT_NE(TutorialUrl(), SupportUrl());
  EXPECT_NE(TutorialUrl(), HomepageUrl());
  // A page that does not open is not reported.
  OpenUrlResult = false;
  Window->actContactUs->trigger();
  EXPECT_TRUE(Prompts.Messages.empty());

  Window->actAbout->trigger();
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0].first, mkInformation);
  const QStringList lines = Prompts.Messages[0].second.split(QStringLiteral("\r\n"));
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[1], QStringLiteral("Version: 2.4"));
  EXPECT_EQ(lines[2], QStringLiteral("Website: ") + HomepageDisplayText());
  EXPECT_TRUE(lines.last().contains(QString::number(QDate::currentDate().year()))) << lines.last().toStdString();
}

TEST_F(FrmMainTest, SwitchingTheLanguageRelabelsTheWindow)
{
  OpenWindow(false);
  EXPECT_EQ(Window->btnRescan->toolTip(), QStringLiteral("Rescan"));
  EXPECT_EQ(Window->actRescan->text(), QStringLiteral("Rescan"));
  QAction *german = nullptr;
  for (QAction *item : Window->mnuLanguage->actions())
    if (item->text() == QStringLiteral("Deutsch")) german = item;
  ASSERT_NE(german, nullptr);
  german->trigger();
  EXPECT_EQ(CurrentLanguage(), QStringLiteral("de"));
  EXPECT_TRUE(german->isChecked());
  const QString rescan = Translate("Rescan");
  EXPECT_NE(rescan, QStringLiteral("Rescan"));
  EXPECT_EQ(Window->btnRescan->toolTip(), rescan);
  EXPECT_EQ(Window->actRescan->text(), rescan);
  EXPECT_EQ(Window->lvFiles->model()->headerData(flcFile, Qt::Horizontal).toString(), Translate("File"));
}

TEST_F(FrmMainTest, FirstStartOpensMaximisedWithDefaultColumnWidths)
{
  OpenWindow(false);
  EXPECT_TRUE(Window->isMaximized());
  const int width = Window->pnlCenter->width();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Window->lvFiles->header()->sectionSize(flcFile) == qRound(width * 0.18); }))
    << Window->lvFiles->header()->sectionSize(flcFile) << " for a pane " << width << " wide";
  EXPECT_EQ(Window->lvFiles->header()->sectionSize(flcTrack), qRound(width * 0.05));

  // Closed maximised: the state is kept, the normal position and size are not written.
  Window.reset();
  QSettings ini(Settings.filePath(QStringLiteral("set.ini")), QSettings::IniFormat);
  EXPECT_EQ(ini.value(QStringLiteral("Main/WindowState")).toInt(), 2);
  EXPECT_FALSE(ini.contains(QStringLiteral("Main/Width")));
  EXPECT_FALSE(ini.contains(QStringLiteral("Main/Left")));
  EXPECT_TRUE(ini.contains(QStringLiteral("Cols/W0")));
}

TEST_F(FrmMainTest, SettingsAreWrittenAndReadBack)
{
  {
    QSettings ini(Settings.filePath(QStringLiteral("set.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Main/WindowState"), 1);
    ini.setValue(QStringLiteral("Main/Left"), 40);
    ini.setValue(QStringLiteral("Main/Top"), 30);
    ini.setValue(QStringLiteral("Main/Width"), 1100);
    ini.setValue(QStringLiteral("Main/Height"), 650);
    ini.setValue(QStringLiteral("Main/Folder"), Music.path());
    for (int column = 0; column < kFileListColumnCount; ++column)
      ini.setValue(QStringLiteral("Cols/W%1").arg(column), 50 + column);
    ini.setValue(QStringLiteral("Main/pnlLeftWidth"), 240);
    ini.setValue(QStringLiteral("Main/pnlRightWidth"), 300);
  }
  OpenWindow();
  // A window closed while minimised opens normal, at the last normal position and size.
  EXPECT_FALSE(Window->isMaximized());
  EXPECT_FALSE(Window->isMinimized());
  EXPECT_EQ(Window->size(), QSize(1100, 650));
  for (int column = 0; column < kFileListColumnCount; ++column)
    EXPECT_EQ(Window->lvFiles->header()->sectionSize(column), 50 + column);
  EXPECT_EQ(Window->pnlLeft->width(), 240);
  EXPECT_EQ(Window->pnlRight->width(), 300);
  EXPECT_EQ(Window->Model().RowCount(), 7);

  Window->lvFiles->header()->resizeSection(flcTitle, 222);
  Window->Splitter->setSizes({200, 500, 280});
  Window.reset();

  QSettings ini(Settings.filePath(QStringLiteral("set.ini")), QSettings::IniFormat);
  EXPECT_EQ(ini.value(QStringLiteral("Main/WindowState")).toInt(), 0);
  EXPECT_EQ(ini.value(QStringLiteral("Main/Width")).toInt(), 1100);
  EXPECT_EQ(ini.value(QStringLiteral("Main/Height")).toInt(), 650);
  EXPECT_TRUE(ini.contains(QStringLiteral("Main/Left")));
  EXPECT_TRUE(ini.contains(QStringLiteral("Main/Top")));
  EXPECT_EQ(ini.value(QStringLiteral("Main/Folder")).toString(), QDir(Music.path()).canonicalPath());
  EXPECT_EQ(ini.value(QStringLiteral("Cols/W2")).toInt(), 222);
  EXPECT_EQ(ini.value(QStringLiteral("Cols/W8")).toInt(), 58);
  EXPECT_EQ(ini.value(QStringLiteral("Main/pnlLeftWidth")).toInt(), 200);
  EXPECT_EQ(ini.value(QStringLiteral("Main/pnlRightWidth")).toInt(), 280);
}

// Values no window could have (a damaged or hand-edited set.ini) fall back to the defaults
// instead of being added up into an overflow.
TEST_F(FrmMainTest, OutlandishSettingsFallBackToTheDefaults)
{
  {
    QSettings ini(Settings.filePath(QStringLiteral("set.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Main/WindowState"), 0);
    ini.setValue(QStringLiteral("Main/Left"), 2147483647);
    ini.setValue(QStringLiteral("Main/Top"), -2147483647);
    ini.setValue(QStringLiteral("Main/Width"), 2147483647);
    ini.setValue(QStringLiteral("Main/Height"), 2147483647);
    for (int column = 0; column < kFileListColumnCount; ++column)
      ini.setValue(QStringLiteral("Cols/W%1").arg(column), column == flcTitle ? 2147483647 : 60);
    ini.setValue(QStringLiteral("Main/pnlLeftWidth"), 2147483647);
    ini.setValue(QStringLiteral("Main/pnlRightWidth"), 2147483647);
  }
  OpenWindow(false);
  EXPECT_LT(Window->width(), 100000);
  EXPECT_LT(Window->height(), 100000);
  EXPECT_LT(std::abs(Window->x()), 100000);
  EXPECT_LT(std::abs(Window->y()), 100000);
  EXPECT_LT(Window->lvFiles->header()->sectionSize(flcTitle), 100000);
  EXPECT_EQ(Window->lvFiles->header()->sectionSize(flcArtist), 60);
  EXPECT_LT(Window->pnlLeft->width(), 100000);
  EXPECT_LT(Window->pnlRight->width(), 100000);
}

TEST_F(FrmMainTest, FolderTreeShowsFoldersOnlyAndRefusesArchives)
{
  ASSERT_TRUE(QDir(Music.path()).mkdir(QStringLiteral("Album")));
  ASSERT_TRUE(QDir(Music.path()).mkdir(QStringLiteral("packed.ZIP")));
  bool canAdd = true;
  TFolderTree::ShellTree1AddFolder(Music.filePath(QStringLiteral("packed.ZIP")), canAdd);
  EXPECT_FALSE(canAdd);
  TFolderTree::ShellTree1AddFolder(Music.filePath(QStringLiteral("Album")), canAdd);
  EXPECT_TRUE(canAdd);

  OpenWindow();
  EXPECT_FALSE(Window->ShellTree1->SetSelectedFolderPath(Music.filePath(QStringLiteral("packed.ZIP"))));
  EXPECT_FALSE(Window->ShellTree1->SetSelectedFolderPath(FilePath("notags.mp3")));
  QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
  ASSERT_TRUE(Window->ShellTree1->SetSelectedFolderPath(Music.filePath(QStringLiteral("Album"))));
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(Window->Model().RowCount(), 0);
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Loaded 0 files."));
}

TEST_F(FrmMainTest, HidingTheFolderTreeHidesTheLeftPane)
{
  OpenWindow(false);
  ASSERT_TRUE(Window->ShowFoldersTree1->isChecked());
  Window->ShowFoldersTree1->trigger();
  EXPECT_FALSE(Window->pnlLeft->isVisible());
  EXPECT_FALSE(Window->edtFilter->isVisible());
  EXPECT_FALSE(Window->imgCover->isVisible());
  Window->ShowFoldersTree1->trigger();
  EXPECT_TRUE(Window->pnlLeft->isVisible());
}

TEST_F(FrmMainTest, ToolbarHoldsTheFifteenButtonsInOrder)
{
  OpenWindow(false);
  QStringList names;
  for (QToolButton *button : Window->ToolBar1->findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
    if (!button->objectName().isEmpty() && button->objectName() != QStringLiteral("qt_toolbar_ext_button"))
      names << button->objectName();
  EXPECT_EQ(names, QStringList({"btnNewFolder", "btnRenameFolder", "btnRescan", "ToolButton3", "btnSave", "btnUndo",
                                "btnRemoveTag", "ToolButton1", "btnQuickActions", "btnRenameFile",
                                "btnTagToFileName", "btnCopyFileTo", "btnMoveFileTo", "btnDeleteFile",
                                "ToolButton2"}));
  // Every picture draws: the resources are registered and the SVG support is there.
  for (QToolButton *button : Window->ToolBar1->findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
    if (names.contains(button->objectName())) {
      EXPECT_FALSE(button->icon().pixmap(32, 32).isNull()) << button->objectName().toStdString();
    }
  EXPECT_FALSE(Window->imgCover->VirtualImage1->pixmap().isNull());
  EXPECT_EQ(Window->btnQuickActions->popupMode(), QToolButton::MenuButtonPopup);
  EXPECT_EQ(Window->actSave->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  EXPECT_EQ(Window->actRemoveTags->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
  EXPECT_EQ(Window->ActionUndo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
  EXPECT_EQ(Window->actRenameFile->shortcut(), QKeySequence(QStringLiteral("F2")));
  EXPECT_EQ(Window->ActionQuickAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
  EXPECT_EQ(Window->mnuQuickAction->title(), QStringLiteral("Quick Action [Ctrl+Q]"));
}

// Lyrics and comments keep the line breaks they were loaded with: an untouched field is not
// rewritten (it used to come back with CR LF for LF on every save), and typed text joins its
// lines as the value did.
TEST_F(FrmMainTest, MultiLineFieldsKeepTheirLineBreaks)
{
  WriteTags("notags.mp3", [](TAudioTag &Tag) {
    Tag.Lyrics = "la\nla\nla";
    Tag.Comment = "one\r\ntwo";
  });
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  EXPECT_EQ(Window->memLyrics->toPlainText(), QStringLiteral("la\nla\nla"));
  EXPECT_EQ(Window->memComment->toPlainText(), QStringLiteral("one\ntwo"));
  TypeInto(Window->edtTitle, QStringLiteral("Edited"));
  Window->actSave->trigger();
  TAudioTag saved = ReadFile(FilePath("notags.mp3"));
  EXPECT_EQ(saved.Title, "Edited");
  EXPECT_EQ(saved.Lyrics, "la\nla\nla");
  EXPECT_EQ(saved.Comment, "one\r\ntwo");

  Window->memComment->moveCursor(QTextCursor::End);
  QTest::keyClick(Window->memComment, Qt::Key_Return);
  QTest::keyClicks(Window->memComment, QStringLiteral("three"));
  Window->memLyrics->moveCursor(QTextCursor::End);
  QTest::keyClick(Window->memLyrics, Qt::Key_Return);
  QTest::keyClicks(Window->memLyrics, QStringLiteral("la"));
  Window->actSave->trigger();
  saved = ReadFile(FilePath("notags.mp3"));
  EXPECT_EQ(saved.Comment, "one\r\ntwo\r\nthree");
  EXPECT_EQ(saved.Lyrics, "la\nla\nla\nla");
}

TEST_F(FrmMainTest, CopyOntoAnExistingFileAsksAndSkipsByDefault)
{
  QTemporaryDir out;  // outside the scanned folder
  ASSERT_TRUE(out.isValid());
  const QString existing = out.filePath(QStringLiteral("notags.mp3"));
  ASSERT_TRUE(QFile::copy(FilePath("id3v1-only.mp3"), existing));
  QFile file(existing);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray before = file.readAll();
  file.close();

  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3"), QStringLiteral("id3v24-utf8.mp3")});
  Prompts.Folders = {out.path()};
  QTest::mouseClick(Window->btnCopyFileTo, Qt::LeftButton);
  ASSERT_EQ(Prompts.Choices.size(), 1u);
  const auto &choice = Prompts.Choices[0];
  EXPECT_EQ(choice.Text, QStringLiteral("A file named \"notags.mp3\" already exists in ") + out.path() +
                           QStringLiteral(". Replace it?"));
  EXPECT_EQ(choice.Buttons, QStringList({"Overwrite", "Skip", "Cancel"}));
  EXPECT_EQ(choice.Buttons.value(choice.Default), QStringLiteral("Skip"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_TRUE(QFile::exists(out.filePath(QStringLiteral("id3v24-utf8.mp3"))));
  EXPECT_TRUE(Window->lblStatus->text().endsWith(QStringLiteral("Skipped 1 file(s) that exist there already.")))
    << Window->lblStatus->text().toStdString();

  // Onto the files' own folder: nothing is copied, and the status says why.
  Prompts.Folders = {Music.path()};
  QTest::mouseClick(Window->btnCopyFileTo, Qt::LeftButton);
  EXPECT_TRUE(Window->lblStatus->text().endsWith(
    QStringLiteral("2 file(s) already in that folder: a file is not copied onto itself.")))
    << Window->lblStatus->text().toStdString();
}

// The platform's own boxes: Enter in the delete question answers No, and in the copy question
// Skip.
TEST_F(FrmMainTest, EnterNeitherDeletesNorReplaces)
{
  OpenWindow(true, true);
  SelectFiles({QStringLiteral("notags.mp3")});
  QString defaultButton;
  const auto pressEnter = [&defaultButton] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    if (box->defaultButton()) defaultButton = box->defaultButton()->text();
    QTest::keyClick(box, Qt::Key_Return);
  };
  QTimer::singleShot(0, pressEnter);
  QTest::mouseClick(Window->btnDeleteFile, Qt::LeftButton);
  EXPECT_EQ(defaultButton.remove(QLatin1Char('&')), QStringLiteral("No"));
  EXPECT_TRUE(QFile::exists(FilePath("notags.mp3")));
  EXPECT_TRUE(Trashed.empty());
  EXPECT_GE(RowOf(QStringLiteral("notags.mp3")), 0);

  TWidgetPrompts prompts(Window.get());
  const QStringList buttons = {QStringLiteral("Overwrite"), QStringLiteral("Skip"), QStringLiteral("Cancel")};
  QTimer::singleShot(0, pressEnter);
  EXPECT_EQ(prompts.Choose(QStringLiteral("Replace?"), buttons, 1, 2), 1);
  EXPECT_EQ(defaultButton, QStringLiteral("Skip"));
  QTimer::singleShot(0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(prompts.Choose(QStringLiteral("Replace?"), buttons, 1, 2), 2);
}

TEST_F(FrmMainTest, DeleteUsesTheTrashAndSaysSo)
{
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  Prompts.Confirmations = {true};
  Window->actDeleteFiles->trigger();
  EXPECT_EQ(Prompts.DefaultNoConfirmations, std::vector<QString>{"Delete 1 selected file(s)? This cannot be undone."});
  EXPECT_EQ(Trashed, std::vector<std::string>{FilePath("notags.mp3").toStdString()});
  EXPECT_TRUE(QFile::exists(Trash.filePath(QStringLiteral("notags.mp3"))));
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Moved 1 file(s) to the trash."));
}

TEST_F(FrmMainTest, TagToNameNeverMakesAHiddenOrNamelessFile)
{
  OpenWindow();
  SelectFiles({QStringLiteral("id3v1-only.mp3")});
  TypeInto(Window->edtTitle, QStringLiteral("../x"));
  TypeInto(Window->edtArtist, QStringLiteral(".band"));
  Window->actSave->trigger();
  Prompts.Inputs = {QStringLiteral("%title%"), QStringLiteral("%artist% - %title%")};
  QTest::mouseClick(Window->btnTagToFileName, Qt::LeftButton);
  EXPECT_TRUE(QFile::exists(Music.filePath(QStringLiteral("_x.mp3"))));
  EXPECT_FALSE(QFile::exists(Music.filePath(QStringLiteral(".._x.mp3"))));
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Renamed 1 file(s)."));

  // A file without tags is left as it is, with a word in the status line.
  SelectFiles({QStringLiteral("notags.mp3")});
  Window->actTagToName->trigger();
  EXPECT_TRUE(QFile::exists(FilePath("notags.mp3")));
  EXPECT_FALSE(QFile::exists(Music.filePath(QStringLiteral("-.mp3"))));
  EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Renamed 0 file(s). Skipped 1 file(s): their tags give no name."));
}

TEST_F(FrmMainTest, ChangingFolderWithUnsavedEditsOffersToSaveThemAndEmptiesTheFields)
{
  ASSERT_TRUE(QDir(Music.path()).mkdir(QStringLiteral("Album")));
  ASSERT_TRUE(QFile::copy(FilePath("id3v1-only.mp3"), Music.filePath(QStringLiteral("Album/song.mp3"))));
  OpenWindow();
  SelectFiles({QStringLiteral("notags.mp3")});
  TypeInto(Window->edtTitle, QStringLiteral("Typed Before Leaving"));
  Prompts.Confirmations = {true};
  QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
  ASSERT_TRUE(Window->ShellTree1->SetSelectedFolderPath(Music.filePath(QStringLiteral("Album"))));
  ASSERT_TRUE(finished.wait(20000));
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_EQ(Prompts.Messages[0].second, QStringLiteral("Do you want to save the tag changes?"));
  EXPECT_EQ(ReadFile(FilePath("notags.mp3")).Title, "Typed Before Leaving");
  EXPECT_EQ(Window->edtTitle->currentText(), QString());
  EXPECT_EQ(Window->Model().RowCount(), 1);

  // Typed with nothing selected: Save says the edit goes nowhere rather than "0 files".
  TypeInto(Window->edtAlbum, QStringLiteral("Nowhere"));
  Window->actSave->trigger();
  EXPECT_EQ(Prompts.Messages.back(),
            std::make_pair(mkInformation, QStringLiteral("No file is selected: the changes typed into the fields are dropped.")));
  EXPECT_EQ(ReadFile(Music.filePath(QStringLiteral("Album/song.mp3"))).Album, ReadFile(FilePath("id3v1-only.mp3")).Album);
}

TEST_F(FrmMainTest, TheSortArrowShowsOnlyAnOrderTheRowsHave)
{
  OpenWindow();
  QHeaderView *header = Window->lvFiles->header();
  EXPECT_FALSE(header->isSortIndicatorShown());
  Window->lvFilesColumnClick(flcFile);  // descending: the list counts as sorted ascending
  ASSERT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  const auto names = [&] {
    QStringList list;
    for (int row = 0; row < Window->Model().RowCount(); ++row) list << Window->Model().CellText(row, flcFile);
    return list;
  };
  const QStringList sorted = names();
  EXPECT_EQ(sorted.first(), QStringLiteral("notags.mp3"));

  QSignalSpy finished(&Window->Model(), &TEditingModel::ScanCompleted);
  QTest::mouseClick(Window->btnRescan, Qt::LeftButton);
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(names(), sorted);
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), flcFile);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);

  QTest::keyClicks(Window->edtFilter, QStringLiteral("id3"));
  QStringList filtered = sorted.filter(QStringLiteral("id3"));
  EXPECT_EQ(names(), filtered);
  EXPECT_TRUE(header->isSortIndicatorShown());
}

} // namespace
