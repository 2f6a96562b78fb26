#include "app/localization.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "app/settings_folder.h"

namespace {

const QString kCurrentLanguageKey = QStringLiteral("CurrentLanguage");
const QString kEnglishCode = QStringLiteral("en");
constexpr int kNameRow = 0;
constexpr int kCodeRow = 1;
constexpr int kFirstTextRow = 2;

struct TTranslationState {
  // Columns[language][row]; all columns have the same length (at least the two header rows).
  std::vector<QStringList> Columns;
  // English text -> first text row that holds it.
  QHash<QString, int> KeyRows;
  QString CurrentLanguage = kEnglishCode;
  int CurrentLanguageIndex = 0;
  QString SettingsFile;
};

std::shared_mutex StateMutex;
TTranslationState State;

// Lines as a line-list reader sees them: split at CR LF, LF or CR; a break at the very end
// does not start another line.
QStringList SplitLines(const QString &Text)
{
  QStringList lines;
  qsizetype start = 0;
  const qsizetype size = Text.size();
  for (qsizetype i = 0; i < size; ++i) {
    const QChar c = Text.at(i);
    if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
    lines.append(Text.mid(start, i - start));
    if (c == QLatin1Char('\r') && i + 1 < size && Text.at(i + 1) == QLatin1Char('\n')) ++i;
    start = i + 1;
  }
  if (start < size) lines.append(Text.mid(start));
  return lines;
}

// Builds the columns from the file; false (and nothing built) for a missing or broken file.
bool ReadTable(const QString &Path, std::vector<QStringList> &Columns)
{
  if (Path.isEmpty()) return false;
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  if (file.size() > kMaxTranslationFileSize) return false;
  QByteArray bytes = file.read(kMaxTranslationFileSize + 1);
  // A read that broke off would give a table cut short, not a broken one.
  if (file.error() != QFileDevice::NoError || bytes.size() > kMaxTranslationFileSize) return false;
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  if (decoder.hasError()) return false;

  // Each line costs a string object; bound their number before splitting.
  if (text.count(QLatin1Char('\n')) + text.count(QLatin1Char('\r')) > 2 * kMaxTranslationLines)
    return false;
  const QStringList lines = SplitLines(text);
  if (lines.isEmpty() || lines.size() > kMaxTranslationLines) return false;
  bool isNumber = false;
  const int count = lines.first().trimmed().toInt(&isNumber);
  if (!isNumber || count <= 0) return false;
  const qsizetype rows = (lines.size() - 1) / count;
  // Without the rows of names and codes there is no language to offer.
  if (rows < kFirstTextRow) return false;

  Columns.assign(static_cast<std::size_t>(count), QStringList());
  for (int language = 0; language < count; ++language) {
    QStringList &column = Columns[static_cast<std::size_t>(language)];
    column.reserve(rows);
    for (qsizetype row = 0; row < rows; ++row) column.append(lines.at(1 + row * count + language));
  }
  return true;
}

// Drops translations that would fill differently from their key: a caller fills the text with
// the arguments meant for the English placeholders.
void DropMismatchedTranslations(std::vector<QStringList> &Columns)
{
  const QStringList &keys = Columns.front();
  for (std::size_t language = 1; language < Columns.size(); ++language) {
    QStringList &column = Columns[language];
    for (qsizetype row = kFirstTextRow; row < column.size(); ++row) {
      if (column.at(row).isEmpty()) continue;
      if (FormatPlaceholders(column.at(row)) != FormatPlaceholders(keys.at(row)))
        column[row].clear();
    }
  }
}

int IndexOfCode(const std::vector<QStringList> &Columns, const QString &Code)
{
  for (std::size_t language = 0; language < Columns.size(); ++language)
    if (Columns[language].at(kCodeRow).compare(Code, Qt::CaseInsensitive) == 0)
      return static_cast<int>(language);
  return 0;
}

void InstallTable(std::vector<QStringList> &&Columns, const QString &Code)
{
  QHash<QString, int> keyRows;
  if (!Columns.empty()) {
    DropMismatchedTranslations(Columns);
    const QStringList &keys = Columns.front();
    for (qsizetype row = kFirstTextRow; row < keys.size(); ++row)
      if (!keys.at(row).isEmpty() && !keyRows.contains(keys.at(row)))
        keyRows.insert(keys.at(row), static_cast<int>(row));
  }
  std::unique_lock lock(StateMutex);
  State.CurrentLanguageIndex = Columns.empty() ? 0 : IndexOfCode(Columns, Code);
  State.Columns = std::move(Columns);
  State.KeyRows = std::move(keyRows);
  State.CurrentLanguage = Code;
}

// One placeholder at Format[Pos] ('%'): its end (one past the type letter), the explicit
// argument index (-1 when none), the flags, width and precision. False when the '%' does not
// start one (then it is plain text, as in "%artist%").
struct TPlaceholder {
  qsizetype End = 0;
  int Index = -1;
  bool LeftAlign = false;
  int Width = -1;
  int Precision = -1;
  QChar Type;
};

bool ReadDigits(const QString &Format, qsizetype &Pos, int &Value)
{
  const qsizetype start = Pos;
  qint64 value = 0;
  while (Pos < Format.size() && Format.at(Pos).isDigit() && Format.at(Pos).unicode() < 0x80) {
    // Widths beyond a few digits are nonsense; clamp instead of overflowing.
    value = std::min<qint64>(value * 10 + (Format.at(Pos).unicode() - '0'), 1000);
    ++Pos;
  }
  Value = static_cast<int>(value);
  return Pos > start;
}

bool ParsePlaceholder(const QString &Format, qsizetype Pos, TPlaceholder &Out)
{
  qsizetype p = Pos + 1;
  int number = 0;
  const qsizetype digitsStart = p;
  if (ReadDigits(Format, p, number) && p < Format.size() && Format.at(p) == QLatin1Char(':')) {
    Out.Index = number;
    ++p;
  } else {
    p = digitsStart;
  }
  if (p < Format.size() && Format.at(p) == QLatin1Char('-')) {
    Out.LeftAlign = true;
    ++p;
  }
  if (ReadDigits(Format, p, number)) Out.Width = number;
  if (p < Format.size() && Format.at(p) == QLatin1Char('.')) {
    ++p;
    if (!ReadDigits(Format, p, number)) return false;
    Out.Precision = number;
  }
  if (p >= Format.size()) return false;
  const QChar type = Format.at(p).toLower();
  if (!QStringLiteral("dusxefgnmp").contains(type)) return false;
  // A type letter followed by a letter is a word such as "%num%", not a placeholder.
  if (p + 1 < Format.size() && Format.at(p + 1).isLetter()) return false;
  Out.Type = type;
  Out.End = p + 1;
  return true;
}

QString FillPlaceholder(const TPlaceholder &Holder, QString Value)
{
  const bool integer = Holder.Type == QLatin1Char('d') || Holder.Type == QLatin1Char('u') ||
                       Holder.Type == QLatin1Char('x');
  if (Holder.Precision >= 0) {
    if (integer) {
      const bool negative = Value.startsWith(QLatin1Char('-'));
      QString digits = negative ? Value.mid(1) : Value;
      if (digits.size() < Holder.Precision)
        digits = QString(Holder.Precision - digits.size(), QLatin1Char('0')) + digits;
      Value = negative ? QLatin1Char('-') + digits : digits;
    } else if (Holder.Type == QLatin1Char('s')) {
      Value.truncate(Holder.Precision);
    }
  }
  if (Holder.Width > Value.size()) {
    const QString pad(Holder.Width - Value.size(), QLatin1Char(' '));
    Value = Holder.LeftAlign ? Value + pad : pad + Value;
  }
  return Value;
}

}  // namespace

QStringList FormatPlaceholders(const QString &Format)
{
  QStringList result;
  for (qsizetype i = 0; i < Format.size(); ++i) {
    if (Format.at(i) != QLatin1Char('%')) continue;
    if (i + 1 < Format.size() && Format.at(i + 1) == QLatin1Char('%')) {
      ++i;
      continue;
    }
    TPlaceholder holder;
    if (!ParsePlaceholder(Format, i, holder)) continue;
    QString normal = Format.mid(i, holder.End - i);
    normal.back() = holder.Type;
    result.append(normal);
    i = holder.End - 1;
  }
  return result;
}

QString FormatText(const QString &Format, const QStringList &Args)
{
  QString out;
  out.reserve(Format.size());
  qsizetype next = 0;
  for (qsizetype i = 0; i < Format.size(); ++i) {
    const QChar c = Format.at(i);
    if (c != QLatin1Char('%')) {
      out.append(c);
      continue;
    }
    if (i + 1 < Format.size() && Format.at(i + 1) == QLatin1Char('%')) {
      out.append(c);
      ++i;
      continue;
    }
    TPlaceholder holder;
    if (!ParsePlaceholder(Format, i, holder)) {
      out.append(c);
      continue;
    }
    const qsizetype index = holder.Index >= 0 ? holder.Index : next;
    next = index + 1;
    out.append(FillPlaceholder(holder, index < Args.size() ? Args.at(index) : QString()));
    i = holder.End - 1;
  }
  return out;
}

QStringList TranslationFileCandidates()
{
  const QString fileName = QStringLiteral("transl.dt");
  const QString appDir = QCoreApplication::applicationDirPath();
  QStringList candidates;
  candidates << appDir + QLatin1Char('/') + fileName
             << appDir + QStringLiteral("/../share/corvella/") + fileName;
  for (const QString &path : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                       QStringLiteral("corvella/") + fileName))
    candidates << path;
  candidates.removeDuplicates();
  return candidates;
}

QString DefaultLanguageSettingsFile()
{
  return SettingsFolder() + QStringLiteral("/Corvella.conf");
}

QString DefaultLanguageCode(const QLocale &SystemUiLocale)
{
  switch (SystemUiLocale.language()) {
    case QLocale::Arabic: return QStringLiteral("ar");
    case QLocale::Chinese: return QStringLiteral("cn");
    case QLocale::Czech: return QStringLiteral("cs");
    case QLocale::German: return QStringLiteral("de");
    case QLocale::Greek: return QStringLiteral("el");
    case QLocale::Spanish: return QStringLiteral("es");
    case QLocale::French: return QStringLiteral("fr");
    case QLocale::Hungarian: return QStringLiteral("hu");
    case QLocale::Italian: return QStringLiteral("it");
    case QLocale::Japanese: return QStringLiteral("jp");
    case QLocale::Korean: return QStringLiteral("kr");
    case QLocale::Dutch: return QStringLiteral("nl");
    case QLocale::Polish: return QStringLiteral("pl");
    case QLocale::Portuguese: return QStringLiteral("pt");
    case QLocale::Turkish: return QStringLiteral("tr");
    default: return kEnglishCode;
  }
}

QLocale SystemUiLocale()
{
  const QStringList languages = QLocale::system().uiLanguages();
  return languages.isEmpty() ? QLocale::system() : QLocale(languages.first());
}

bool LoadTranslationFile(const QString &Path, const QString &Code)
{
  std::vector<QStringList> columns;
  const bool ok = ReadTable(Path, columns);
  if (!ok) columns.clear();
  InstallTable(std::move(columns), Code);
  return ok;
}

void LoadTranslation(const QStringList &Candidates, const QLocale &SystemUiLocale,
                     const QString &SettingsFile)
{
  QString code = DefaultLanguageCode(SystemUiLocale);
  {
    const QSettings settings(SettingsFile, QSettings::IniFormat);
    const QVariant stored = settings.value(kCurrentLanguageKey);
    if (stored.isValid()) code = stored.toString();
  }
  {
    std::unique_lock lock(StateMutex);
    State.SettingsFile = SettingsFile;
  }
  QString path;
  for (const QString &candidate : Candidates) {
    if (QFileInfo(candidate).isFile()) {
      path = candidate;
      break;
    }
  }
  LoadTranslationFile(path, code);
}

void LoadTranslation()
{
  LoadTranslation(TranslationFileCandidates(), SystemUiLocale(), DefaultLanguageSettingsFile());
}

QString Translate(const QString &Text)
{
  std::shared_lock lock(StateMutex);
  if (State.CurrentLanguageIndex <= 0) return Text;
  const auto found = State.KeyRows.constFind(Text);
  if (found == State.KeyRows.cend()) return Text;
  const QString &translated =
      State.Columns[static_cast<std::size_t>(State.CurrentLanguageIndex)].at(found.value());
  return translated.isEmpty() ? Text : translated;
}

QList<TLanguageInfo> LanguageList()
{
  std::shared_lock lock(StateMutex);
  QList<TLanguageInfo> list;
  for (std::size_t language = 0; language < State.Columns.size(); ++language)
    list.append(TLanguageInfo{static_cast<int>(language), State.Columns[language].at(kNameRow),
                              State.Columns[language].at(kCodeRow)});
  return list;
}

QString CurrentLanguage()
{
  std::shared_lock lock(StateMutex);
  return State.CurrentLanguage;
}

int CurrentLanguageIndex()
{
  std::shared_lock lock(StateMutex);
  return State.CurrentLanguageIndex;
}

bool SelectLanguage(int Index)
{
  {
    std::unique_lock lock(StateMutex);
    if (Index < 0 || static_cast<std::size_t>(Index) >= State.Columns.size()) return false;
    State.CurrentLanguageIndex = Index;
    State.CurrentLanguage = State.Columns[static_cast<std::size_t>(Index)].at(kCodeRow);
  }
  return SaveLanguageToRegistry();
}

bool SaveLanguageToRegistry()
{
  QString file;
  QString code;
  {
    std::shared_lock lock(StateMutex);
    file = State.SettingsFile.isEmpty() ? DefaultLanguageSettingsFile() : State.SettingsFile;
    code = State.CurrentLanguage;
  }
  QSettings settings(file, QSettings::IniFormat);
  settings.setValue(kCurrentLanguageKey, code);
  settings.sync();
  return settings.status() == QSettings::NoError;
}
