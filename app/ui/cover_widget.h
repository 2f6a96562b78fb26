#pragma once
// TCoverWidget: the cover picture box of the main window (imgCover) on screen. The picture and
// its bytes live in a TCoverBox (app/cover_art.h); this widget draws its decoded image centred
// and scaled to fit with its proportions kept, and shows the music-note placeholder
// (VirtualImage1) exactly while the box is empty.

#include <QWidget>

#include "app/cover_art.h"

class QLabel;

class TCoverWidget : public QWidget {
  Q_OBJECT
public:
  explicit TCoverWidget(QWidget *Parent = nullptr);

  const TCoverBox &Box() const { return FBox; }
  bool HasPicture() const { return !FBox.IsEmpty(); }

  void ShowCover(const TAudioTag &Tag);
  void Clear();
  bool LoadFromFile(const QString &FileName, QString &Error);
  void CoverFromImage(TAudioTag &Tag) const { FBox.CoverFromImage(Tag); }

  QLabel *VirtualImage1 = nullptr;

protected:
  void paintEvent(QPaintEvent *Event) override;
  void resizeEvent(QResizeEvent *Event) override;

private:
  void Changed();

  TCoverBox FBox;
};
