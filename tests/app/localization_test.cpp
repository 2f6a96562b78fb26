#include "app/localization.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

class Localization : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Dir.isValid()); }
  void TearDown() override { LoadTranslationFile(QString(), QStringLiteral("en")); }

  QString Write(const QString &Name, const QByteArray &Bytes)
  {
    const QString path = Dir.filePath(Name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Bytes);
    return path;
  }
  QString Settings() const { return Dir.filePath(QStringLiteral("Corvella.conf")); }

  QTemporaryDir Dir;
};

// Three languages: lines 1-3 names, 4-6 codes, 7-9 the first text, and so on.
const QByteArray kThreeLanguages =
    "3\n"
    "English\nDeutsch\nFran\xC3\xA7" "ais\n"
    "en\nde\nfr\n"
    "Scanned: \nDurchsucht: \nAnalys\xC3\xA9 : \n"
    "Rescan\n\nR\xC3\xA9" "analyser\n"
    "Loaded %d files.\n%d Dateien geladen.\n%s fichiers\n"
    "Saved tags to %d files. Errors: %d\nTags in %d Dateien. Fehler: %d\n%d\n"
    "Deutsch\nGerman-as-text\n\n";

TEST_F(Localization, ThreeLanguageLayout)
{
  ASSERT_TRUE(LoadTranslationFile(Write("transl.dt", kThreeLanguages), QStringLiteral("DE")));
  const QList<TLanguageInfo> languages = LanguageList();
  ASSERT_EQ(languages.size(), 3);
  EXPECT_EQ(languages[0].Name, QStringLiteral("English"));
  EXPECT_EQ(languages[1].Name, QStringLiteral("Deutsch"));
  EXPECT_EQ(languages[2].Name, QStringLiteral("Fran\u00E7ais"));
  EXPECT_EQ(languages[2].Code, QStringLiteral("fr"));
  EXPECT_EQ(languages[2].Index, 2);
  EXPECT_EQ(CurrentLanguageIndex(), 1);
  EXPECT_EQ(Translate("Scanned: "), QStringLiteral("Durchsucht: "));
}

TEST_F(Localization, LookupRules)
{
  ASSERT_TRUE(LoadTranslationFile(Write("transl.dt", kThreeLanguages), QStringLiteral("de")));
  EXPECT_EQ(Translate("Rescan"), QStringLiteral("Rescan")) << "empty entry falls back";
  EXPECT_EQ(Translate("rescan"), QStringLiteral("rescan")) << "case-sensitive";
  EXPECT_EQ(Translate("Scanned:"), QStringLiteral("Scanned:")) << "trailing blank counts";
  EXPECT_EQ(Translate("Not in the table"), QStringLiteral("Not in the table"));
  // The rows of names and codes are not texts: only the text row "Deutsch" matches.
  EXPECT_EQ(Translate("English"), QStringLiteral("English"));
  EXPECT_EQ(Translate("en"), QStringLiteral("en"));
  EXPECT_EQ(Translate("Deutsch"), QStringLiteral("German-as-text"));

  ASSERT_TRUE(SelectLanguage(0));
  EXPECT_EQ(Translate("Scanned: "), QStringLiteral("Scanned: "));
}

TEST_F(Localization, TranslationWithOtherPlaceholdersFallsBackToEnglish)
{
  ASSERT_TRUE(LoadTranslationFile(Write("transl.dt", kThreeLanguages), QStringLiteral("fr")));
  // "%s fichiers" and "%d" do not fill like their keys; the English texts are used instead.
  EXPECT_EQ(Translate("Loaded %d files."), QStringLiteral("Loaded %d files."));
  EXPECT_EQ(TranslateFormat("Saved tags to %d files. Errors: %d", 4, 1),
            QStringLiteral("Saved tags to 4 files. Errors: 1"));
  ASSERT_TRUE(SelectLanguage(1));
  EXPECT_EQ(TranslateFormat("Loaded %d files.", 12), QStringLiteral("12 Dateien geladen."));
  EXPECT_EQ(TranslateFormat("Saved tags to %d files. Errors: %d", 4, 1),
            QStringLiteral("Tags in 4 Dateien. Fehler: 1"));
}

struct BrokenCase {
  const char *name;
  QByteArray bytes;
};
class BrokenTable : public Localization, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenTable, MeansEnglishWithNoLanguages)
{
  EXPECT_FALSE(LoadTranslationFile(Write("transl.dt", GetParam().bytes), QStringLiteral("de")));
  EXPECT_EQ(CurrentLanguageIndex(), 0);
  EXPECT_TRUE(LanguageList().isEmpty());
  EXPECT_EQ(Translate("Rescan"), QStringLiteral("Rescan"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenTable,
    ::testing::Values(BrokenCase{"empty", ""}, BrokenCase{"zero_languages", "0\nEnglish\nen\n"},
                      BrokenCase{"negative_count", "-2\nEnglish\nDeutsch\nen\nde\n"},
                      BrokenCase{"count_not_a_number", "two\nEnglish\nDeutsch\nen\nde\n"},
                      BrokenCase{"count_beyond_lines", "2147483647\nEnglish\nen\nRescan\n"},
                      BrokenCase{"no_code_row", "2\nEnglish\nDeutsch\nen\n"},
                      BrokenCase{"invalid_utf8", "2\nEnglish\nDeutsch\nen\nde\nRescan\n\xFF\xFE\n"},
                      BrokenCase{"too_many_lines", "1\nEnglish\nen\n" + QByteArray(300000, '\n')}),
    [](const auto &param) { return std::string(param.param.name); });

TEST_F(Localization, MissingFileMeansEnglish)
{
  EXPECT_FALSE(LoadTranslationFile(Dir.filePath(QStringLiteral("none.dt")), QStringLiteral("de")));
  EXPECT_EQ(CurrentLanguageIndex(), 0);
  EXPECT_EQ(Translate("Rescan"), QStringLiteral("Rescan"));
}

TEST_F(Localization, ByteOrderMarkLineBreaksAndIncompleteRow)
{
  const QByteArray bytes = "\xEF\xBB\xBF" "2\r\nEnglish\rDeutsch\r\nen\nde\r\nRescan\nNeu einlesen\n"
                           "Language";
  ASSERT_TRUE(LoadTranslationFile(Write("transl.dt", bytes), QStringLiteral("de")));
  EXPECT_EQ(LanguageList().size(), 2);
  EXPECT_EQ(Translate("Rescan"), QStringLiteral("Neu einlesen"));
  EXPECT_EQ(Translate("Language"), QStringLiteral("Language")) << "incomplete row ignored";
}

TEST_F(Localization, DefaultLanguageFromSystemUiLanguage)
{
  const struct {
    const char *locale;
    const char *code;
  } cases[] = {{"fr_FR", "fr"}, {"de_AT", "de"}, {"zh_CN", "cn"}, {"ja_JP", "jp"},
               {"ko_KR", "kr"}, {"pt_BR", "pt"}, {"nl_BE", "nl"}, {"el_GR", "el"},
               {"ar_EG", "ar"}, {"cs_CZ", "cs"}, {"tr_TR", "tr"}, {"en_US", "en"},
               {"sv_SE", "en"}, {"ru_RU", "en"}};
  for (const auto &c : cases)
    EXPECT_EQ(DefaultLanguageCode(QLocale(QString::fromLatin1(c.locale))),
              QString::fromLatin1(c.code))
        << c.locale;
}

TEST_F(Localization, StartsInTheSystemLanguageWhenNothingIsStored)
{
  const QString table = Write("transl.dt", kThreeLanguages);
  LoadTranslation({Dir.filePath(QStringLiteral("missing/transl.dt")), table},
                  QLocale(QStringLiteral("fr_FR")), Settings());
  EXPECT_EQ(CurrentLanguage(), QStringLiteral("fr"));
  EXPECT_EQ(CurrentLanguageIndex(), 2);
  EXPECT_EQ(Translate("Scanned: "), QStringLiteral("Analys\u00E9 : "));
}

TEST_F(Localization, StoredChoiceWinsAndMenuChoiceIsStored)
{
  const QString table = Write("transl.dt", kThreeLanguages);
  {
    QSettings settings(Settings(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("de"));
  }
  LoadTranslation({table}, QLocale(QStringLiteral("fr_FR")), Settings());
  EXPECT_EQ(CurrentLanguageIndex(), 1);

  ASSERT_TRUE(SelectLanguage(2));
  EXPECT_EQ(CurrentLanguage(), QStringLiteral("fr"));
  EXPECT_EQ(QSettings(Settings(), QSettings::IniFormat).value(QStringLiteral("CurrentLanguage")),
            QStringLiteral("fr"));
  EXPECT_FALSE(SelectLanguage(3));
  EXPECT_FALSE(SelectLanguage(-1));
  EXPECT_EQ(CurrentLanguageIndex(), 2);

  LoadTranslation({table}, QLocale(QStringLiteral("en_US")), Settings());
  EXPECT_EQ(CurrentLanguageIndex(), 2);
}

TEST_F(Localization, UnknownStoredCodeMeansEnglishAndIsKept)
{
  const QString table = Write("transl.dt", kThreeLanguages);
  {
    QSettings settings(Settings(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("CurrentLanguage"), QStringLiteral("xx"));
  }
  LoadTranslation({table}, QLocale(QStringLiteral("de_DE")), Settings());
  EXPECT_EQ(CurrentLanguageIndex(), 0);
  EXPECT_EQ(CurrentLanguage(), QStringLiteral("xx"));
  EXPECT_EQ(LanguageList().size(), 3);
  EXPECT_EQ(QSettings(Settings(), QSettings::IniFormat).value(QStringLiteral("CurrentLanguage")),
            QStringLiteral("xx"));
}

TEST(FormatText, FillsPlaceholders)
{
  const struct {
    const char *format;
    QStringList args;
    const char *want;
  } cases[] = {
      {"%d:%.2d", {"3", "5"}, "3:05"},
      {"%d:%.2d", {"75", "0"}, "75:00"},
      {"Conversion from %0:s to %1:s is not supported", {"A", "B"},
       "Conversion from A to B is not supported"},
      {"%1:s before %0:s", {"A", "B"}, "B before A"},
      {"100%% of %s", {"x"}, "100% of x"},
      {"use %artist%, %num% and %title%", {"x"}, "use %artist%, %num% and %title%"},
      {"%d and %d", {"1"}, "1 and "},
      {"%s", {"a", "b"}, "a"},
      {"%5s|%-5s|", {"ab", "cd"}, "   ab|cd   |"},
      {"trailing %", {}, "trailing %"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(FormatText(QString::fromUtf8(c.format), c.args), QString::fromUtf8(c.want))
        << c.format;
  // A hostile width from a translation is clamped, not allocated.
  EXPECT_EQ(FormatText(QStringLiteral("%99999999999d"), {"1"}).size(), 1000);
  EXPECT_EQ(FormatPlaceholders(QStringLiteral("%d:%.2d, %0:S %% %num%")),
            QStringList({"%d", "%.2d", "%0:s"}));
}

// The table shipped with the program: every language has a name and a code from the
// system-language table, and every translation fills exactly like its English text.
TEST_F(Localization, ShippedTableIsComplete)
{
  const QString path = QStringLiteral(CORVELLA_SOURCE_DIR "/data/transl.dt");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  const int count = lines.first().toInt();
  ASSERT_GE(count, 2);
  const QStringList known = {"en", "ar", "cn", "cs", "de", "el", "es", "fr",
                             "hu", "it", "jp", "kr", "nl", "pl", "pt", "tr"};
  for (int language = 0; language < count; ++language) {
    EXPECT_FALSE(lines.at(1 + language).isEmpty());
    EXPECT_TRUE(known.contains(lines.at(1 + count + language))) << lines.at(1 + count + language).toStdString();
  }
  const qsizetype rows = (lines.size() - 1) / count;
  EXPECT_EQ((lines.size() - 1) % count, 1) << "rows are complete; one empty line after the last break";
  for (qsizetype row = 2; row < rows; ++row) {
    const QString key = lines.at(1 + row * count);
    for (int language = 1; language < count; ++language) {
      const QString text = lines.at(1 + row * count + language);
      EXPECT_FALSE(text.isEmpty()) << key.toStdString();
      EXPECT_EQ(FormatPlaceholders(text), FormatPlaceholders(key)) << key.toStdString();
    }
  }

  ASSERT_TRUE(LoadTranslationFile(path, QStringLiteral("de")));
  EXPECT_EQ(Translate("Scanned: "), QStringLiteral("Durchsucht: "));
  EXPECT_EQ(TranslateFormat("Loaded %d files.", 3), QStringLiteral("3 Dateien geladen."));
}

}  // namespace
