#pragma once
// The maker's web addresses (home page, tutorial, support), fixed at build time through the
// CMake cache variables CORVELLA_HOMEPAGE_URL, CORVELLA_TUTORIAL_URL and CORVELLA_SUPPORT_URL,
// and the texts of the About box that name them.

#include <QString>

// The version the window caption and the About box show.
inline constexpr const char *kAppVersionText = "2.4";

QString HomepageUrl();
QString TutorialUrl();
QString SupportUrl();
// The home page as the link text shows it: without the scheme and the trailing slash.
QString HomepageDisplayText();
// The About box's text, translated labels and legal notice, one item per line.
QString AboutText(int Year);
