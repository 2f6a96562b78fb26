#pragma once
// Localisation: the process-wide translation table, the current language and `Translate`.
//
// The table comes from `transl.dt`, a UTF-8 text file (byte-order mark allowed, lines split at
// CR LF, LF or CR): line 0 is the number of languages N; after it come rows of N lines, one line
// per language. Row 0 holds the languages' display names, row 1 their codes ("en", "de", ...),
// rows 2 and on one text each; the first language is English and its texts are the lookup keys.
// An incomplete last row is ignored. A missing or broken file (no number on line 0, N < 1,
// invalid UTF-8, no row of codes) leaves an empty table and English.
//
// Invariants: every column has the same number of rows; a translation whose placeholders (%d,
// %s, %0:s, %.2d, ...) differ from its English key is dropped at load, so `Translate` hands out
// either the key or a text that fills exactly like it. Lookups search only the text rows, never
// the rows of names and codes. The chosen code is kept under "CurrentLanguage" in the per-user
// settings file (`Corvella.conf` in the settings folder). All functions are thread-safe.

#include <QLocale>
#include <QList>
#include <QString>
#include <QStringList>

#include <string>
#include <type_traits>

// One language of the table, in table order: Index is its column (0 = English).
struct TLanguageInfo {
  int Index = 0;
  QString Name;
  QString Code;
};

// Upper bounds on `transl.dt` (a real table is a few hundred kilobytes); a larger file is
// treated as broken.
constexpr qint64 kMaxTranslationFileSize = 4 * 1024 * 1024;
constexpr qsizetype kMaxTranslationLines = 200000;

// Loads the table once at start: the language code is the system UI language's default (see
// DefaultLanguageCode), overridden by "CurrentLanguage" from the settings file when present;
// the table is the first existing file of TranslationFileCandidates(). Never fails: anything
// wrong means English.
void LoadTranslation();
// The same with every outside input given: the files tried in order, the system UI locale
// and the settings file holding "CurrentLanguage" (it also becomes the file that
// SaveLanguageToRegistry writes). Used by tests and by LoadTranslation().
void LoadTranslation(const QStringList &Candidates, const QLocale &SystemUiLocale,
                     const QString &SettingsFile);
// Loads the table from one file and selects Code (case-insensitive; unknown = English).
// Returns false when the file is missing or broken (the table is then empty and English used).
bool LoadTranslationFile(const QString &Path, const QString &Code);

// `transl.dt` beside the program, then in the installed data folders.
QStringList TranslationFileCandidates();
// The settings file that keeps "CurrentLanguage": <settings folder>/Corvella.conf.
QString DefaultLanguageSettingsFile();
// The code for a system UI language: ar cn cs de el es fr hu it jp kr nl pl pt tr, else "en".
QString DefaultLanguageCode(const QLocale &SystemUiLocale);
// The system's UI language (first of QLocale::system().uiLanguages()).
QLocale SystemUiLocale();

// The text of the current language for an English fixed text; Text itself when the current
// language is English, the text is not in the table or its translation is empty.
QString Translate(const QString &Text);
inline QString Translate(const char *Text) { return Translate(QString::fromUtf8(Text)); }

// Fills the placeholders of a translated format text from Args, in order (%0:s style indexes
// pick an argument explicitly; %% is a percent sign). The argument text is inserted as it is,
// so callers format numbers themselves (FormatArg does it for integers). A placeholder with no
// argument becomes empty; surplus arguments are ignored. Never fails.
QString FormatText(const QString &Format, const QStringList &Args);
// The placeholders of a format text in order, normalised ("%d", "%s", "%0:s", "%.2d", ...);
// two texts fill alike when these lists are equal.
QStringList FormatPlaceholders(const QString &Format);

inline QString FormatArg(const QString &Value) { return Value; }
inline QString FormatArg(const char *Value) { return QString::fromUtf8(Value); }
inline QString FormatArg(const std::string &Value) { return QString::fromStdString(Value); }
template <typename T>
  requires std::is_integral_v<T>
QString FormatArg(T Value)
{
  return QString::number(Value);
}

// Translate(Key), then fill it: TranslateFormat("Loaded %d files.", count).
template <typename... TArgs>
QString TranslateFormat(const QString &Key, const TArgs &...Args)
{
  return FormatText(Translate(Key), QStringList{FormatArg(Args)...});
}
template <typename... TArgs>
QString TranslateFormat(const char *Key, const TArgs &...Args)
{
  return FormatText(Translate(Key), QStringList{FormatArg(Args)...});
}

// The languages of the table in table order, for the Language menu (empty without a table).
QList<TLanguageInfo> LanguageList();
// The current language's code ("en" when none was chosen) and column (0 = English).
QString CurrentLanguage();
int CurrentLanguageIndex();
// The Language menu's click: switches to column Index (ignored when out of range), makes its
// code current and stores it with SaveLanguageToRegistry(). Returns false when the index is
// not a language of the table or the code could not be stored.
bool SelectLanguage(int Index);
// Writes "CurrentLanguage" to the settings file; false when it cannot be written.
bool SaveLanguageToRegistry();
