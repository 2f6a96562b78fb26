// corvella: the editor program. Start-up order: the application with its visual style and
// title, the translation table and language, the new-version check (which may end the program
// before any window exists), then the main window and the message loop.
#include <QApplication>

#include "app/localization.h"
#include "app/service/memory_reuse.h"
#include "app/ui/frm_main.h"
#include "app/ui/new_version_check.h"
#include "app/ui/visual_style.h"

int main(int argc, char **argv)
{
  KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Corvella"));
  QApplication::setApplicationName(QStringLiteral("Corvella"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvella"));
  QApplication::setDesktopFileName(QStringLiteral("corvella"));
  ApplyVisualStyle(app);
  QApplication::setWindowIcon(ResourceIcon(QStringLiteral("corvella")));

  LoadTranslation();

  if (!RunNewVersionCheckAtStart()) return 0;

  TFrmMain window;
  window.show();
  return app.exec();
}
