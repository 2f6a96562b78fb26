#include "app/ui/visual_style.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QStyleFactory>

static void InitCorvellaResource() { Q_INIT_RESOURCE(corvella); }

void InitUiResources()
{
  static const bool done = [] {
    InitCorvellaResource();
    return true;
  }();
  (void)done;
}

void ApplyVisualStyle(QApplication &App)
{
  InitUiResources();
  if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);

  QPalette palette;
  const QColor window(0xF3, 0xF6, 0xFB), text(0x1D, 0x2A, 0x44), highlight(0x3A, 0x82, 0xF6);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(0xF7, 0xF7, 0xF7));
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, QColor(0xE8, 0xEF, 0xFC));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::Highlight, highlight);
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(0xFF, 0xFF, 0xF2));
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::Link, QColor(0x1F, 0x76, 0xE0));
  palette.setColor(QPalette::PlaceholderText, QColor(0x8A, 0x96, 0xAB));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9A, 0xA4, 0xB5));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9A, 0xA4, 0xB5));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9A, 0xA4, 0xB5));
  QApplication::setPalette(palette);

  QFile sheet(QStringLiteral(":/style/cornflowerblue_expressive.qss"));
  if (sheet.open(QIODevice::ReadOnly)) App.setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

QIcon ResourceIcon(const QString &Name)
{
  InitUiResources();
  return QIcon(QStringLiteral(":/icons/") + Name + QStringLiteral(".svg"));
}
