#pragma once
// TFileListModel: the file list's item model, a read-only table over the editing model's rows:
// nine columns whose texts come from TEditingModel::CellText, the file's small icon in the
// first column (QFileIconProvider, remembered per extension so a long list stays quick), and
// the column captions through Translate. It holds no rows of its own: the window forwards the
// editing model's list notifications to it, after the editing model has changed its rows.
//
// TFileListDelegate draws a row as the editor shows it: #3A82F6 behind a selected row, else
// #F7F7F7 on even rows and white on odd ones; highlight text colour when selected; the icon
// 4 pixels in and the text after it, other cells 6 pixels in; one line, cut with an ellipsis;
// a #D0D0D0 line at the right edge of each column.

#include <QAbstractTableModel>
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QStyledItemDelegate>

#include <vector>

class TEditingModel;

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT
public:
  explicit TFileListModel(const TEditingModel &Model, QObject *Parent = nullptr);

  int rowCount(const QModelIndex &Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex &Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex &Index, int Role = Qt::DisplayRole) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex &Index) const override;

  // The English captions of the nine columns, "File" ... "Track".
  static const char *ColumnCaption(int Column);

  void RowsReset();
  void RowsAppended(int First, int Count);
  void RowChanged(int Row);
  void RowRemoved(int Row);
  void RowsReordered(const std::vector<int> &OldRowOfNewRow);
  // The captions' language changed.
  void CaptionsChanged();

private:
  QIcon FileIcon(int Row) const;

  const TEditingModel &FModel;
  int FRowCount = 0;
  QFileIconProvider FIconProvider;
  mutable QHash<QString, QIcon> FIconCache;
};

class TFileListDelegate : public QStyledItemDelegate {
public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter *Painter, const QStyleOptionViewItem &Option, const QModelIndex &Index) const override;
  QSize sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const override;
};
