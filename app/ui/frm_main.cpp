#include "app/ui/frm_main.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/editing_model.h"
#include "app/file_operations.h"
#include "app/localization.h"
#include "app/quick_action_command.h"
#include "app/settings_folder.h"
#include "app/ui/cover_widget.h"
#include "app/ui/file_list_model.h"
#include "app/ui/folder_tree.h"
#include "app/ui/frm_error_report.h"
#include "app/ui/frm_preset_editor.h"
#include "app/ui/maker_links.h"
#include "app/ui/visual_style.h"
#include "app/ui/widget_prompts.h"

namespace {

// Menu captions are shown as they are: an "&" is a letter, not an access key.
QString MenuText(QString Text) { return Text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

// Tells the presets menu's items apart: a preset (its name in the item's data) or the editor.
constexpr const char *kQuickActionTag = "QuickActionTag";
constexpr int kPresetItemTag = 1;
constexpr int kPresetEditorItemTag = 2;

// The share of the centre pane's width each column gets by default, "File" to "Track".
constexpr int kDefaultColumnPercent[kFileListColumnCount] = {18, 20, 15, 10, 8, 10, 7, 7, 5};

constexpr int kSidePaneWidth = 275;

} // namespace

TFrmMain::TFrmMain(TFrmMainOptions Options, QWidget *Parent) : QMainWindow(Parent), FOptions(std::move(Options))
{
  InitUiResources();
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ') + QString::fromLatin1(kAppVersionText));
  setWindowIcon(ResourceIcon(QStringLiteral("corvella")));
  resize(1342, 691 + 50 + 24 + 24);

  const QString folder = FOptions.SettingsFolder.isEmpty() ? SettingsFolder() : FOptions.SettingsFolder;
  QDir().mkpath(folder);
  FSettingsFileName = folder + QStringLiteral("/set.ini");

  if (FOptions.Prompts) {
    FPrompts = FOptions.Prompts;
  } else {
    FOwnPrompts = std::make_unique<TWidgetPrompts>(this);
    FPrompts = FOwnPrompts.get();
  }

  CreateActions();
  CreateToolBar();
  CreateMenus();
  CreatePanes();

  FModel = std::make_unique<TEditingModel>(FOptions.TagService ? FOptions.TagService : CreateTagService(), *this,
                                           *FPrompts);
  FListModel = new TFileListModel(*FModel, this);
  lvFiles->setModel(FListModel);
  FFileOperations = std::make_unique<TFileOperations>(*FModel, *FPrompts, *ShellTree1);
  ConnectCommands();

  LoadSettings();
  if (FNeedInitDefaultColumnWidths) setWindowState(windowState() | Qt::WindowMaximized);

  FPresetStore = std::make_unique<TActionPresetStore>(DefaultPresetsFileName(folder));
  if (!FPresetStore->Load() && !FPresetStore->LastError().isEmpty()) FPrompts->Warning(FPresetStore->LastError());
  BuildQuickActionsMenu();

  BuildLanguageMenu();
  TranslateUI();
}

TFrmMain::~TFrmMain()
{
  SaveSettings();
  // The views go quiet before the model they show is freed.
  ShellTree1->disconnect(this);
  lvFiles->selectionModel()->disconnect(this);
  FModel->StopScan();
  lvFiles->setModel(nullptr);
  delete FListModel;
  FListModel = nullptr;
}

void TFrmMain::AddCaption(const char *Key, std::function<void(const QString &)> Set)
{
  FCaptions.emplace_back(Key, std::move(Set));
}

void TFrmMain::CreateActions()
{
  const auto action = [this](const char *Key, const char *Name) {
    auto *a = new QAction(this);
    a->setObjectName(QString::fromLatin1(Name));
    AddCaption(Key, [a](const QString &Text) { a->setText(MenuText(Text)); });
    return a;
  };
  actRescan = action("Rescan", "actRescan");
  actNewFolder = action("New...", "actNewFolder");
  actRenameFolder = action("Rename...", "actRenameFolder");
  actRenameFile = action("Rename...", "actRenameFile");
  actRenameFile->setShortcut(QKeySequence(Qt::Key_F2));
  actTagToName = action("Tag to Name...", "actTagToName");
  actCopyFiles = action("Copy File(s)...", "actCopyFiles");
  actMoveFiles = action("Move File(s)...", "actMoveFiles");
  actDeleteFiles = action("Delete File(s)...", "actDeleteFiles");
  actSave = action("Save", "actSave");
  actSave->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  actRemoveTags = action("Remove", "actRemoveTags");
  actRemoveTags->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  ActionUndo = action("Undo", "ActionUndo");
  ActionUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  actAutoTag = action("Auto-Tag...", "actAutoTag");
  ShowFoldersTree1 = action("Show Folders Tree", "ShowFoldersTree1");
  ShowFoldersTree1->setCheckable(true);
  ShowFoldersTree1->setChecked(true);
  actTutorial = action("Tutorial", "actTutorial");
  actContactUs = action("Contact Us", "actContactUs");
  actVisitWebsite = action("Visit Website", "actVisitWebsite");
  actAbout = action("About...", "actAbout");

  ctxPlay = action("Play", "ctxPlay");
  ctxRemoveTags = action("Remove Tags", "ctxRemoveTags");
  ctxAutoTag = action("Auto-Tag...", "ctxAutoTag");
  ctxQuickAction = action("Quick Action", "ctxQuickAction");
  ctxRenameFile = action("Rename File...", "ctxRenameFile");
  ctxTagToName = action("Tag to Name...", "ctxTagToName");
  ctxCopyFiles = action("Copy File(s)...", "ctxCopyFiles");
  ctxMoveFiles = action("Move File(s)...", "ctxMoveFiles");
  ctxDeleteFiles = action("Delete File(s)...", "ctxDeleteFiles");

  // Ctrl+Q runs the default preset from anywhere in the window.
  ActionQuickAction = new QAction(this);
  ActionQuickAction->setObjectName(QStringLiteral("ActionQuickAction"));
  ActionQuickAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  ActionQuickAction->setShortcutContext(Qt::WindowShortcut);
  addAction(ActionQuickAction);

  // The online lookup behind Auto-Tag arrives with its own part of the program.
  for (QAction *autoTag : {actAutoTag, ctxAutoTag}) autoTag->setEnabled(false);
}

void TFrmMain::CreateToolBar()
{
  ToolBar1 = new QToolBar(this);
  ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(32, 32));
  ToolBar1->toggleViewAction()->setVisible(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  addToolBar(Qt::TopToolBarArea, ToolBar1);

  const auto button = [this](const char *Name, const char *Picture, const char *Hint) {
    auto *b = new QToolButton(ToolBar1);
    b->setObjectName(QString::fromLatin1(Name));
    b->setIcon(ResourceIcon(QString::fromLatin1(Picture)));
    b->setIconSize(QSize(32, 32));
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    AddCaption(Hint, [b](const QString &Text) { b->setToolTip(Text); });
    ToolBar1->addWidget(b);
    return b;
  };
  btnNewFolder = button("btnNewFolder", "folder", "New folder...");
  btnRenameFolder = button("btnRenameFolder", "rename-folder", "Rename...");
  btnRescan = button("btnRescan", "arrow", "Rescan");
  ToolBar1->addSeparator();
  ToolButton3 = button("ToolButton3", "play", "Play Audio");
  btnSave = button("btnSave", "floppy", "Save Tags");
  btnUndo = button("btnUndo", "undo", "Undo");
  btnUndo->setEnabled(false);
  btnRemoveTag = button("btnRemoveTag", "tag-remove", "Remove Tags");
  ToolButton1 = button("ToolButton1", "planet-earth", "Auto-Tag...");
  ToolButton1->setEnabled(false);
  btnQuickActions = button("btnQuickActions", "actions", "Quick Action");
  btnQuickActions->setPopupMode(QToolButton::MenuButtonPopup);
  pmQuickActions = new QMenu(this);
  pmQuickActions->setObjectName(QStringLiteral("pmQuickActions"));
  btnQuickActions->setMenu(pmQuickActions);
  ToolBar1->addSeparator();
  btnRenameFile = button("btnRenameFile", "rename", "Rename File...");
  btnTagToFileName = button("btnTagToFileName", "tag-to-name", "Tag to Name...");
  btnCopyFileTo = button("btnCopyFileTo", "copy", "Copy File(s)...");
  btnMoveFileTo = button("btnMoveFileTo", "move", "Move File(s)...");
  btnDeleteFile = button("btnDeleteFile", "delete", "Delete File(s)...");
  ToolBar1->addSeparator();
  ToolButton2 = button("ToolButton2", "question", "About...");
}

void TFrmMain::CreateMenus()
{
  QMenuBar *bar = menuBar();
  const auto menu = [this, bar](const char *Key, const char *Name) {
    QMenu *m = bar->addMenu(QString());
    m->setObjectName(QString::fromLatin1(Name));
    AddCaption(Key, [m](const QString &Text) { m->setTitle(MenuText(Text)); });
    return m;
  };
  mnuFolder = menu("Folder", "mnuFolder");
  mnuFolder->addAction(actRescan);
  mnuFolder->addSeparator();
  mnuFolder->addAction(actNewFolder);
  mnuFolder->addAction(actRenameFolder);

  mnuFile = menu("File", "mnuFile");
  mnuFile->addAction(actRenameFile);
  mnuFile->addAction(actTagToName);
  mnuFile->addSeparator();
  mnuFile->addAction(actCopyFiles);
  mnuFile->addAction(actMoveFiles);
  mnuFile->addAction(actDeleteFiles);

  mnuTags = menu("Tags", "mnuTags");
  mnuTags->addAction(actSave);
  mnuTags->addAction(actRemoveTags);
  mnuTags->addAction(ActionUndo);
  ActionUndo->setEnabled(false);
  mnuTags->addSeparator();
  mnuTags->addAction(actAutoTag);
  mnuTags->addSeparator();
  mnuQuickAction = mnuTags->addMenu(QString());
  mnuQuickAction->setObjectName(QStringLiteral("mnuQuickAction"));
  AddCaption("Quick Action", [this](const QString &Text) {
    mnuQuickAction->setTitle(MenuText(Text + QStringLiteral(" [Ctrl+Q]")));
  });

  mnuView = menu("View", "mnuView");
  mnuView->addAction(ShowFoldersTree1);
  mnuView->addSeparator();
  mnuLanguage = mnuView->addMenu(QString());
  mnuLanguage->setObjectName(QStringLiteral("mnuLanguage"));
  AddCaption("Language", [this](const QString &Text) { mnuLanguage->setTitle(MenuText(Text)); });

  mnuHelp = menu("Help", "mnuHelp");
  mnuHelp->addAction(actTutorial);
  mnuHelp->addSeparator();
  mnuHelp->addAction(actContactUs);
  mnuHelp->addAction(actVisitWebsite);
  mnuHelp->addSeparator();
  mnuHelp->addAction(actAbout);

  pmFiles = new QMenu(this);
  pmFiles->setObjectName(QStringLiteral("pmFiles"));
  pmFiles->addAction(ctxPlay);
  pmFiles->addSeparator();
  pmFiles->addAction(ctxRemoveTags);
  pmFiles->addAction(ctxAutoTag);
  pmFiles->addAction(ctxQuickAction);
  pmFiles->addSeparator();
  pmFiles->addAction(ctxRenameFile);
  pmFiles->addAction(ctxTagToName);
  pmFiles->addSeparator();
  pmFiles->addAction(ctxCopyFiles);
  pmFiles->addAction(ctxMoveFiles);
  pmFiles->addAction(ctxDeleteFiles);
}

void TFrmMain::CreatePanes()
{
  Splitter = new QSplitter(Qt::Horizontal, this);
  Splitter->setObjectName(QStringLiteral("Splitter"));
  Splitter->setHandleWidth(6);
  Splitter->setChildrenCollapsible(false);

  pnlLeft = new QWidget(Splitter);
  pnlLeft->setObjectName(QStringLiteral("pnlLeft"));
  auto *left = new QVBoxLayout(pnlLeft);
  left->setContentsMargins(4, 4, 0, 0);
  left->setSpacing(4);
  auto *filterRow = new QHBoxLayout;
  lblFilter = new QLabel(pnlLeft);
  lblFilter->setObjectName(QStringLiteral("lblFilter"));
  AddCaption("Filter:", [this](const QString &Text) { lblFilter->setText(Text); });
  edtFilter = new QLineEdit(pnlLeft);
  edtFilter->setObjectName(QStringLiteral("edtFilter"));
  edtFilter->setFixedHeight(28);
  edtFilter->setClearButtonEnabled(true);
  lblFilter->setBuddy(edtFilter);
  filterRow->addWidget(lblFilter);
  filterRow->addWidget(edtFilter, 1);
  left->addLayout(filterRow);

  ShellTree1 = new TFolderTree(pnlLeft);
  ShellTree1->setObjectName(QStringLiteral("ShellTree1"));
  left->addWidget(ShellTree1, 1);

  pnlCover = new QWidget(pnlLeft);
  pnlCover->setObjectName(QStringLiteral("pnlCover"));
  pnlCover->setFixedHeight(200);
  auto *cover = new QVBoxLayout(pnlCover);
  cover->setContentsMargins(4, 4, 4, 4);
  cover->setSpacing(4);
  imgCover = new TCoverWidget(pnlCover);
  imgCover->setFixedHeight(160);
  cover->addWidget(imgCover);
  auto *coverButtons = new QHBoxLayout;
  btnLoadCover = new QPushButton(pnlCover);
  btnLoadCover->setObjectName(QStringLiteral("btnLoadCover"));
  AddCaption("Load Cover", [this](const QString &Text) { btnLoadCover->setText(Text); });
  btnClearCover = new QPushButton(pnlCover);
  btnClearCover->setObjectName(QStringLiteral("btnClearCover"));
  AddCaption("Clear", [this](const QString &Text) { btnClearCover->setText(Text); });
  coverButtons->addWidget(btnLoadCover);
  coverButtons->addWidget(btnClearCover);
  cover->addLayout(coverButtons);
  left->addWidget(pnlCover);

  pnlCenter = new QWidget(Splitter);
  pnlCenter->setObjectName(QStringLiteral("pnlCenter"));
  auto *center = new QVBoxLayout(pnlCenter);
  center->setContentsMargins(0, 4, 0, 0);
  lvFiles = new QTreeView(pnlCenter);
  lvFiles->setObjectName(QStringLiteral("lvFiles"));
  lvFiles->setRootIsDecorated(false);
  lvFiles->setIndentation(0);
  lvFiles->setItemsExpandable(false);
  lvFiles->setUniformRowHeights(true);
  lvFiles->setAllColumnsShowFocus(true);
  lvFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles->setSortingEnabled(false);
  lvFiles->setIconSize(QSize(16, 16));
  lvFiles->setContextMenuPolicy(Qt::CustomContextMenu);
  lvFiles->setItemDelegate(new TFileListDelegate(lvFiles));
  lvFiles->header()->setStretchLastSection(false);
  lvFiles->header()->setSectionsClickable(true);
  lvFiles->header()->setSectionsMovable(false);
  lvFiles->header()->setMinimumSectionSize(12);
  lvFiles->viewport()->installEventFilter(this);
  pnlCenter->installEventFilter(this);
  center->addWidget(lvFiles);

  pnlRight = CreateFieldsPane();

  Splitter->addWidget(pnlLeft);
  Splitter->addWidget(pnlCenter);
  Splitter->addWidget(pnlRight);
  Splitter->setStretchFactor(0, 0);
  Splitter->setStretchFactor(1, 1);
  Splitter->setStretchFactor(2, 0);
  Splitter->setSizes({kSidePaneWidth, 1342 - 2 * kSidePaneWidth - 12, kSidePaneWidth});
  Splitter->handle(1)->setObjectName(QStringLiteral("SplitterLeft"));
  Splitter->handle(2)->setObjectName(QStringLiteral("SplitterBottom"));
  setCentralWidget(Splitter);

  lblStatus = new QLabel(QStringLiteral(" Ready"), this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  lblStatus->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(lblStatus, 1);
  statusBar()->setSizeGripEnabled(false);

  lbHomepageURL = new QLabel(HomepageDisplayText(), this);
  lbHomepageURL->setObjectName(QStringLiteral("lbHomepageURL"));
  lbHomepageURL->setTextFormat(Qt::PlainText);
  lbHomepageURL->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbHomepageURL->setFixedWidth(262);
  lbHomepageURL->setMinimumHeight(14);
  QFont linkFont(QStringLiteral("Tahoma"));
  linkFont.setPointSize(8);
  lbHomepageURL->setFont(linkFont);
  lbHomepageURL->setCursor(Qt::PointingHandCursor);
  lbHomepageURL->installEventFilter(this);
  statusBar()->addPermanentWidget(lbHomepageURL);
  auto *rightGap = new QWidget(this);
  rightGap->setFixedWidth(15);
  statusBar()->addPermanentWidget(rightGap);
}

QWidget *TFrmMain::CreateFieldsPane()
{
  auto *pane = new QWidget(Splitter);
  pane->setObjectName(QStringLiteral("pnlRight"));
  auto *grid = new QGridLayout(pane);
  grid->setContentsMargins(8, 6, 6, 6);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(5);
  grid->setColumnMinimumWidth(0, 80 - 8 - 6);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  const auto combo = [pane](const char *Name) {
    auto *box = new QComboBox(pane);
    box->setObjectName(QString::fromLatin1(Name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(4);
    // The narrow pairs (Track and Disk, Year and Genre) must fit the pane's design width.
    box->setMinimumWidth(48);
    return box;
  };
  const auto memo = [pane](const char *Name) {
    auto *box = new QPlainTextEdit(pane);
    box->setObjectName(QString::fromLatin1(Name));
    box->setTabChangesFocus(true);
    return box;
  };
  edtTitle = combo("edtTitle");
  edtArtist = combo("edtArtist");
  edtAlbum = combo("edtAlbum");
  edtYear = combo("edtYear");
  edtTrack = combo("edtTrack");
  edtGenre = combo("edtGenre");
  edtDisc = combo("edtDisc");
  edtBPM = combo("edtBPM");
  edtAlbumArtist = combo("edtAlbumArtist");
  edtComposer = combo("edtComposer");
  edtOrigArtist = combo("edtOrigArtist");
  edtCopyright = combo("edtCopyright");
  edtURL = combo("edtURL");
  edtEncodedBy = combo("edtEncodedBy");
  memComment = memo("memComment");
  memComment->setFixedHeight(42);
  memLyrics = memo("memLyrics");

  const auto label = [this, pane](TEditField Field, const char *Key) {
    auto *l = new QLabel(pane);
    l->setObjectName(QStringLiteral("lbl") + QString::fromLatin1(AudioTagTextFields()[static_cast<std::size_t>(Field)].Name));
    AddCaption(Key, [l](const QString &Text) { l->setText(Text); });
    FieldLabels[static_cast<std::size_t>(Field)] = l;
    return l;
  };
  int row = 0;
  const auto pair = [&](TEditField A, const char *KeyA, QWidget *WidgetA, TEditField B, const char *KeyB,
                        QWidget *WidgetB) {
    grid->addWidget(label(A, KeyA), row, 0);
    grid->addWidget(WidgetA, row, 1);
    grid->addWidget(label(B, KeyB), row, 2);
    grid->addWidget(WidgetB, row, 3);
    ++row;
  };
  const auto single = [&](TEditField Field, const char *Key, QWidget *Widget, Qt::Alignment Align = {}) {
    grid->addWidget(label(Field, Key), row, 0, Align);
    grid->addWidget(Widget, row, 1, 1, 3);
    ++row;
  };
  pair(efTrack, "Track:", edtTrack, efDisc, "Disk:", edtDisc);
  single(efTitle, "Title", edtTitle);
  single(efArtist, "Artist", edtArtist);
  single(efAlbum, "Album", edtAlbum);
  pair(efYear, "Year", edtYear, efGenre, "Genre", edtGenre);
  single(efComment, "Comment", memComment, Qt::AlignTop);
  single(efAlbumArtist, "Album Artist:", edtAlbumArtist);
  single(efComposer, "Composer:", edtComposer);
  single(efOrigArtist, "Orig.Artist:", edtOrigArtist);
  single(efCopyright, "Copyright:", edtCopyright);
  single(efURL, "URL:", edtURL);
  single(efEncodedBy, "Encoded By:", edtEncodedBy);
  single(efBPM, "BPM:", edtBPM);
  single(efLyrics, "Lyrics:", memLyrics, Qt::AlignTop);
  grid->setRowStretch(row - 1, 1);

  QWidget *order[] = {edtTrack, edtDisc, edtTitle, edtArtist, edtAlbum, edtYear, edtGenre, memComment,
                      edtAlbumArtist, edtComposer, edtOrigArtist, edtCopyright, edtURL, edtEncodedBy, edtBPM,
                      memLyrics};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  return pane;
}

void TFrmMain::ConnectCommands()
{
  const auto on = [this](QAction *Action, auto Handler) { connect(Action, &QAction::triggered, this, Handler); };
  const auto click = [this](QToolButton *Button, auto Handler) { connect(Button, &QToolButton::clicked, this, Handler); };
  TFileOperations &ops = *FFileOperations;
  TEditingModel &model = *FModel;

  click(btnNewFolder, [&ops] { ops.btnNewFolderClick(); });
  click(btnRenameFolder, [&ops] { ops.btnRenameFolderClick(); });
  click(btnRescan, [this] { btnRescanClick(); });
  click(ToolButton3, [this] { ToolButton3Click(); });
  click(btnSave, [&model] { model.btnSaveClick(); });
  click(btnUndo, [&model] { model.ActionUndoExecute(); });
  click(btnRemoveTag, [&model] { model.btnRemoveTagClick(); });
  click(ToolButton1, [this] { ToolButton1Click(); });
  click(btnQuickActions, [this] { btnQuickActionsClick(nullptr); });
  click(btnRenameFile, [&ops] { ops.btnRenameFileClick(rcRenameFile); });
  click(btnTagToFileName, [&ops] { ops.btnRenameFileClick(rcTagToName); });
  click(btnCopyFileTo, [&ops] { ops.btnCopyFileToClick(); });
  click(btnMoveFileTo, [&ops] { ops.btnMoveFileToClick(); });
  click(btnDeleteFile, [&ops] { ops.btnDeleteFileClick(); });
  click(ToolButton2, [this] { ToolButton2Click(); });

  on(actRescan, [this] { btnRescanClick(); });
  on(actNewFolder, [&ops] { ops.btnNewFolderClick(); });
  on(actRenameFolder, [&ops] { ops.btnRenameFolderClick(); });
  on(actRenameFile, [&ops] { ops.btnRenameFileClick(rcRenameFile); });
  on(actTagToName, [&ops] { ops.btnRenameFileClick(rcTagToName); });
  on(actCopyFiles, [&ops] { ops.btnCopyFileToClick(); });
  on(actMoveFiles, [&ops] { ops.btnMoveFileToClick(); });
  on(actDeleteFiles, [&ops] { ops.btnDeleteFileClick(); });
  on(actSave, [&model] { model.btnSaveClick(); });
  on(actRemoveTags, [&model] { model.btnRemoveTagClick(); });
  on(ActionUndo, [&model] { model.ActionUndoExecute(); });
  on(actAutoTag, [this] { ToolButton1Click(); });
  connect(ShowFoldersTree1, &QAction::toggled, this, [this](bool Checked) { ShowFoldersTree1Click(Checked); });
  on(actTutorial, [this] { utorial1Click(); });
  on(actContactUs, [this] { ContactUs1Click(); });
  on(actVisitWebsite, [this] { VisitWebsite1Click(); });
  on(actAbout, [this] { ToolButton2Click(); });
  on(ActionQuickAction, [this] { btnQuickActionsClick(nullptr); });

  on(ctxPlay, [this] { ToolButton3Click(); });
  on(ctxRemoveTags, [&model] { model.btnRemoveTagClick(); });
  on(ctxAutoTag, [this] { ToolButton1Click(); });
  on(ctxQuickAction, [this] { btnQuickActionsClick(nullptr); });
  on(ctxRenameFile, [&ops] { ops.btnRenameFileClick(rcRenameFile); });
  on(ctxTagToName, [&ops] { ops.btnRenameFileClick(rcTagToName); });
  on(ctxCopyFiles, [&ops] { ops.btnCopyFileToClick(); });
  on(ctxMoveFiles, [&ops] { ops.btnMoveFileToClick(); });
  on(ctxDeleteFiles, [&ops] { ops.btnDeleteFileClick(); });

  connect(lvFiles, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &Pos) { pmFiles->popup(lvFiles->viewport()->mapToGlobal(Pos)); });
  connect(lvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { FModel->lvFilesSelectItem(); });
  connect(lvFiles->header(), &QHeaderView::sectionResized, this, [this] {
    if (!FSettingDefaultColumnWidths && FShownOnce) FNeedInitDefaultColumnWidths = false;
  });
  connect(lvFiles->header(), &QHeaderView::sectionClicked, this, [this](int Column) { lvFilesColumnClick(Column); });
  connect(ShellTree1, &TFolderTree::SelectionChanged, this,
          [this](const QString &Path) { ShellTree1SelectionChanged(Path); });
  connect(edtFilter, &QLineEdit::textChanged, this, [this](const QString &Text) { FModel->edtFilterChange(Text); });
  connect(btnLoadCover, &QPushButton::clicked, this, [this] { FModel->btnLoadCoverClick(); });
  connect(btnClearCover, &QPushButton::clicked, this, [this] { FModel->btnClearCoverClick(); });

  for (int f = 0; f < kEditFieldCount; ++f) {
    const auto field = static_cast<TEditField>(f);
    if (QComboBox *box = ComboField(field))
      connect(box, &QComboBox::editTextChanged, this, [this] { FModel->EditFieldChange(); });
    else if (QPlainTextEdit *memo = MemoField(field))
      connect(memo, &QPlainTextEdit::textChanged, this, [this] { FModel->EditFieldChange(); });
  }
}

QComboBox *TFrmMain::ComboField(TEditField Field) const
{
  switch (Field) {
  case efTitle: return edtTitle;
  case efArtist: return edtArtist;
  case efAlbum: return edtAlbum;
  case efYear: return edtYear;
  case efTrack: return edtTrack;
  case efGenre: return edtGenre;
  case efDisc: return edtDisc;
  case efBPM: return edtBPM;
  case efAlbumArtist: return edtAlbumArtist;
  case efComposer: return edtComposer;
  case efOrigArtist: return edtOrigArtist;
  case efCopyright: return edtCopyright;
  case efURL: return edtURL;
  case efEncodedBy: return edtEncodedBy;
  case efComment:
  case efLyrics: return nullptr;
  }
  return nullptr;
}

QPlainTextEdit *TFrmMain::MemoField(TEditField Field) const
{
  if (Field == efComment) return memComment;
  if (Field == efLyrics) return memLyrics;
  return nullptr;
}

void TFrmMain::FileListReset()
{
  FListModel->RowsReset();
  UpdateSortIndicator();
}

void TFrmMain::FileListRowsAppended(int First, int Count)
{
  FListModel->RowsAppended(First, Count);
  UpdateSortIndicator();
}

void TFrmMain::FileListRowChanged(int Row)
{
  FListModel->RowChanged(Row);
  UpdateSortIndicator();
}

void TFrmMain::FileListRowRemoved(int Row) { FListModel->RowRemoved(Row); }

void TFrmMain::FileListRowsReordered(const std::vector<int> &OldRowOfNewRow)
{
  FListModel->RowsReordered(OldRowOfNewRow);
  UpdateSortIndicator();
}

void TFrmMain::UpdateSortIndicator()
{
  // The arrow shows only an order the rows have.
  QHeaderView *header = lvFiles->header();
  const bool shown = FModel && FModel->RowsInSortOrder();
  if (shown) {
    const Qt::SortOrder order = FModel->SortAscending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (header->sortIndicatorSection() != FModel->SortColumn() || header->sortIndicatorOrder() != order)
      header->setSortIndicator(FModel->SortColumn(), order);
  }
  if (header->isSortIndicatorShown() != shown) header->setSortIndicatorShown(shown);
}

std::vector<int> TFrmMain::SelectedRows() const
{
  std::vector<int> rows;
  if (!lvFiles->selectionModel()) return rows;
  const QModelIndexList selected = lvFiles->selectionModel()->selectedRows();
  rows.reserve(static_cast<std::size_t>(selected.size()));
  for (const QModelIndex &index : selected) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

QString TFrmMain::FieldText(TEditField Field) const
{
  if (const QComboBox *box = ComboField(Field)) return box->currentText();
  const auto i = static_cast<std::size_t>(Field);
  QString text = MemoField(Field)->toPlainText();
  // Untouched: the value exactly as it was put there, whatever its line breaks.
  if (text == FMemoShown[i]) return FMemoValues[i];
  // Typed: lines are joined as the value that was there joined them; new text uses LF.
  const QString &value = FMemoValues[i];
  if (value.contains(QStringLiteral("\r\n")))
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  else if (value.contains(QLatin1Char('\r')))
    text.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  return text;
}

void TFrmMain::SetFieldText(TEditField Field, const QString &Text)
{
  if (QComboBox *box = ComboField(Field)) {
    box->setEditText(Text);
    // A narrow field shows the start of its value, not the end.
    if (box->lineEdit()) box->lineEdit()->setCursorPosition(0);
    return;
  }
  QString text = Text;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QPlainTextEdit *memo = MemoField(Field);
  const auto i = static_cast<std::size_t>(Field);
  // Set before the change signal runs: a reading of the field from there sees the new value.
  FMemoValues[i] = Text;
  FMemoShown[i] = text;
  memo->setPlainText(text);
  // What the box gives back for it (it may differ from what it was given).
  FMemoShown[i] = memo->toPlainText();
}

void TFrmMain::SetFieldSuggestions(TEditField Field, const QStringList &Items)
{
  QComboBox *box = ComboField(Field);
  if (!box) return;
  // Refilling the list must not change the text the field shows, nor count as an edit.
  const QSignalBlocker blocker(box);
  const QString text = box->currentText();
  box->clear();
  box->addItems(Items);
  box->setCurrentIndex(-1);
  box->setEditText(text);
}

void TFrmMain::ShowCover(const TAudioTag &Tag) { imgCover->ShowCover(Tag); }
void TFrmMain::ClearCover() { imgCover->Clear(); }
bool TFrmMain::LoadCoverFromFile(const QString &FileName, QString &Error) { return imgCover->LoadFromFile(FileName, Error); }
void TFrmMain::CoverFromImage(TAudioTag &Tag) const { imgCover->CoverFromImage(Tag); }

void TFrmMain::SetStatusText(const QString &Text) { lblStatus->setText(Text); }

void TFrmMain::SetUndoEnabled(bool Enabled)
{
  if (btnUndo) btnUndo->setEnabled(Enabled);
  if (ActionUndo) ActionUndo->setEnabled(Enabled);
}

void TFrmMain::ShowErrorReport(const std::vector<TErrorItem> &Errors)
{
  if (FOptions.ErrorReport)
    FOptions.ErrorReport(Errors);
  else
    ::ShowErrorReport(Errors, this);
}

void TFrmMain::StartScan(const QString &Root)
{
  if (Root.isEmpty()) return;
  FScannedFolder = QDir::cleanPath(Root);
  FModel->StartScan(FScannedFolder.toStdString());
}

void TFrmMain::ShellTree1SelectionChanged(const QString &Path)
{
  // The tree may report the folder it shows again (its model fills in the background and the
  // current row is found anew): that is no change of folder, and a scan would drop the
  // selection and what is typed in the fields. Rescan is the command for reading it again.
  if (QDir::cleanPath(Path) == FScannedFolder) return;
  // The scan first offers to save edits typed for the old folder's files, then empties the
  // list and the fields.
  StartScan(Path);
}

void TFrmMain::btnRescanClick() { StartScan(ShellTree1->SelectedFolderPath()); }

void TFrmMain::ToolButton3Click()
{
  const std::vector<std::string> files = FModel->GetSelectedFiles();
  if (files.empty()) {
    FPrompts->Information(Translate("Please select an audio file first."));
    return;
  }
  const QString path = QString::fromStdString(files.front());
  if (!QFileInfo::exists(path)) {
    FPrompts->Error(Translate("File not found:") + QStringLiteral("\r\n") + path);
    return;
  }
  const QUrl url = QUrl::fromLocalFile(path);
  const bool started = FOptions.OpenUrl ? FOptions.OpenUrl(url) : QDesktopServices::openUrl(url);
  if (!started) FPrompts->Error(Translate("Unable to start playback for:") + QStringLiteral("\r\n") + path);
}

void TFrmMain::ToolButton1Click()
{
  // Auto-Tag is disabled until the online lookup is part of the program; nothing to run yet.
}

void TFrmMain::ToolButton2Click() { FPrompts->Information(AboutText(QDate::currentDate().year())); }

void TFrmMain::OpenWebPage(const QString &Url)
{
  const QUrl url(Url);
  if (FOptions.OpenUrl)
    FOptions.OpenUrl(url);
  else
    QDesktopServices::openUrl(url);
}

void TFrmMain::utorial1Click() { OpenWebPage(TutorialUrl()); }
void TFrmMain::ContactUs1Click() { OpenWebPage(SupportUrl()); }
void TFrmMain::VisitWebsite1Click() { OpenWebPage(HomepageUrl()); }
void TFrmMain::lbHomepageURLClick() { OpenWebPage(HomepageUrl()); }

void TFrmMain::ShowFoldersTree1Click(bool Checked)
{
  if (ShowFoldersTree1->isChecked() != Checked) ShowFoldersTree1->setChecked(Checked);
  pnlLeft->setVisible(Checked);
}

void TFrmMain::lvFilesColumnClick(int Column)
{
  FModel->lvFilesColumnClick(Column);
  UpdateSortIndicator();
}

void TFrmMain::btnQuickActionsClick(QAction *Sender)
{
  if (!FPresetStore) return;
  if (Sender && Sender->property(kQuickActionTag).toInt() == kPresetEditorItemTag) {
    OpenPresetEditor();
    return;
  }
  const QString name = Sender ? Sender->data().toString() : FPresetStore->LastPresetName();
  const TQuickActionResult result = RunQuickActionPreset(*FModel, FPresetStore.get(), *FPrompts, name);
  if (result.Outcome == TQuickActionOutcome::Ran) BuildQuickActionsMenu();
}

void TFrmMain::OpenPresetEditor()
{
  if (FOptions.PresetEditor)
    FOptions.PresetEditor(*FPresetStore);
  else
    TFrmPresetEditor::ExecuteEditor(this, *FPresetStore, FPrompts);
  if (!FPresetStore->Load() && !FPresetStore->LastError().isEmpty()) FPrompts->Warning(FPresetStore->LastError());
  BuildQuickActionsMenu();
}

void TFrmMain::BuildQuickActionsMenu()
{
  // The old items may include the one whose click is being handled right now: they are taken
  // out of both menus and freed once that click is over.
  for (QAction *old : pmQuickActions->actions()) {
    pmQuickActions->removeAction(old);
    mnuQuickAction->removeAction(old);
    old->deleteLater();
  }
  mnuQuickAction->clear();
  if (!FPresetStore) return;

  const auto addItem = [this](QAction *Item) {
    pmQuickActions->addAction(Item);
    mnuQuickAction->addAction(Item);
  };
  for (int i = 0; i < FPresetStore->PresetCount(); ++i) {
    const QString &name = FPresetStore->PresetByIndex(i).Name;
    auto *item = new QAction(MenuText(name), pmQuickActions);
    item->setData(name);
    item->setProperty(kQuickActionTag, kPresetItemTag);
    if (name.compare(FPresetStore->LastPresetName(), Qt::CaseInsensitive) == 0) {
      QFont bold = item->font();
      bold.setBold(true);
      item->setFont(bold);
    }
    connect(item, &QAction::triggered, this, [this, item] { btnQuickActionsClick(item); });
    addItem(item);
  }
  auto *separator = new QAction(pmQuickActions);
  separator->setSeparator(true);
  addItem(separator);
  auto *editor = new QAction(MenuText(Translate("Preset Editor...")), pmQuickActions);
  editor->setProperty(kQuickActionTag, kPresetEditorItemTag);
  connect(editor, &QAction::triggered, this, [this, editor] { btnQuickActionsClick(editor); });
  addItem(editor);
}

void TFrmMain::BuildLanguageMenu()
{
  for (QAction *old : mnuLanguage->actions()) {
    mnuLanguage->removeAction(old);
    old->deleteLater();
  }
  auto *group = new QActionGroup(mnuLanguage);
  group->setExclusive(true);
  for (const TLanguageInfo &language : LanguageList()) {
    auto *item = new QAction(MenuText(language.Name), group);
    item->setData(language.Index);
    item->setCheckable(true);
    item->setChecked(language.Index == CurrentLanguageIndex());
    connect(item, &QAction::triggered, this, [this, item] { LanguageMenuItemClick(item); });
    mnuLanguage->addAction(item);
  }
}

void TFrmMain::LanguageMenuItemClick(QAction *Item)
{
  SelectLanguage(Item->data().toInt());
  for (QAction *item : mnuLanguage->actions()) item->setChecked(item->data().toInt() == CurrentLanguageIndex());
  TranslateUI();
}

void TFrmMain::TranslateUI()
{
  for (const auto &[key, set] : FCaptions) set(Translate(key));
  FListModel->CaptionsChanged();
  BuildQuickActionsMenu();
}

void TFrmMain::SetDefaultColumnWidths()
{
  if (FListModel->columnCount() != kFileListColumnCount) return;
  const int width = pnlCenter->width();
  FSettingDefaultColumnWidths = true;
  for (int column = 0; column < kFileListColumnCount; ++column)
    lvFiles->header()->resizeSection(column, qRound(width * kDefaultColumnPercent[column] / 100.0));
  FSettingDefaultColumnWidths = false;
}

void TFrmMain::showEvent(QShowEvent *Event)
{
  QMainWindow::showEvent(Event);
  if (FShownOnce) return;
  FShownOnce = true;
  // A splitter that was never laid out scales the widths it was given; now it has its size.
  ApplyPaneWidths();
  if (FNeedInitDefaultColumnWidths) SetDefaultColumnWidths();
}

bool TFrmMain::eventFilter(QObject *Watched, QEvent *Event)
{
  if (Watched == pnlCenter && Event->type() == QEvent::Resize && FNeedInitDefaultColumnWidths && FShownOnce) {
    // The window manager maximises the first window after it is shown, in its own time: the
    // default widths follow the centre pane until then, or until the user sizes a column.
    SetDefaultColumnWidths();
  } else if (lvFiles && Watched == lvFiles->viewport() && Event->type() == QEvent::MouseButtonPress) {
    // Before the press changes the selection: the edits still belong to the old one.
    FModel->lvFilesMouseActivate();
  } else if (Watched == lbHomepageURL) {
    if (Event->type() == QEvent::Enter || Event->type() == QEvent::Leave) {
      QFont font = lbHomepageURL->font();
      font.setUnderline(Event->type() == QEvent::Enter);
      lbHomepageURL->setFont(font);
    } else if (Event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton) {
      lbHomepageURLClick();
      return true;
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

void TFrmMain::LoadSettings()
{
  QSettings ini(FSettingsFileName, QSettings::IniFormat);
  // A value outside what a window can have is malformed: it falls back like a missing one, and
  // no later sum of sizes can overflow.
  const auto intValue = [&ini](const QString &Key, int Default, int Min = -QWIDGETSIZE_MAX,
                               int Max = QWIDGETSIZE_MAX) {
    bool ok = false;
    const int value = ini.value(Key).toInt(&ok);
    return ok && value >= Min && value <= Max ? value : Default;
  };

  const int state = intValue(QStringLiteral("Main/WindowState"), 0);
  if (state == 2) {
    setWindowState(windowState() | Qt::WindowMaximized);
  } else {
    const QRect current = geometry();
    const int left = intValue(QStringLiteral("Main/Left"), current.x());
    const int top = intValue(QStringLiteral("Main/Top"), current.y());
    const int width = intValue(QStringLiteral("Main/Width"), current.width(), 1);
    const int height = intValue(QStringLiteral("Main/Height"), current.height(), 1);
    resize(width, height);
    move(left, top);
  }

  const QString folder = ini.value(QStringLiteral("Main/Folder")).toString();
  if (!folder.isEmpty()) {
    ShellTree1->SetSelectedFolderPath(folder);
  } else {
    const QString music = FOptions.DefaultFolder.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
                            : FOptions.DefaultFolder;
    ShellTree1->SetSelectedFolderPath(music);
  }

  if (ini.contains(QStringLiteral("Cols/W0"))) {
    QHeaderView *header = lvFiles->header();
    for (int column = 0; column < kFileListColumnCount; ++column) {
      header->resizeSection(column, intValue(QStringLiteral("Cols/W%1").arg(column), header->sectionSize(column), 1));
    }
  } else {
    FNeedInitDefaultColumnWidths = true;
  }

  FPaneWidths = {intValue(QStringLiteral("Main/pnlLeftWidth"), kSidePaneWidth, 1),
                 intValue(QStringLiteral("Main/pnlRightWidth"), kSidePaneWidth, 1)};
  ApplyPaneWidths();
}

void TFrmMain::ApplyPaneWidths()
{
  const auto [left, right] = FPaneWidths;
  if (left <= 0 || right <= 0) return;
  const int total = std::max(Splitter->width() - 2 * Splitter->handleWidth(), left + right + 100);
  Splitter->setSizes({left, total - left - right, right});
}

void TFrmMain::SaveSettings()
{
  QSettings ini(FSettingsFileName, QSettings::IniFormat);
  const int state = isMinimized() ? 1 : (isMaximized() ? 2 : 0);
  ini.setValue(QStringLiteral("Main/WindowState"), state);
  if (state == 0) {
    ini.setValue(QStringLiteral("Main/Left"), x());
    ini.setValue(QStringLiteral("Main/Top"), y());
    ini.setValue(QStringLiteral("Main/Width"), width());
    ini.setValue(QStringLiteral("Main/Height"), height());
  }
  ini.setValue(QStringLiteral("Main/Folder"), ShellTree1->SelectedFolderPath());
  for (int column = 0; column < kFileListColumnCount; ++column)
    ini.setValue(QStringLiteral("Cols/W%1").arg(column), lvFiles->header()->sectionSize(column));
  ini.setValue(QStringLiteral("Main/pnlLeftWidth"), pnlLeft->width());
  ini.setValue(QStringLiteral("Main/pnlRightWidth"), pnlRight->width());
  ini.sync();
}
