#pragma once
// TFrmMain: the editor's main window. A toolbar of fifteen buttons, the main menu, a folder
// tree with the filter box and the cover panel on the left, the file list in the middle, the
// sixteen tag fields on the right and a one-line status bar with the maker's link. The window
// is a view: it implements IEditorView for the editing model (TEditingModel owns the table,
// the rows, the selection merging, saving and undo) and IFolderTree through its tree, and
// every command handler calls the core (TEditingModel, TFileOperations, the quick-action
// command, the preset store). Modal questions go through an IPrompts, the platform's dialogs
// unless a test hands in its own.
//
// The layout is kept in `set.ini` (INI format) in the settings folder: [Main] WindowState
// (0 normal, 1 minimised, 2 maximised), Left, Top, Width, Height (normal state only), Folder,
// pnlLeftWidth, pnlRightWidth; [Cols] W0 ... W8. Without column widths the window opens
// maximised and sizes the columns from the centre pane's width when it is shown; the widths
// follow the pane while the window settles, until the user sizes a column.

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/editor_view.h"
#include "app/preset_store.h"
#include "app/service/tag_service.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;
class QTreeView;
class TCoverWidget;
class TEditingModel;
class TFileListModel;
class TFileOperations;
class TFolderTree;
class IPrompts;

// What the window takes from outside; every member may stay empty for the real program.
struct TFrmMainOptions {
  QString SettingsFolder;                         // empty: SettingsFolder()
  QString DefaultFolder;                          // empty: the user's music folder
  IPrompts *Prompts = nullptr;                    // not owned; null: the platform's dialogs
  std::shared_ptr<ITagService> TagService;        // null: the real tag service
  std::function<bool(const QUrl &)> OpenUrl;      // null: QDesktopServices::openUrl
  std::function<void(const std::vector<TErrorItem> &)> ErrorReport;  // null: the error window
  std::function<void(TActionPresetStore &)> PresetEditor;            // null: the preset list dialog
};

class TFrmMain : public QMainWindow, public IEditorView {
  Q_OBJECT
public:
  explicit TFrmMain(TFrmMainOptions Options = {}, QWidget *Parent = nullptr);
  ~TFrmMain() override;

  // IEditorView.
  void FileListReset() override;
  void FileListRowsAppended(int First, int Count) override;
  void FileListRowChanged(int Row) override;
  void FileListRowRemoved(int Row) override;
  void FileListRowsReordered(const std::vector<int> &OldRowOfNewRow) override;
  std::vector<int> SelectedRows() const override;
  QString FieldText(TEditField Field) const override;
  void SetFieldText(TEditField Field, const QString &Text) override;
  void SetFieldSuggestions(TEditField Field, const QStringList &Items) override;
  void ShowCover(const TAudioTag &Tag) override;
  void ClearCover() override;
  bool LoadCoverFromFile(const QString &FileName, QString &Error) override;
  void CoverFromImage(TAudioTag &Tag) const override;
  void SetStatusText(const QString &Text) override;
  void SetUndoEnabled(bool Enabled) override;
  void ShowErrorReport(const std::vector<TErrorItem> &Errors) override;

  TEditingModel &Model() { return *FModel; }
  TActionPresetStore *PresetStore() { return FPresetStore.get(); }
  TFileOperations &FileOperations() { return *FFileOperations; }

  // Commands of the window.
  void StartScan(const QString &Root);
  void LoadSettings();
  void SaveSettings();
  void ShellTree1SelectionChanged(const QString &Path);
  void btnRescanClick();
  void ToolButton3Click();
  void ToolButton1Click();
  void ToolButton2Click();
  void ShowFoldersTree1Click(bool Checked);
  void lvFilesColumnClick(int Column);
  void utorial1Click();
  void ContactUs1Click();
  void VisitWebsite1Click();
  void lbHomepageURLClick();
  // The quick-action command: Sender is a presets menu item, or null for the toolbar button's
  // own part, Ctrl+Q and the context menu's entry (which run the default preset).
  void btnQuickActionsClick(QAction *Sender);
  void BuildQuickActionsMenu();
  void BuildLanguageMenu();
  void LanguageMenuItemClick(QAction *Item);
  void TranslateUI();
  void SetDefaultColumnWidths();

  // Widgets, named as the editor names them.
  QToolBar *ToolBar1 = nullptr;
  QToolButton *btnNewFolder = nullptr, *btnRenameFolder = nullptr, *btnRescan = nullptr;
  QToolButton *ToolButton3 = nullptr, *btnSave = nullptr, *btnUndo = nullptr, *btnRemoveTag = nullptr;
  QToolButton *ToolButton1 = nullptr, *btnQuickActions = nullptr;
  QToolButton *btnRenameFile = nullptr, *btnTagToFileName = nullptr, *btnCopyFileTo = nullptr;
  QToolButton *btnMoveFileTo = nullptr, *btnDeleteFile = nullptr, *ToolButton2 = nullptr;

  QMenu *mnuFolder = nullptr, *mnuFile = nullptr, *mnuTags = nullptr, *mnuView = nullptr, *mnuHelp = nullptr;
  QMenu *mnuQuickAction = nullptr, *mnuLanguage = nullptr, *pmQuickActions = nullptr, *pmFiles = nullptr;
  QAction *actRescan = nullptr, *actNewFolder = nullptr, *actRenameFolder = nullptr;
  QAction *actRenameFile = nullptr, *actTagToName = nullptr, *actCopyFiles = nullptr, *actMoveFiles = nullptr,
          *actDeleteFiles = nullptr;
  QAction *actSave = nullptr, *actRemoveTags = nullptr, *ActionUndo = nullptr, *actAutoTag = nullptr;
  QAction *ShowFoldersTree1 = nullptr;
  QAction *actTutorial = nullptr, *actContactUs = nullptr, *actVisitWebsite = nullptr, *actAbout = nullptr;
  QAction *ActionQuickAction = nullptr;
  QAction *ctxPlay = nullptr, *ctxRemoveTags = nullptr, *ctxAutoTag = nullptr, *ctxQuickAction = nullptr,
          *ctxRenameFile = nullptr, *ctxTagToName = nullptr, *ctxCopyFiles = nullptr, *ctxMoveFiles = nullptr,
          *ctxDeleteFiles = nullptr;

  QSplitter *Splitter = nullptr;  // its two handles are SplitterLeft and SplitterBottom
  QWidget *pnlLeft = nullptr, *pnlCenter = nullptr, *pnlRight = nullptr, *pnlCover = nullptr;
  QLabel *lblFilter = nullptr;
  QLineEdit *edtFilter = nullptr;
  TFolderTree *ShellTree1 = nullptr;
  TCoverWidget *imgCover = nullptr;
  QPushButton *btnLoadCover = nullptr, *btnClearCover = nullptr;
  QTreeView *lvFiles = nullptr;
  TFileListModel *FListModel = nullptr;

  QComboBox *edtTitle = nullptr, *edtArtist = nullptr, *edtAlbum = nullptr, *edtYear = nullptr,
            *edtTrack = nullptr, *edtGenre = nullptr, *edtDisc = nullptr, *edtBPM = nullptr,
            *edtAlbumArtist = nullptr, *edtComposer = nullptr, *edtOrigArtist = nullptr,
            *edtCopyright = nullptr, *edtURL = nullptr, *edtEncodedBy = nullptr;
  QPlainTextEdit *memComment = nullptr, *memLyrics = nullptr;
  // The label of each edit field, in TEditField order.
  std::array<QLabel *, kEditFieldCount> FieldLabels{};

  QLabel *lblStatus = nullptr;
  QLabel *lbHomepageURL = nullptr;

protected:
  void showEvent(QShowEvent *Event) override;
  bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
  void CreateActions();
  void CreateToolBar();
  void CreateMenus();
  void CreatePanes();
  QWidget *CreateFieldsPane();
  void ConnectCommands();
  // Registers a fixed text whose translation TranslateUI puts in place through Set.
  void AddCaption(const char *Key, std::function<void(const QString &)> Set);
  void OpenWebPage(const QString &Url);
  // The presets menu's "Preset Editor...": edits the store, then reloads it and the menu.
  void OpenPresetEditor();
  QComboBox *ComboField(TEditField Field) const;
  void ApplyPaneWidths();
  QPlainTextEdit *MemoField(TEditField Field) const;
  void UpdateSortIndicator();

  TFrmMainOptions FOptions;
  QString FSettingsFileName;
  std::unique_ptr<IPrompts> FOwnPrompts;
  IPrompts *FPrompts = nullptr;
  std::unique_ptr<TEditingModel> FModel;
  // The folder of the last scan started, as StartScan cleaned it.
  QString FScannedFolder;
  std::unique_ptr<TActionPresetStore> FPresetStore;
  std::unique_ptr<TFileOperations> FFileOperations;
  bool FNeedInitDefaultColumnWidths = false;
  bool FShownOnce = false;
  bool FSettingDefaultColumnWidths = false;
  std::pair<int, int> FPaneWidths{275, 275};  // left and right pane, from set.ini
  std::vector<std::pair<const char *, std::function<void(const QString &)>>> FCaptions;
  // The multi-line fields: the value last put in (with its own line breaks) and the text the
  // box gave back for it, so an untouched field gives back the value unchanged.
  std::array<QString, kEditFieldCount> FMemoValues, FMemoShown;
};
