#pragma once
// The built-in visual style "CornflowerBlue Expressive": the Fusion style with a light palette
// around cornflower blue and a style sheet carried as a Qt resource
// (:/style/cornflowerblue_expressive.qss), plus the program's pictures (:/icons/*.svg).

#include <QIcon>
#include <QString>

class QApplication;

// Registers the resources of corvella_ui; a static library's resources are not registered by
// linking alone. Safe to call more than once.
void InitUiResources();
void ApplyVisualStyle(QApplication &App);
// A picture of the window by its name ("folder", "floppy", "music-note", ...).
QIcon ResourceIcon(const QString &Name);
