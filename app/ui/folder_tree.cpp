#include "app/ui/folder_tree.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QSortFilterProxyModel>

namespace {

class TFolderFilter : public QSortFilterProxyModel {
public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
  bool filterAcceptsRow(int Row, const QModelIndex &Parent) const override
  {
    const auto *model = static_cast<const QFileSystemModel *>(sourceModel());
    bool canAdd = true;
    TFolderTree::ShellTree1AddFolder(model->filePath(model->index(Row, 0, Parent)), canAdd);
    return canAdd;
  }
};

QString CleanFolderPath(const QString &Path)
{
  QString clean = QDir::cleanPath(QFileInfo(Path).absoluteFilePath());
  return clean.isEmpty() ? QStringLiteral("/") : clean;
}

} // namespace

TFolderTree::TFolderTree(QWidget *Parent) : QTreeView(Parent)
{
  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
  FModel->setReadOnly(true);
  FModel->setRootPath(QStringLiteral("/"));
  FProxy = new TFolderFilter(this);
  FProxy->setSourceModel(FModel);
  // Folders that come and go while the tree is open are filtered as they arrive.
  FProxy->setDynamicSortFilter(true);
  setModel(FProxy);

  setHeaderHidden(true);
  for (int column = 1; column < FModel->columnCount(); ++column) hideColumn(column);
  header()->setStretchLastSection(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAllColumnsShowFocus(true);
  setUniformRowHeights(true);

  connect(selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex &Current) {
    if (Current.isValid()) emit SelectionChanged(FModel->filePath(FProxy->mapToSource(Current)));
  });
}

void TFolderTree::ShellTree1AddFolder(const QString &Path, bool &CanAdd)
{
  CanAdd = !(Path.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive) ||
             Path.endsWith(QStringLiteral(".rar"), Qt::CaseInsensitive));
}

QString TFolderTree::SelectedFolderPath() const
{
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return QString();
  return FModel->filePath(FProxy->mapToSource(current));
}

bool TFolderTree::SetSelectedFolderPath(const QString &Path)
{
  if (Path.isEmpty()) return false;
  const QString clean = CleanFolderPath(Path);
  if (!QFileInfo(clean).isDir()) return false;
  const QModelIndex source = FModel->index(clean);
  if (!source.isValid()) return false;
  const QModelIndex index = FProxy->mapFromSource(source);
  if (!index.isValid()) return false;
  for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) expand(parent);
  setCurrentIndex(index);
  scrollTo(index);
  return true;
}

void TFolderTree::RefreshNode(const QString &Path)
{
  const QModelIndex source = FModel->index(CleanFolderPath(Path));
  if (!source.isValid()) return;
  // Re-listing the node: the model fetches the folder's entries again when asked for more.
  if (FModel->canFetchMore(source)) FModel->fetchMore(source);
  FProxy->invalidate();
}
