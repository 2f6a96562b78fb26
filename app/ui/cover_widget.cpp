#include "app/ui/cover_widget.h"

#include <QLabel>
#include <QPainter>

#include "app/ui/visual_style.h"

TCoverWidget::TCoverWidget(QWidget *Parent) : QWidget(Parent)
{
  setObjectName(QStringLiteral("imgCover"));
  VirtualImage1 = new QLabel(this);
  VirtualImage1->setObjectName(QStringLiteral("VirtualImage1"));
  VirtualImage1->setAlignment(Qt::AlignCenter);
  VirtualImage1->setPixmap(ResourceIcon(QStringLiteral("music-note")).pixmap(96, 96));
  VirtualImage1->setGeometry(rect());
}

void TCoverWidget::ShowCover(const TAudioTag &Tag)
{
  FBox.ShowCover(Tag);
  Changed();
}

void TCoverWidget::Clear()
{
  FBox.Clear();
  Changed();
}

bool TCoverWidget::LoadFromFile(const QString &FileName, QString &Error)
{
  if (!FBox.LoadFromFile(FileName, Error)) return false;
  Changed();
  return true;
}

void TCoverWidget::Changed()
{
  VirtualImage1->setVisible(FBox.IsEmpty());
  update();
}

void TCoverWidget::paintEvent(QPaintEvent *)
{
  const QImage &image = FBox.Image();
  if (FBox.IsEmpty() || image.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QSize size = image.size();
  size.scale(this->size(), Qt::KeepAspectRatio);
  painter.drawImage(QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size), image);
}

void TCoverWidget::resizeEvent(QResizeEvent *Event)
{
  QWidget::resizeEvent(Event);
  VirtualImage1->setGeometry(rect());
}
