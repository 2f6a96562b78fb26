#include "app/ui/maker_links.h"

#include <QCoreApplication>
#include <QStringList>

#include "app/localization.h"

QString HomepageUrl() { return QStringLiteral(CORVELLA_HOMEPAGE_URL); }
QString TutorialUrl() { return QStringLiteral(CORVELLA_TUTORIAL_URL); }
QString SupportUrl() { return QStringLiteral(CORVELLA_SUPPORT_URL); }

QString HomepageDisplayText()
{
  QString text = HomepageUrl();
  for (const QString &scheme : {QStringLiteral("https://"), QStringLiteral("http://")})
    if (text.startsWith(scheme)) text.remove(0, scheme.size());
  while (text.endsWith(QLatin1Char('/'))) text.chop(1);
  return text;
}

QString AboutText(int Year)
{
  QStringList lines;
  lines << QCoreApplication::applicationName()
        << Translate("Version:") + QLatin1Char(' ') + QString::fromLatin1(kAppVersionText)
        << Translate("Website:") + QLatin1Char(' ') + HomepageDisplayText() << QString()
        << Translate("This program is provided as is, without warranty of any kind.")
        << Translate("It changes your audio files in place: keep a backup of your music.")
        << Translate("You may use it and give it to others free of charge.")
        << Translate("All names of products and formats belong to their owners.") << QString()
        << QStringLiteral("\u00A9 %1 The Corvella developers").arg(Year);
  return lines.join(QStringLiteral("\r\n"));
}
