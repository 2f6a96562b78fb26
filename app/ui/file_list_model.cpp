#include "app/ui/file_list_model.h"

#include <QFileInfo>
#include <QPainter>

#include "app/editing_model.h"
#include "app/localization.h"

TFileListModel::TFileListModel(const TEditingModel &Model, QObject *Parent)
  : QAbstractTableModel(Parent), FModel(Model), FRowCount(Model.RowCount())
{
}

int TFileListModel::rowCount(const QModelIndex &Parent) const { return Parent.isValid() ? 0 : FRowCount; }

int TFileListModel::columnCount(const QModelIndex &Parent) const
{
  return Parent.isValid() ? 0 : kFileListColumnCount;
}

const char *TFileListModel::ColumnCaption(int Column)
{
  static const char *const captions[kFileListColumnCount] = {
    "File", "Directory", "Title", "Artist", "Album Artist", "Album", "Duration", "Year", "Track",
  };
  return Column >= 0 && Column < kFileListColumnCount ? captions[Column] : "";
}

QVariant TFileListModel::data(const QModelIndex &Index, int Role) const
{
  if (!Index.isValid() || Index.row() >= FRowCount) return QVariant();
  switch (Role) {
  case Qt::DisplayRole:
  case Qt::ToolTipRole: return FModel.CellText(Index.row(), Index.column());
  case Qt::DecorationRole:
    if (Index.column() == flcFile) return FileIcon(Index.row());
    return QVariant();
  default: return QVariant();
  }
}

QVariant TFileListModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) return QVariant();
  return Translate(ColumnCaption(Section));
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex &Index) const
{
  if (!Index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QIcon TFileListModel::FileIcon(int Row) const
{
  const std::string &path = FModel.RowFileName(Row);
  if (path.empty()) return QIcon();
  const QFileInfo info(QString::fromStdString(path));
  const QString key = info.suffix().toLower();
  const auto cached = FIconCache.constFind(key);
  if (cached != FIconCache.cend()) return cached.value();
  const QIcon icon = FIconProvider.icon(info);
  FIconCache.insert(key, icon);
  return icon;
}

// The editing model has already changed its rows when these run; each tells the views what
// happened, in the order the item-model protocol expects.
void TFileListModel::RowsReset()
{
  beginResetModel();
  FRowCount = FModel.RowCount();
  endResetModel();
}

void TFileListModel::RowsAppended(int First, int Count)
{
  if (Count <= 0) return;
  beginInsertRows(QModelIndex(), First, First + Count - 1);
  FRowCount = FModel.RowCount();
  endInsertRows();
}

void TFileListModel::RowChanged(int Row)
{
  if (Row < 0 || Row >= FRowCount) return;
  emit dataChanged(index(Row, 0), index(Row, kFileListColumnCount - 1));
}

void TFileListModel::RowRemoved(int Row)
{
  if (Row < 0 || Row >= FRowCount) return;
  beginRemoveRows(QModelIndex(), Row, Row);
  FRowCount = FModel.RowCount();
  endRemoveRows();
}

void TFileListModel::RowsReordered(const std::vector<int> &OldRowOfNewRow)
{
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> newRowOfOldRow(OldRowOfNewRow.size(), -1);
  for (std::size_t n = 0; n < OldRowOfNewRow.size(); ++n) {
    const int old = OldRowOfNewRow[n];
    if (old >= 0 && static_cast<std::size_t>(old) < newRowOfOldRow.size())
      newRowOfOldRow[static_cast<std::size_t>(old)] = static_cast<int>(n);
  }
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex &index : before) {
    const auto row = static_cast<std::size_t>(index.row());
    const int moved = row < newRowOfOldRow.size() ? newRowOfOldRow[row] : -1;
    after << (moved >= 0 ? this->index(moved, index.column()) : QModelIndex());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TFileListModel::CaptionsChanged() { emit headerDataChanged(Qt::Horizontal, 0, kFileListColumnCount - 1); }

void TFileListDelegate::paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const
{
  Painter->save();
  const QRect cell = Option.rect;
  const bool selected = Option.state.testFlag(QStyle::State_Selected);
  const QColor background = selected ? QColor(0x3A, 0x82, 0xF6)
                                     : (Index.row() % 2 == 0 ? QColor(0xF7, 0xF7, 0xF7) : QColor(Qt::white));
  Painter->fillRect(cell, background);

  int textLeft = cell.left() + 6;
  if (Index.column() == flcFile) {
    const QSize iconSize = Option.decorationSize.isValid() ? Option.decorationSize : QSize(16, 16);
    const QIcon icon = qvariant_cast<QIcon>(Index.data(Qt::DecorationRole));
    if (!icon.isNull()) {
      const QRect iconRect(cell.left() + 4, cell.top() + (cell.height() - iconSize.height()) / 2, iconSize.width(),
                           iconSize.height());
      icon.paint(Painter, iconRect);
    }
    textLeft = cell.left() + iconSize.width() + 10;
  }

  const QRect textRect(textLeft, cell.top(), std::max(0, cell.right() - textLeft - 2), cell.height());
  const QString text = Index.data(Qt::DisplayRole).toString();
  Painter->setFont(Option.font);
  Painter->setPen(Option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
  Painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    Option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));

  Painter->setPen(QColor(0xD0, 0xD0, 0xD0));
  Painter->drawLine(cell.right(), cell.top(), cell.right(), cell.bottom());
  Painter->restore();
}

QSize TFileListDelegate::sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const
{
  QSize size = QStyledItemDelegate::sizeHint(Option, Index);
  size.setHeight(std::max(size.height(), Option.fontMetrics.height() + 6));
  return size;
}
