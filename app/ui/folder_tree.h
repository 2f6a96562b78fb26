#pragma once
// TFolderTree: the folder tree of the main window's left pane: every folder of the file system
// under one root node ("/"), folders only (hidden ones left out), through QFileSystemModel,
// which watches the folders it has listed and updates itself. Entries whose name ends in
// ".zip" or ".rar" (ASCII case ignored) are refused, since archives may be presented as
// folders. Selecting a folder (by the user or through SetSelectedFolderPath) emits
// SelectionChanged with its path, which starts a scan in the window.

#include <QString>
#include <QTreeView>

#include "app/file_operations.h"

class QFileSystemModel;
class QSortFilterProxyModel;

class TFolderTree : public QTreeView, public IFolderTree {
  Q_OBJECT
public:
  explicit TFolderTree(QWidget *Parent = nullptr);

  // The selected folder's path; empty when none is selected.
  QString SelectedFolderPath() const;
  // Selects a folder (expanding the path to it); false when it is not an existing folder the
  // tree shows, the selection then unchanged.
  bool SetSelectedFolderPath(const QString &Path);
  // Brings the listing of a folder up to date after a change on disk that the file watcher
  // may not have reported yet (a folder rename).
  void RefreshNode(const QString &Path);

  // IFolderTree, for the folder commands.
  std::string SelectedFolder() const override { return SelectedFolderPath().toStdString(); }
  void SelectFolder(const std::string &Path) override { SetSelectedFolderPath(QString::fromStdString(Path)); }
  void RefreshFolder(const std::string &Path) override { RefreshNode(QString::fromStdString(Path)); }

  // The add-folder filter: CanAdd false for names ending in ".zip" or ".rar".
  static void ShellTree1AddFolder(const QString &Path, bool &CanAdd);

signals:
  void SelectionChanged(const QString &Path);

private:
  QFileSystemModel *FModel = nullptr;
  QSortFilterProxyModel *FProxy = nullptr;
};
