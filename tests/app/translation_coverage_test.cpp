// Every fixed text the program can pass to Translate must have a row in data/transl.dt with a
// translation in every language of the table; a text without one would be shown in English
// without anyone noticing. The texts are collected from the sources under app/:
// - literals passed to Translate, TranslateFormat, TrNoop, TagServiceText and AddCaption (the
//   window's caption list, translated again at every language change);
// - literals passed to a function or lambda that hands one of its parameters on to one of
//   those (found by following the parameter through the body, also through several helpers);
// - constants (NAME = "text") passed to them by name;
// - the literals of a table or function whose result is passed to them (Translate(Caption(i))).
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/localization.h"

namespace {

struct TToken {
  enum TKind { Ident, String, Punct };
  TKind Kind;
  std::string Text;  // a string literal's decoded text
};

using TTokens = std::vector<TToken>;

// Decodes the escapes of a C++ string literal body (the editor's texts use the simple ones).
std::string Unescape(const std::string &Body)
{
  std::string out;
  for (std::size_t i = 0; i < Body.size(); ++i) {
    if (Body[i] != '\\' || i + 1 >= Body.size()) {
      out += Body[i];
      continue;
    }
    const char c = Body[++i];
    switch (c) {
    case 'n': out += '\n'; break;
    case 'r': out += '\r'; break;
    case 't': out += '\t'; break;
    case '0': out += '\0'; break;
    case 'x': {
      std::size_t n = 0;
      unsigned value = 0;
      while (i + 1 < Body.size() && std::isxdigit(static_cast<unsigned char>(Body[i + 1])) && n < 2) {
        value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, Body[++i]), nullptr, 16));
        ++n;
      }
      out += static_cast<char>(value);
      break;
    }
    default: out += c; break;
    }
  }
  return out;
}

// Splits C++ source into identifiers, string literals and punctuation; comments, preprocessor
// lines, numbers and character literals are dropped.
TTokens Tokenize(const std::string &Code)
{
  TTokens tokens;
  std::size_t i = 0;
  bool lineStart = true;
  const auto isIdent = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  while (i < Code.size()) {
    const char c = Code[i];
    if (c == '\n') {
      lineStart = true;
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (lineStart && c == '#') {
      while (i < Code.size() && Code[i] != '\n') i += (Code[i] == '\\' && i + 1 < Code.size()) ? 2u : 1u;
      continue;
    }
    lineStart = false;
    if (Code.compare(i, 2, "//") == 0) {
      while (i < Code.size() && Code[i] != '\n') ++i;
      continue;
    }
    if (Code.compare(i, 2, "/*") == 0) {
      const std::size_t end = Code.find("*/", i + 2);
      i = end == std::string::npos ? Code.size() : end + 2;
      continue;
    }
    if (c == '\'') {
      ++i;
      while (i < Code.size() && Code[i] != '\'') i += Code[i] == '\\' ? 2u : 1u;
      ++i;
      continue;
    }
    if (c == 'R' && i + 1 < Code.size() && Code[i + 1] == '"') {
      const std::size_t open = Code.find('(', i + 2);
      const std::string delimiter = ")" + Code.substr(i + 2, open - i - 2) + "\"";
      const std::size_t close = Code.find(delimiter, open);
      tokens.push_back({TToken::String, Code.substr(open + 1, close - open - 1)});
      i = close + delimiter.size();
      continue;
    }
    if (c == '"') {
      std::size_t j = i + 1;
      while (j < Code.size() && Code[j] != '"') j += Code[j] == '\\' ? 2u : 1u;
      tokens.push_back({TToken::String, Unescape(Code.substr(i + 1, j - i - 1))});
      i = j + 1;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      while (i < Code.size() && (isIdent(Code[i]) || Code[i] == '.' || Code[i] == '\'')) ++i;
      continue;
    }
    if (isIdent(c)) {
      std::size_t j = i;
      while (j < Code.size() && isIdent(Code[j])) ++j;
      const std::string word = Code.substr(i, j - i);
      i = j;
      // Encoding prefixes of a literal (u8"..", u"..", L"..") belong to it.
      if (i < Code.size() && Code[i] == '"' && (word == "u8" || word == "u" || word == "U" || word == "L")) continue;
      tokens.push_back({TToken::Ident, word});
      continue;
    }
    if (Code.compare(i, 2, "::") == 0 || Code.compare(i, 2, "->") == 0) {
      tokens.push_back({TToken::Punct, Code.substr(i, 2)});
      i += 2;
      continue;
    }
    tokens.push_back({TToken::Punct, std::string(1, c)});
    ++i;
  }
  return tokens;
}

bool IsPunct(const TTokens &T, std::size_t I, const char *P) { return I < T.size() && T[I].Kind == TToken::Punct && T[I].Text == P; }

// The index of the bracket closing the one at Open; T.size() when unbalanced.
std::size_t Matching(const TTokens &T, std::size_t Open)
{
  const std::string open = T[Open].Text;
  const std::string close = open == "(" ? ")" : open == "[" ? "]" : "}";
  int depth = 0;
  for (std::size_t i = Open; i < T.size(); ++i) {
    if (T[i].Kind != TToken::Punct) continue;
    if (T[i].Text == open) ++depth;
    if (T[i].Text == close && --depth == 0) return i;
  }
  return T.size();
}

// The top-level arguments of the call whose "(" is at Open, as token ranges [first, last).
std::vector<std::pair<std::size_t, std::size_t>> Arguments(const TTokens &T, std::size_t Open)
{
  std::vector<std::pair<std::size_t, std::size_t>> args;
  const std::size_t close = Matching(T, Open);
  std::size_t start = Open + 1;
  int depth = 0;
  for (std::size_t i = Open + 1; i < close; ++i) {
    if (T[i].Kind != TToken::Punct) continue;
    const std::string &p = T[i].Text;
    if (p == "(" || p == "[" || p == "{" || p == "<") ++depth;
    if (p == ")" || p == "]" || p == "}" || p == ">") --depth;
    if (p == "," && depth <= 0) {
      args.emplace_back(start, i);
      start = i + 1;
    }
  }
  if (start < close) args.emplace_back(start, close);
  return args;
}

struct TFunction {
  std::string File;
  bool Local = false;  // a lambda: seen only in its own file
  std::vector<std::string> Params;
  std::size_t BodyFirst = 0, BodyLast = 0;  // tokens of the body, braces excluded
};

struct TSource {
  std::string Path;
  TTokens Tokens;
};

bool IsKeyword(const std::string &Word)
{
  static const std::set<std::string> keywords{"if", "for", "while", "switch", "catch", "return", "sizeof",
                                              "decltype", "alignof", "static_assert", "requires", "noexcept"};
  return keywords.count(Word) > 0;
}

class TTextCollector {
public:
  // Entry points: the callee and the position of its text argument.
  std::map<std::string, std::set<std::size_t>> Forwarders{
    {"Translate", {0}}, {"TranslateFormat", {0}}, {"TrNoop", {0}}, {"TagServiceText", {0}}, {"AddCaption", {0}}};

  void Add(const std::string &Path, const std::string &Code) { FSources.push_back({Path, Tokenize(Code)}); }

  // Texts and where each was found.
  std::map<std::string, std::string> Collect()
  {
    for (const TSource &source : FSources) FindDefinitions(source);
    FollowParameters();
    std::map<std::string, std::string> texts;
    for (const TSource &source : FSources) CollectCalls(source, texts);
    return texts;
  }

private:
  void FindDefinitions(const TSource &Source)
  {
    const TTokens &t = Source.Tokens;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
      if (t[i].Kind != TToken::Ident) continue;
      const std::string &name = t[i].Text;
      // NAME = "text"; NAME = QStringLiteral("text"); NAME[] = {"a", "b"};
      std::size_t j = i + 1;
      if (IsPunct(t, j, "[")) j = Matching(t, j) + 1;
      if (IsPunct(t, j, "=")) {
        std::size_t k = j + 1;
        if (k < t.size() && t[k].Kind == TToken::Ident && IsPunct(t, k + 1, "(") && k + 2 < t.size() &&
            t[k + 2].Kind == TToken::String)
          k += 2;
        if (k < t.size() && t[k].Kind == TToken::String) {
          std::string text;
          while (k < t.size() && t[k].Kind == TToken::String) text += t[k++].Text;
          FConstants[name] = text;
        } else if (IsPunct(t, k, "{")) {
          FTables[name] = {k + 1, Matching(t, k), &Source};
        } else if (IsPunct(t, k, "[")) {
          // A lambda: NAME = [captures](params) ... { body }
          const std::size_t paramsOpen = Matching(t, k) + 1;
          if (IsPunct(t, paramsOpen, "(")) AddFunction(Source, name, paramsOpen, true);
        }
        continue;
      }
      if (IsPunct(t, i + 1, "(") && !IsKeyword(name)) AddFunction(Source, name, i + 1, false);
    }
  }

  void AddFunction(const TSource &Source, const std::string &Name, std::size_t ParamsOpen, bool Local)
  {
    const TTokens &t = Source.Tokens;
    const std::size_t paramsClose = Matching(t, ParamsOpen);
    // After the parameters a definition has qualifiers or a trailing return type, then "{".
    std::size_t k = paramsClose + 1;
    while (k < t.size() && !IsPunct(t, k, "{") && !IsPunct(t, k, ";") && !IsPunct(t, k, ")") &&
           !IsPunct(t, k, ",") && !IsPunct(t, k, "=") && !IsPunct(t, k, "(") && !IsPunct(t, k, ":") &&
           !IsPunct(t, k, "}") && k - paramsClose < 8)
      ++k;
    if (!IsPunct(t, k, "{")) return;
    TFunction function{Source.Path, Local, {}, k + 1, Matching(t, k)};
    for (const auto &[first, last] : Arguments(t, ParamsOpen)) {
      std::string param;
      for (std::size_t p = first; p < last && !IsPunct(t, p, "="); ++p)
        if (t[p].Kind == TToken::Ident) param = t[p].Text;
      function.Params.push_back(param);
    }
    FFunctions.emplace(Name, function);
  }

  bool Visible(const TFunction &Function, const TSource &From) const { return !Function.Local || Function.File == From.Path; }

  // The positions at which a callee seen from Source takes a text.
  std::set<std::size_t> TextPositions(const std::string &Callee, const TSource &From) const
  {
    std::set<std::size_t> positions;
    if (const auto it = Forwarders.find(Callee); it != Forwarders.end()) positions = it->second;
    const auto range = FFunctions.equal_range(Callee);
    for (auto it = range.first; it != range.second; ++it) {
      if (!Visible(it->second, From)) continue;
      const auto local = FLocalForwarders.find(&it->second);
      if (local != FLocalForwarders.end()) positions.insert(local->second.begin(), local->second.end());
    }
    return positions;
  }

  const TSource *SourceOf(const TFunction &Function) const
  {
    for (const TSource &source : FSources)
      if (source.Path == Function.File) return &source;
    return nullptr;
  }

  // A parameter handed on, as a whole argument, to a position that takes a text makes that
  // parameter's position take a text too; repeated until nothing changes.
  void FollowParameters()
  {
    for (bool changed = true; changed;) {
      changed = false;
      for (const auto &[name, function] : FFunctions) {
        const TSource *source = SourceOf(function);
        const TTokens &t = source->Tokens;
        for (std::size_t i = function.BodyFirst; i + 1 < function.BodyLast; ++i) {
          if (t[i].Kind != TToken::Ident || !IsPunct(t, i + 1, "(")) continue;
          const std::set<std::size_t> positions = TextPositions(t[i].Text, *source);
          if (positions.empty()) continue;
          const auto args = Arguments(t, i + 1);
          for (const std::size_t position : positions) {
            if (position >= args.size() || args[position].second != args[position].first + 1) continue;
            const TToken &arg = t[args[position].first];
            for (std::size_t p = 0; p < function.Params.size(); ++p) {
              if (arg.Kind != TToken::Ident || arg.Text != function.Params[p]) continue;
              if (FLocalForwarders[&function].insert(p).second) changed = true;
            }
          }
        }
      }
    }
  }

  // Literal texts (adjacent literals joined, a QStringLiteral-style wrapper allowed) of an
  // argument; the texts of a constant, table or table function it names.
  void ArgumentTexts(const TSource &Source, std::size_t First, std::size_t Last, std::vector<std::string> &Out) const
  {
    const TTokens &t = Source.Tokens;
    if (First >= Last) return;
    if (t[First].Kind == TToken::String) {
      std::string text;
      for (std::size_t k = First; k < Last && t[k].Kind == TToken::String; ++k) text += t[k].Text;
      Out.push_back(text);
      return;
    }
    // QStringLiteral("..."), QString::fromUtf8("..."), QLatin1String("...").
    std::size_t k = First;
    while (k + 1 < Last && t[k].Kind == TToken::Ident && IsPunct(t, k + 1, "::")) k += 2;
    if (k >= Last || t[k].Kind != TToken::Ident) return;
    const std::string &name = t[k].Text;
    if (IsPunct(t, k + 1, "(") && k + 2 < Last && t[k + 2].Kind == TToken::String) {
      ArgumentTexts(Source, k + 2, Matching(t, k + 1), Out);
      return;
    }
    if (k + 1 == Last) {
      if (const auto it = FConstants.find(name); it != FConstants.end()) Out.push_back(it->second);
      return;
    }
    if (IsPunct(t, k + 1, "[")) {
      if (const auto it = FTables.find(name); it != FTables.end())
        TableTexts(*it->second.Source, it->second.First, it->second.Last, Out);
      return;
    }
    if (IsPunct(t, k + 1, "(")) {
      const auto range = FFunctions.equal_range(name);
      for (auto it = range.first; it != range.second; ++it)
        if (Visible(it->second, Source)) TableTexts(*SourceOf(it->second), it->second.BodyFirst, it->second.BodyLast, Out);
    }
  }

  // Every non-empty literal of a table, unless it marks its texts with TrNoop (then those
  // are collected where they stand).
  static void TableTexts(const TSource &Source, std::size_t First, std::size_t Last, std::vector<std::string> &Out)
  {
    const TTokens &t = Source.Tokens;
    for (std::size_t k = First; k < Last; ++k)
      if (t[k].Kind == TToken::Ident && t[k].Text == "TrNoop") return;
    for (std::size_t k = First; k < Last; ++k)
      if (t[k].Kind == TToken::String && !t[k].Text.empty()) Out.push_back(t[k].Text);
  }

  void CollectCalls(const TSource &Source, std::map<std::string, std::string> &Texts) const
  {
    const TTokens &t = Source.Tokens;
    for (std::size_t i = 0; i + 1 < t.size(); ++i) {
      if (t[i].Kind != TToken::Ident || !IsPunct(t, i + 1, "(")) continue;
      const std::set<std::size_t> positions = TextPositions(t[i].Text, Source);
      if (positions.empty()) continue;
      const auto args = Arguments(t, i + 1);
      for (const std::size_t position : positions) {
        if (position >= args.size()) continue;
        std::vector<std::string> found;
        ArgumentTexts(Source, args[position].first, args[position].second, found);
        for (const std::string &text : found)
          if (!text.empty()) Texts.emplace(text, Source.Path + " (" + t[i].Text + ")");
      }
    }
  }

  struct TTable {
    std::size_t First = 0, Last = 0;
    const TSource *Source = nullptr;
  };
  std::vector<TSource> FSources;
  std::multimap<std::string, TFunction> FFunctions;
  std::map<const TFunction *, std::set<std::size_t>> FLocalForwarders;
  std::map<std::string, std::string> FConstants;
  std::map<std::string, TTable> FTables;
};

std::map<std::string, std::string> TextsOf(const std::string &Code)
{
  TTextCollector collector;
  collector.Add("snippet.cpp", Code);
  return collector.Collect();
}

std::set<std::string> Keys(const std::map<std::string, std::string> &Texts)
{
  std::set<std::string> keys;
  for (const auto &[text, where] : Texts) keys.insert(text);
  return keys;
}

TEST(TranslationTextScanner, FindsTheWaysTextsReachTranslate)
{
  const std::string code = R"cpp(
#include "not/a/text.h"
namespace Texts { constexpr const char *Failure = "Tags save error: %d"; }
// Translate("in a comment")
QLabel *Label(const char *Text, QWidget *Parent) { return new QLabel(Translate(Text), Parent); }
QPushButton *Button(const char *Name, const char *Caption) { return Make(Name, Label(Caption, nullptr)); }
const char *Column(int i) { static const char *const names[] = {"File", "Directory"}; return names[i]; }
void Window() {
  const auto action = [this](const char *Key, const char *Name) { AddCaption(Key, [](const QString &) {}); };
  action("Rescan", "actRescan");
  Button("btnSave", "Save Tags");
  Label("Search:", this);
  Status(Translate("Scanned: ") + path);
  Status(TranslateFormat("Saved %d of " "%d files.", a, b));
  Error(TagServiceText(Texts::Failure, 5));
  Header(Translate(Column(2)));
  Name(Translate(QStringLiteral("Quoted \"x\"")), 'a', "not a text");
  Other(Translate(variable));
}
)cpp";
  EXPECT_EQ(Keys(TextsOf(code)), (std::set<std::string>{"Tags save error: %d", "Rescan", "Save Tags", "Search:",
                                                          "Scanned: ", "Saved %d of %d files.", "File",
                                                          "Directory", "Quoted \"x\""}));
}

std::string ReadUtf8(const QString &Path)
{
  QFile file(Path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

std::map<std::string, std::string> ProgramTexts()
{
  TTextCollector collector;
  const QString root = QStringLiteral(CORVELLA_SOURCE_DIR "/app");
  QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    collector.Add(QDir(QStringLiteral(CORVELLA_SOURCE_DIR)).relativeFilePath(path).toStdString(), ReadUtf8(path));
  }
  return collector.Collect();
}

// The table as lines, split like the program splits them.
struct TTable {
  int Languages = 0;
  std::vector<QStringList> Rows;  // Rows[r][language]
  int Lines = 0;
};

TTable ReadTable()
{
  QFile file(QStringLiteral(CORVELLA_SOURCE_DIR "/data/transl.dt"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  QByteArray bytes = file.readAll();
  if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  EXPECT_FALSE(decoder.hasError()) << "transl.dt is not UTF-8";
  QStringList lines = text.split(QStringLiteral("\n"));
  for (QString &line : lines)
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  TTable table;
  table.Lines = static_cast<int>(lines.size());
  table.Languages = lines.isEmpty() ? 0 : lines.first().toInt();
  if (table.Languages <= 0) return table;
  for (qsizetype first = 1; first + table.Languages <= lines.size(); first += table.Languages)
    table.Rows.push_back(lines.mid(first, table.Languages));
  return table;
}

const QStringList kRequiredCodes{"en", "de", "fr", "es", "it", "nl", "pl", "pt"};

TEST(TranslationTable, IsCompleteRowsOfEveryRequiredLanguage)
{
  const TTable table = ReadTable();
  ASSERT_GE(table.Languages, kRequiredCodes.size());
  EXPECT_EQ((table.Lines - 1) % table.Languages, 0) << "an incomplete last row";
  ASSERT_GE(table.Rows.size(), 3u);
  for (const QString &code : kRequiredCodes) EXPECT_TRUE(table.Rows[1].contains(code)) << code.toStdString();
  EXPECT_EQ(table.Rows[1].first(), "en");
  std::set<QString> keys;
  for (std::size_t r = 2; r < table.Rows.size(); ++r) {
    EXPECT_TRUE(keys.insert(table.Rows[r].first()).second) << "twice: " << table.Rows[r].first().toStdString();
    EXPECT_FALSE(table.Rows[r].first().isEmpty()) << "an empty key in row " << r;
  }
}

TEST(TranslationTable, EveryTranslationFillsLikeItsKeyAndKeepsItsEdges)
{
  const TTable table = ReadTable();
  std::string failures;
  for (std::size_t r = 2; r < table.Rows.size(); ++r) {
    const QString &key = table.Rows[r].first();
    for (int language = 1; language < table.Languages; ++language) {
      const QString &text = table.Rows[r][language];
      const std::string where = table.Rows[1][language].toStdString() + ": " + key.toStdString() + "\n";
      if (text.isEmpty()) {
        failures += "no translation in " + where;
        continue;
      }
      if (FormatPlaceholders(text) != FormatPlaceholders(key)) failures += "placeholders differ in " + where;
      // A text that is continued by a path or a name keeps its trailing blank.
      if (key.endsWith(QLatin1Char(' ')) != text.endsWith(QLatin1Char(' '))) failures += "trailing blank differs in " + where;
    }
  }
  EXPECT_TRUE(failures.empty()) << failures;
}

TEST(TranslationTable, HasARowForEveryTextTheProgramTranslates)
{
  const std::map<std::string, std::string> texts = ProgramTexts();
  // The scanner must see the program at all: texts of the model, the service and the window.
  ASSERT_TRUE(texts.count("Loaded %d files."));
  ASSERT_TRUE(texts.count("Tags load error: %d"));

  std::set<QString> keys;
  const TTable table = ReadTable();
  for (std::size_t r = 2; r < table.Rows.size(); ++r) keys.insert(table.Rows[r].first());
  std::string missing;
  for (const auto &[text, where] : texts) {
    const QString key = QString::fromStdString(text);
    if (key.contains(QLatin1Char('\n')) || key.contains(QLatin1Char('\r')))
      missing += "a line break cannot be a key: " + where + "\n";
    else if (!keys.count(key))
      missing += "\"" + text + "\" from " + where + "\n";
  }
  EXPECT_TRUE(missing.empty()) << "texts without a row in data/transl.dt:\n" << missing;
}

}  // namespace
