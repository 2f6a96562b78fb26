// corvella-tags run as a process on temporary copies of fixtures: exit statuses, the JSON
// lines of show --json (read back with a small strict JSON reader), and set/show round trips.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <memory>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>

#include "app/service/tag_service.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/picture/picture_format.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/test_support.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// A JSON value as the strict reader below produces it.
struct TJson {
  using TObject = std::vector<std::pair<std::string, TJson>>;
  using TArray = std::vector<TJson>;
  std::variant<std::nullptr_t, bool, double, std::string, TArray, TObject> V;

  bool IsNull() const { return std::holds_alternative<std::nullptr_t>(V); }
  const std::string &Str() const { return std::get<std::string>(V); }
  double Num() const { return std::get<double>(V); }
  bool Bool() const { return std::get<bool>(V); }
  const TArray &Arr() const { return std::get<TArray>(V); }
  const TObject &Obj() const { return std::get<TObject>(V); }
  const TJson &operator[](const std::string &Key) const
  {
    for (const auto &[k, v] : Obj())
      if (k == Key) return v;
    throw std::out_of_range("no member " + Key);
  }
  bool Has(const std::string &Key) const
  {
    return std::any_of(Obj().begin(), Obj().end(), [&](const auto &m) { return m.first == Key; });
  }
};

// RFC 8259 reader: throws on anything that is not one valid JSON value.
class TJsonReader {
public:
  explicit TJsonReader(std::string_view Text) : s(Text) {}
  TJson ReadDocument()
  {
    TJson v = Value();
    Space();
    if (p != s.size()) Fail("trailing characters");
    return v;
  }

private:
  [[noreturn]] void Fail(const std::string &What) { throw std::runtime_error(What + " at " + std::to_string(p)); }
  void Space()
  {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == '\n' || s[p] == '\r')) ++p;
  }
  bool Eat(char c)
  {
    Space();
    if (p < s.size() && s[p] == c) {
      ++p;
      return true;
    }
    return false;
  }
  void Literal(std::string_view Word)
  {
    if (s.substr(p, Word.size()) != Word) Fail("bad literal");
    p += Word.size();
  }
  static void PutUtf8(std::string &Out, std::uint32_t C)
  {
    if (C < 0x80) {
      Out += static_cast<char>(C);
    } else if (C < 0x800) {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
      Out += static_cast<char>(0xE0 | (C >> 12));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (C >> 18));
      Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    }
  }
  std::uint32_t Hex4()
  {
    if (p + 4 > s.size()) Fail("short escape");
    std::uint32_t c = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s[p++];
      c <<= 4;
      if (h >= '0' && h <= '9') c |= static_cast<std::uint32_t>(h - '0');
      else if (h >= 'a' && h <= 'f') c |= static_cast<std::uint32_t>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F') c |= static_cast<std::uint32_t>(h - 'A' + 10);
      else Fail("bad hex");
    }
    return c;
  }
  std::string String()
  {
    if (!Eat('"')) Fail("string expected");
    std::string out;
    for (;;) {
      if (p >= s.size()) Fail("unterminated string");
      const auto c = static_cast<unsigned char>(s[p++]);
      if (c == '"') break;
      if (c < 0x20) Fail("raw control character in string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (p >= s.size()) Fail("bad escape");
      const char e = s[p++];
      switch (e) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        std::uint32_t cp = Hex4();
        if (cp >= 0xD800 && cp < 0xDC00) {
          if (s.substr(p, 2) != "\\u") Fail("lone surrogate");
          p += 2;
          const std::uint32_t lo = Hex4();
          if (lo < 0xDC00 || lo > 0xDFFF) Fail("bad surrogate pair");
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
        }
        PutUtf8(out, cp);
        break;
      }
      default: Fail("bad escape");
      }
    }
    if (!IsValidUtf8(out)) Fail("string is not UTF-8");
    return out;
  }
  static bool IsValidUtf8(const std::string &Text)
  {
    for (std::size_t i = 0; i < Text.size();) {
      const auto b = static_cast<unsigned char>(Text[i]);
      const std::size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
      if (n == 0 || i + n > Text.size()) return false;
      for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(Text[i + k]) & 0xC0) != 0x80) return false;
      i += n;
    }
    return true;
  }
  double Number()
  {
    const std::size_t start = p;
    if (p < s.size() && s[p] == '-') ++p;
    if (p >= s.size() || !isdigit(static_cast<unsigned char>(s[p]))) Fail("bad number");
    if (s[p] == '0') ++p;
    else while (p < s.size() && isdigit(static_cast<unsigned char>(s[p]))) ++p;
    if (p < s.size() && s[p] == '.') {
      ++p;
      if (p >= s.size() || !isdigit(static_cast<unsigned char>(s[p]))) Fail("bad fraction");
      while (p < s.size() && isdigit(static_cast<unsigned char>(s[p]))) ++p;
    }
    if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
      ++p;
      if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
      if (p >= s.size() || !isdigit(static_cast<unsigned char>(s[p]))) Fail("bad exponent");
      while (p < s.size() && isdigit(static_cast<unsigned char>(s[p]))) ++p;
    }
    return std::stod(std::string(s.substr(start, p - start)));
  }
  TJson Value()
  {
    Space();
    if (p >= s.size()) Fail("value expected");
    const char c = s[p];
    if (c == '"') return TJson{String()};
    if (c == 'n') { Literal("null"); return TJson{nullptr}; }
    if (c == 't') { Literal("true"); return TJson{true}; }
    if (c == 'f') { Literal("false"); return TJson{false}; }
    if (c == '[') {
      ++p;
      TJson::TArray a;
      if (Eat(']')) return TJson{a};
      do a.push_back(Value()); while (Eat(','));
      if (!Eat(']')) Fail("] expected");
      return TJson{a};
    }
    if (c == '{') {
      ++p;
      TJson::TObject o;
      if (Eat('}')) return TJson{o};
      do {
        Space();
        std::string k = String();
        if (!Eat(':')) Fail(": expected");
        o.emplace_back(std::move(k), Value());
      } while (Eat(','));
      if (!Eat('}')) Fail("} expected");
      return TJson{o};
    }
    return TJson{Number()};
  }
  std::string_view s;
  std::size_t p = 0;
};

// The lines of Out, without their line ends.
std::vector<std::string> OutputLines(const std::string &Out)
{
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < Out.size()) {
    auto end = Out.find('\n', start);
    if (end == std::string::npos) end = Out.size();
    lines.push_back(Out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<TJson> JsonLines(const std::string &Out)
{
  std::vector<TJson> lines;
  for (const std::string &line : OutputLines(Out)) lines.push_back(TJsonReader(line).ReadDocument());
  return lines;
}

struct TRun {
  int Exit = -1;
  std::string Out, Err;
};

std::string ReadText(const std::string &Path)
{
  const Bytes8 b = ReadFileBytes(Path);
  return std::string(b.begin(), b.end());
}

// Where a run's standard output and error go: by default each to a file of its own.
struct TRunStreams {
  std::string OutPath;         // another file (such as /dev/full) for standard output
  bool ErrToOut = false;       // standard error into the same file, to see the two interleaved
};

class CliTest : public ::testing::Test {
protected:
  TRun Run(const std::vector<std::string> &Args, const TRunStreams &Streams = {})
  {
    const std::string outPath = Streams.OutPath.empty() ? io.Path() + "/out" : Streams.OutPath;
    const std::string errPath = io.Path() + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (Streams.ErrToOut)
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    else
      posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{CORVELLA_TAGS_EXE};
    all.insert(all.end(), Args.begin(), Args.end());
    std::vector<char *> argv;
    for (std::string &a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    TRun r;
    const int rc = posix_spawn(&pid, CORVELLA_TAGS_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << CORVELLA_TAGS_EXE;
      return r;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (Streams.OutPath.empty()) r.Out = ReadText(outPath);
    if (!Streams.ErrToOut) r.Err = ReadText(errPath);
    return r;
  }

  TJson ShowJson(const std::string &File)
  {
    const TRun r = Run({"show", "--json", File});
    EXPECT_EQ(r.Exit, 0) << r.Err;
    const std::vector<TJson> lines = JsonLines(r.Out);
    if (lines.size() != 1) throw std::runtime_error("one line expected: " + r.Out);
    return lines[0];
  }

  TempDir dir;
  TempDir io;
};

TEST_F(CliTest, UsageErrorsExitWithTwo)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const std::vector<std::vector<std::string>> cases = {
    {},
    {"frobnicate"},
    {"show"},
    {"show", "--colour", file},
    {"set", file},
    {"set", file, "Mood=happy"},
    {"set", file, "Title"},
    {"set", file, "Title=x", "--cover"},
    {"set", file, "--cover", file, "--no-cover"},
    {"set-entry", file},
    {"set-entry", file, "=x"},
    {"remove"},
    {"cover", file},
    {"cover", file, "a", "b"},
    {"show", "-j", file},
    {"show", file, "-j"},
    {"show", "-j", "x", file},
    {"show", "-j", "-1", file},
    {"show", "-j", "+2", file},
    {"show", "-j", "", file},
    {"show", "-j", "257", file},
    {"show", "-j", "99999999999999999999", file},
    {"show", "-j1.5", file},
    {"show", "--jobs=2x", file},
    {"show", "--jobs", file},
  };
  const Bytes8 before = ReadFileBytes(file);
  for (const auto &args : cases) {
    const TRun r = Run(args);
    std::string joined;
    for (const auto &a : args) joined += a + " ";
    EXPECT_EQ(r.Exit, 2) << joined;
    EXPECT_NE(r.Err, "") << joined;
  }
  EXPECT_EQ(ReadFileBytes(file), before);
}

TEST_F(CliTest, HelpDocumentsEveryCommand)
{
  const TRun r = Run({"--help"});
  EXPECT_EQ(r.Exit, 0);
  for (const char *word : {"show", "--json", "-r", "-j N", "set", "--cover", "--no-cover", "set-entry", "remove", "cover",
                           "Exit status", "\"pictures\"", "DurationSec", "OrigArtist"})
    EXPECT_NE(r.Out.find(word), std::string::npos) << word;
}

// Every fixture loads, and the JSON line has the documented shape.
TEST_F(CliTest, ShowJsonReadsEveryFixture)
{
  std::vector<std::string> files;
  for (const auto &e : fs::recursive_directory_iterator(CORVELLA_TEST_DATA)) {
    const std::string rel = fs::relative(e.path(), CORVELLA_TEST_DATA).string();
    if (e.is_regular_file() && rel.find('/') != std::string::npos && rel.rfind("images/", 0) != 0)
      files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 30u);
  std::vector<std::string> args{"show", "--json"};
  args.insert(args.end(), files.begin(), files.end());
  const TRun r = Run(args);
  EXPECT_EQ(r.Exit, 0) << r.Err;
  const std::vector<TJson> lines = JsonLines(r.Out);
  ASSERT_EQ(lines.size(), files.size());

  const std::map<std::string, std::string> containerByFolder = {
    {"mp3", "actMPEG"}, {"flac", "actFLAC"},   {"oga", "actOggFLAC"}, {"ogg", "actVorbis"},
    {"opus", "actOpus"}, {"m4a", "actMP4"},    {"wav", "actWAV"},     {"rf64", "actRF64"},
    {"wv", "actWavPack"}, {"mpc", "actMusepack"}, {"wma", "actASF"},
  };
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const TJson &j = lines[i];
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(j["file"].Str(), files[i]);
    EXPECT_TRUE(j["ok"].Bool());
    EXPECT_TRUE(j["error"].IsNull());
    const std::string folder = fs::path(files[i]).parent_path().filename().string();
    EXPECT_EQ(j["container"].Str(), containerByFolder.at(folder));
    for (const TJson &t : j["tags"].Arr()) EXPECT_EQ(t.Str().rfind("tt", 0), 0u);
    const TJson &rec = j["record"];
    for (const char *key : {"Title", "Artist", "Album", "Year", "Track", "Genre", "Comment", "Disc", "BPM",
                            "AlbumArtist", "Composer", "OrigArtist", "Copyright", "URL", "EncodedBy", "Lyrics",
                            "FileType", "CoverMime"})
      EXPECT_NO_THROW((void)rec[key].Str()) << key;
    EXPECT_GE(rec["CoverSize"].Num(), 0);
    EXPECT_GE(rec["DurationSec"].Num(), 0);
    for (const TJson &e : j["entries"].Arr()) {
      ASSERT_EQ(e.Arr().size(), 2u);
      EXPECT_NE(e.Arr()[0].Str(), "");
      (void)e.Arr()[1].Str();
    }
    for (const TJson &p : j["pictures"].Arr())
      for (const char *key : {"name", "mime", "type", "description", "size"}) EXPECT_TRUE(p.Has(key)) << key;
    for (const char *key : {"playTime", "bitRate", "sampleRate", "channels", "bitsPerSample", "sampleCount"})
      EXPECT_TRUE(j["audio"].Has(key)) << key;
  }

  // Everything show prints of every fixture, as recorded before loads went through the read
  // view: a change of how files are read must not change what is read. A new format changes
  // its fixtures' lines on purpose; the file is then made anew with the same command from
  // tests/data (file names relative to it).
  std::string out = r.Out;
  const std::string prefix = std::string(CORVELLA_TEST_DATA) + "/";
  for (auto at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at)) out.erase(at, prefix.size());
  const std::vector<std::string> got = OutputLines(out),
                                  want = OutputLines(ReadText(std::string(CORVELLA_SOURCE_DIR) + "/tests/cli/show_every_fixture.jsonl"));
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
}

TEST_F(CliTest, ShowJsonOfTheID3v1Fixture)
{
  const TJson j = ShowJson(dir.CopyFixture("mp3/id3v1-only.mp3"));
  const TJson &rec = j["record"];
  EXPECT_EQ(rec["Title"].Str(), "Björk - Jóga");
  EXPECT_EQ(rec["Artist"].Str(), "Test Artist");
  EXPECT_EQ(rec["Album"].Str(), "Test Album");
  EXPECT_EQ(rec["Year"].Str(), "2021");
  EXPECT_EQ(rec["Track"].Str(), "3");
  EXPECT_EQ(rec["Genre"].Str(), "Rock");
  EXPECT_EQ(rec["Comment"].Str(), "Generated test comment");
  EXPECT_EQ(rec["FileType"].Str(), "aftMP3");
  const auto &tags = j["tags"].Arr();
  EXPECT_NE(std::find_if(tags.begin(), tags.end(), [](const TJson &t) { return t.Str() == "ttID3v1"; }), tags.end());
  bool sawTitle = false;
  for (const TJson &e : j["entries"].Arr())
    if (e.Arr()[0].Str() == "TITLE") sawTitle = e.Arr()[1].Str() == "Björk - Jóga";
  EXPECT_TRUE(sawTitle);
}

TEST_F(CliTest, FailedFilesAreReportedAndTheOthersStillShown)
{
  const std::string good = dir.CopyFixture("mp3/id3v1-only.mp3");
  const std::string missing = dir.Path() + "/missing.mp3";
  const TRun r = Run({"show", "--json", missing, good});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("File not found."), std::string::npos) << r.Err;
  const std::vector<TJson> lines = JsonLines(r.Out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(lines[0]["ok"].Bool());
  EXPECT_EQ(lines[0]["error"].Str(), "File not found.");
  EXPECT_TRUE(lines[0]["record"].IsNull());
  EXPECT_TRUE(lines[1]["ok"].Bool());

  const TRun text = Run({"show", good, missing});
  EXPECT_EQ(text.Exit, 1);
  EXPECT_NE(text.Out.find("Björk - Jóga"), std::string::npos) << text.Out;
  EXPECT_NE(text.Out.find("File not found."), std::string::npos) << text.Out;

  const TRun folder = Run({"show", dir.Path()});
  EXPECT_EQ(folder.Exit, 1);
}

// The ID3v1-only fixture gains an ID3v2 tag in front and keeps its ID3v1 tag at the end; the
// audio between them is untouched.
TEST_F(CliTest, SetThenShowRoundTrip)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 before = ReadFileBytes(file);
  const TRun r = Run({"set", file, "title=Déjà – vu", "ARTIST=Someone", "Year=1999", "Track=12/15", "Genre=Jazz",
                      "Comment=a=b", "Disc=1/2"});
  ASSERT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Err, "");
  EXPECT_FALSE(FileExists(file + ".qln_bak"));
  const Bytes8 after = ReadFileBytes(file);
  const auto v2 = static_cast<std::size_t>(ID3v2TagSizeFromHeader(after.data(), after.size()));
  ASSERT_GT(v2, 0u);
  ASSERT_EQ(after.size(), v2 + before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end() - 128, after.begin() + static_cast<std::ptrdiff_t>(v2)));
  EXPECT_EQ(std::string(after.end() - 128, after.end() - 125), "TAG");

  const TJson j = ShowJson(file);
  std::vector<std::string> tags;
  for (const TJson &t : j["tags"].Arr()) tags.push_back(t.Str());
  EXPECT_EQ(tags, (std::vector<std::string>{"ttID3v1", "ttID3v2"}));
  const TJson &rec = j["record"];
  EXPECT_EQ(rec["Title"].Str(), "Déjà – vu");
  EXPECT_EQ(rec["Artist"].Str(), "Someone");
  EXPECT_EQ(rec["Album"].Str(), "Test Album");
  EXPECT_EQ(rec["Year"].Str(), "1999");
  EXPECT_EQ(rec["Track"].Str(), "12/15");
  EXPECT_EQ(rec["Genre"].Str(), "Jazz");
  EXPECT_EQ(rec["Comment"].Str(), "a=b");
  EXPECT_EQ(rec["Disc"].Str(), "1/2");
}

// After a save the file is read again; a field is named only when it does not read back as
// given, and the year is judged as the file holds it.
TEST_F(CliTest, SetWarnsAboutValuesTheFileCannotHold)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  // A 2.3 tag keeps a date to the day (year and day-month frames), not a month alone.
  const TRun r = Run({"set", file, "Title=A title that is longer than thirty bytes", "Artist=Fits",
                      "Year=2001-05", "Track=4/"});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_NE(r.Err.find("warning: Year reads back as \"2001\""), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("warning: Track reads back as \"4\""), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("Title"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("Artist"), std::string::npos) << r.Err;

  // A 2.4 tag's year is its recording time; a total belongs to the track.
  const std::string v24 = dir.CopyFixture("mp3/id3v24-utf8.mp3");
  const TRun held = Run({"set", v24, "Year=1999", "Track=4/12", "Title=x", "Title=Last one counts"});
  EXPECT_EQ(held.Exit, 0) << held.Err;
  EXPECT_EQ(held.Err, "");
  const TRun day = Run({"set", dir.CopyFixture("mp3/id3v23-latin1.mp3"), "Year=2001-05-12"});
  EXPECT_EQ(day.Exit, 0) << day.Err;
  EXPECT_EQ(day.Err, "");

  const TRun entry = Run({"set-entry", v24, "REPLAYGAIN_TRACK_GAIN=-6.5 dB", "TRACKNUMBER=7/9"});
  EXPECT_EQ(entry.Exit, 0) << entry.Err;
  EXPECT_NE(entry.Err.find("warning: TRACKNUMBER reads back as \"7\""), std::string::npos) << entry.Err;
  EXPECT_EQ(entry.Err.find("REPLAYGAIN"), std::string::npos) << entry.Err;
}

TEST_F(CliTest, SpecialFilesAreNotOpened)
{
  const std::string fifo = dir.Path() + "/pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
         {"show", "--json", fifo}, {"show", "-r", dir.Path()}, {"set", fifo, "Title=x"}, {"remove", fifo},
         {"cover", fifo, dir.Path() + "/out"}, {"set-entry", fifo, "TITLE=x"}}) {
    const TRun r = Run(args);
    EXPECT_NE(r.Exit, 2) << args[0];
    if (args[1] != "-r") {
      EXPECT_EQ(r.Exit, 1) << args[0];
      // The same reason the editor gives; a FIFO is not a missing file.
      EXPECT_NE((r.Err + r.Out).find(": 5: not a regular file"), std::string::npos) << args[0] << ": " << r.Err;
      EXPECT_EQ((r.Err + r.Out).find("File not found."), std::string::npos) << args[0];
    }
  }
}

// Control characters and quotes that a tag may hold come out as valid, escaped JSON.
TEST_F(CliTest, ControlCharactersAreEscaped)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  // A line break is CR LF: the break between the values of a multi-valued text frame, which the
  // ID3v2.3 tag the file gets joins with "/".
  const std::string title = std::string("a\x01") + "\"q\"\\\x1b[2Jz\x7f" + "\tb\r\nc";
  ASSERT_EQ(Run({"set", file, "Title=" + title}).Exit, 0);
  const TRun r = Run({"show", "--json", file});
  ASSERT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out.find('\x1b'), std::string::npos);
  EXPECT_EQ(JsonLines(r.Out)[0]["record"]["Title"].Str(), std::string("a\x01") + "\"q\"\\\x1b[2Jz\x7f" + "\tb/c");

  const TRun text = Run({"show", file});
  EXPECT_EQ(text.Out.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.Out.find('\x01'), std::string::npos);
}

TEST_F(CliTest, SaveFailureExitsWithOneAndLeavesTheFile)
{
  // Every writer refuses a file that is read-only by its mode bits.
  const std::string file = dir.CopyFixture("mp3/notags.mp3");
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  const Bytes8 before = ReadFileBytes(file);
  const TRun r = Run({"set", file, "Title=x"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Tags save error: 5: read-only file"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadFileBytes(file), before);

  const std::string tagged = dir.CopyFixture("mp3/id3v1-only.mp3");
  const std::string notPicture = dir.Write("cover.jpg", Bytes().Str("not a picture"));
  const Bytes8 taggedBefore = ReadFileBytes(tagged);
  const TRun cover = Run({"set", tagged, "--cover", notPicture});
  EXPECT_EQ(cover.Exit, 1);
  EXPECT_EQ(ReadFileBytes(tagged), taggedBefore);
}

TEST_F(CliTest, RecursiveWalkIsDepthFirstSortedAndCaseBlind)
{
  fs::create_directories(dir.Path() + "/a/deeper");
  fs::create_directories(dir.Path() + "/b");
  const std::string mp3 = FixturePath("mp3/id3v1-only.mp3");
  fs::copy_file(mp3, dir.Path() + "/b/x.MP3");
  fs::copy_file(mp3, dir.Path() + "/a.mp3");
  fs::copy_file(mp3, dir.Path() + "/a/deeper/z.Wav");
  fs::copy_file(mp3, dir.Path() + "/a/y.mp3");
  fs::copy_file(mp3, dir.Path() + "/a/skip.m4v");
  fs::copy_file(mp3, dir.Path() + "/c.txt");
  dir.Write("a/broken.flac", Bytes().Str("fLaC").Fill(40, 0xFF));
  fs::create_directory_symlink(dir.Path(), dir.Path() + "/a/loop");

  const TRun r = Run({"show", "--json", "-r", dir.Path()});
  EXPECT_EQ(r.Exit, 0) << r.Err;
  std::vector<std::string> shown;
  for (const TJson &j : JsonLines(r.Out)) shown.push_back(fs::relative(j["file"].Str(), dir.Path()).string());
  EXPECT_EQ(shown, (std::vector<std::string>{"a/broken.flac", "a/deeper/z.Wav", "a/y.mp3", "a.mp3", "b/x.MP3"}));
}

TEST_F(CliTest, RemoveStripsTagsAndReportsMissingFiles)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const Bytes8 before = ReadFileBytes(file);
  const TRun r = Run({"remove", dir.Path() + "/missing.mp3", file});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("File not found."), std::string::npos);
  EXPECT_EQ(ReadFileBytes(file), Bytes8(before.begin(), before.end() - 128));
  EXPECT_TRUE(ShowJson(file)["tags"].Arr().empty());
  EXPECT_EQ(Run({"remove", file}).Exit, 0);
}

TEST_F(CliTest, SetEntryWritesGenericEntries)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const TRun r = Run({"set-entry", file, "title=Entry title", "COMMENT="});
  ASSERT_EQ(r.Exit, 0) << r.Err;
  const TJson rec = ShowJson(file)["record"];
  EXPECT_EQ(rec["Title"].Str(), "Entry title");
  EXPECT_EQ(rec["Comment"].Str(), "");
  EXPECT_EQ(Run({"set-entry", dir.Path() + "/missing.mp3", "TITLE=x"}).Exit, 1);
}

// set-entry saves as set does: refused before any backup when the file cannot be written,
// blocked by a backup that differs from the file, and saying why.
TEST_F(CliTest, SetEntryHasTheBackupAndRefusalsOfSet)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const std::string backup = file + ".qln_bak";
  const Bytes8 before = ReadFileBytes(file);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  TRun r = Run({"set-entry", file, "TITLE=x"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Err, "corvella-tags: " + file + ": Tags save error: 5: read-only file\n");
  EXPECT_FALSE(FileExists(backup));
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);

  WriteFileBytes(backup, Bytes().Str("an older complete copy"));
  r = Run({"set-entry", file, "TITLE=x"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Backup failed: a backup from an earlier failed save differs from the file: " + backup),
            std::string::npos)
    << r.Err;
  EXPECT_EQ(ReadFileBytes(file), before);
  ASSERT_EQ(::unlink(backup.c_str()), 0);

  // A save the library refuses before writing (a layout it does not write into) leaves
  // nothing beside the file.
  const std::string rf64 = dir.CopyFixture("rf64/rf64-id3-kid3-inconsistent.wav");
  const Bytes8 rf64Before = ReadFileBytes(rf64);
  r = Run({"set-entry", rf64, "TITLE=x"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Tags save error: 8: "), std::string::npos) << r.Err;
  EXPECT_FALSE(FileExists(rf64 + ".qln_bak"));
  EXPECT_EQ(ReadFileBytes(rf64), rf64Before);

  ASSERT_EQ(Run({"set-entry", file, "TITLE=y"}).Exit, 0);
  EXPECT_FALSE(FileExists(backup));
  EXPECT_EQ(ShowJson(file)["record"]["Title"].Str(), "y");
}

TEST_F(CliTest, CoverFailsWithoutAPicture)
{
  const std::string file = dir.CopyFixture("mp3/id3v1-only.mp3");
  const TRun r = Run({"cover", file, dir.Path() + "/out.jpg"});
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err, "");
  EXPECT_FALSE(fs::exists(dir.Path() + "/out.jpg"));
}

// The bytes written are the picture's bytes as they stand in the file's APIC frame.
TEST_F(CliTest, CoverWritesTheFirstPictureBytes)
{
  for (const char *fixture : {"mp3/id3v24-utf8.mp3", "mp3/id3v23-utf16.mp3"}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture);
    const TJson j = ShowJson(file);
    ASSERT_FALSE(j["pictures"].Arr().empty());
    const std::string out = dir.Path() + "/out.bin";
    const TRun r = Run({"cover", file, out});
    ASSERT_EQ(r.Exit, 0) << r.Err;
    const Bytes8 bytes = ReadFileBytes(out);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(static_cast<double>(bytes.size()), j["record"]["CoverSize"].Num());
    EXPECT_EQ(SniffPictureMIMEType(bytes.data(), bytes.size()), j["record"]["CoverMime"].Str());
    const Bytes8 whole = ReadFileBytes(file);
    EXPECT_NE(std::search(whole.begin(), whole.end(), bytes.begin(), bytes.end()), whole.end());
  }
}

// "-" is standard output; a write that fails (a full device) is an error, not a success.
TEST_F(CliTest, CoverToStandardOutputAndAFailedWrite)
{
  const std::string file = dir.CopyFixture("mp3/id3v24-utf8.mp3");
  const std::string out = dir.Path() + "/out.bin";
  ASSERT_EQ(Run({"cover", file, out}).Exit, 0);
  const TRun toStdout = Run({"cover", file, "-"});
  EXPECT_EQ(toStdout.Exit, 0) << toStdout.Err;
  const Bytes8 expected = ReadFileBytes(out);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(toStdout.Out, std::string(expected.begin(), expected.end()));

  const TRun full = Run({"cover", file, "/dev/full"});
  EXPECT_EQ(full.Exit, 1);
  EXPECT_NE(full.Err.find("/dev/full"), std::string::npos) << full.Err;
}

// A cover given to set is the one cover later reads out; --no-cover takes it away again.
TEST_F(CliTest, SetCoverThenCoverRoundTrip)
{
  for (const char *fixture : {"mp3/notags.mp3", "mp3/id3v1-only.mp3", "mp3/id3v23-latin1.mp3"}) {
    SCOPED_TRACE(fixture);
    const std::string file = dir.CopyFixture(fixture);
    for (const char *image : {"images/cover.png", "images/cover.jpg"}) {
      const TRun set = Run({"set", file, "--cover", FixturePath(image)});
      ASSERT_EQ(set.Exit, 0) << set.Err;
      EXPECT_EQ(set.Err, "");
      const std::string out = dir.Path() + "/out.bin";
      ASSERT_EQ(Run({"cover", file, out}).Exit, 0);
      EXPECT_EQ(ReadFileBytes(out), ReadFileBytes(FixturePath(image))) << image;
      EXPECT_EQ(ShowJson(file)["pictures"].Arr().size(), 1u);
    }
    const TRun none = Run({"set", file, "--no-cover"});
    ASSERT_EQ(none.Exit, 0) << none.Err;
    EXPECT_EQ(none.Err, "");
    EXPECT_TRUE(ShowJson(file)["pictures"].Arr().empty());
  }
}

// A tree for the parallel reading of show -r: a copy of every fixture, more items than the
// workers may run ahead of the printer (copies of the small fixtures), a file that does not load
// as audio, a dangling link (a warning from the walk) and a file given twice. Copies, not links:
// the temporary folder's clean-up changes the permissions of what its entries point to.
class CliParallelShowTest : public CliTest {
protected:
  void SetUp() override
  {
    std::vector<fs::path> fixtures, small;
    for (const auto &e : fs::recursive_directory_iterator(CORVELLA_TEST_DATA))
      if (e.is_regular_file() && IsAudioName(e.path().filename().string())) fixtures.push_back(e.path());
    std::sort(fixtures.begin(), fixtures.end());
    ASSERT_GE(fixtures.size(), 25u);
    for (const fs::path &f : fixtures) {
      const fs::path rel = fs::relative(f, CORVELLA_TEST_DATA);
      fs::create_directories(fs::path(dir.Path()) / "data" / rel.parent_path());
      fs::copy_file(f, fs::path(dir.Path()) / "data" / rel);
      if (fs::file_size(f) <= 20000) small.push_back(f);
    }
    ASSERT_GE(small.size(), 10u);
    fs::create_directories(dir.Path() + "/many/sub");
    for (std::size_t i = 0; i < 320; ++i) {
      const fs::path &source = small[i % small.size()];
      char name[32];
      std::snprintf(name, sizeof name, "%s/%04zu", i % 3 ? "many" : "many/sub", i);
      const std::string copy = dir.Path() + "/" + name + source.extension().string();
      fs::copy_file(source, copy);
      if (i == 1) twice = copy;
    }
    dir.Write("many/broken.flac", Bytes().Str("fLaC").Fill(40, 0xFF));
    fs::create_symlink(dir.Path() + "/nowhere.mp3", dir.Path() + "/many/gone.mp3");
  }

  static bool IsAudioName(const std::string &Name)
  {
    for (const char *ext : {".mp3", ".flac", ".ogg", ".m4a", ".wma", ".wav"})
      if (Name.size() > std::strlen(ext) && Name.compare(Name.size() - std::strlen(ext), std::string::npos, ext) == 0)
        return true;
    return false;
  }

  std::vector<std::string> ShowArgs(bool Json, const std::string &Jobs) const
  {
    std::vector<std::string> args{"show"};
    if (Json) args.push_back("--json");
    for (const std::string &a : {std::string("-r"), std::string("-j"), Jobs, dir.Path(), dir.Path() + "/missing.mp3",
                                 twice})
      args.push_back(a);
    return args;
  }

  std::string twice;
};

// The same bytes whatever the number of workers, with standard error interleaved in the same
// places: each file's error line right behind that file's output, the walk's warnings first.
TEST_F(CliParallelShowTest, WorkersPrintTheBytesOfTheSerialRun)
{
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "text");
    const TRun serial = Run(ShowArgs(json, "1"), {io.Path() + "/serial", true});
    const std::string serialOut = ReadText(io.Path() + "/serial");
    EXPECT_EQ(serial.Exit, 1);
    ASSERT_EQ(serialOut.rfind("corvella-tags: warning: " + dir.Path() + "/many/gone.mp3: ", 0), 0u)
      << serialOut.substr(0, 200);
    const std::string missing = dir.Path() + "/missing.mp3";
    const std::string missingError = "corvella-tags: " + missing + ": File not found.\n";
    const std::string missingShown = json ? "{\"file\":\"" + missing + "\",\"ok\":false,\"error\":\"File not found.\""
                                          : missing + "\n  Error         File not found.\n\n";
    const auto at = serialOut.find(missingShown);
    ASSERT_NE(at, std::string::npos);
    const std::size_t blockEnd = json ? serialOut.find('\n', at) + 1 : at + missingShown.size();
    EXPECT_EQ(serialOut.compare(blockEnd, missingError.size(), missingError), 0) << serialOut.substr(at, 300);

    for (const char *jobs : {"4", "0", "3"}) {
      SCOPED_TRACE(jobs);
      const TRun parallel = Run(ShowArgs(json, jobs), {io.Path() + "/parallel", true});
      EXPECT_EQ(parallel.Exit, serial.Exit);
      EXPECT_TRUE(ReadText(io.Path() + "/parallel") == serialOut) << "output differs from -j 1";
    }
    // And apart: the same standard output and the same standard error.
    const TRun a = Run(ShowArgs(json, "1")), b = Run(ShowArgs(json, "4"));
    EXPECT_TRUE(a.Out == b.Out);
    EXPECT_EQ(a.Err, b.Err);
    EXPECT_GT(std::count(a.Out.begin(), a.Out.end(), '\n'), 320);
  }
}

// show loads each file once and takes the record from that load: it is the record the tag
// service gives for the same file.
TEST_F(CliTest, ShowRecordIsTheServiceRecord)
{
  std::vector<std::string> files;
  for (const auto &e : fs::recursive_directory_iterator(CORVELLA_TEST_DATA))
    if (e.is_regular_file() && fs::path(e.path()).parent_path().filename() != "images" &&
        fs::path(e.path()).parent_path() != fs::path(CORVELLA_TEST_DATA))
      files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  std::vector<std::string> args{"show", "--json", "-j", "2"};
  args.insert(args.end(), files.begin(), files.end());
  const TRun r = Run(args);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  const std::vector<TJson> lines = JsonLines(r.Out);
  ASSERT_EQ(lines.size(), files.size());
  const std::shared_ptr<ITagService> service = CreateTagService();
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    TAudioTag want;
    ASSERT_TRUE(service->LoadTag(files[i], want)) << service->GetLastError();
    const TJson &rec = lines[i]["record"];
    for (const TAudioTagTextField &f : AudioTagTextFields()) EXPECT_EQ(rec[f.Name].Str(), want.*f.Member) << f.Name;
    EXPECT_EQ(rec["FileType"].Str(), AudioFileTypeName(want.FileType));
    EXPECT_EQ(rec["CoverMime"].Str(), want.CoverMime);
    EXPECT_EQ(rec["CoverSize"].Num(), static_cast<double>(want.CoverData.size()));
    EXPECT_EQ(rec["DurationSec"].Num(), want.DurationSec);
  }
}

// Output that cannot be written is a failure, whatever the number of workers.
TEST_F(CliTest, ShowToAFullDeviceFails)
{
  const std::string file = dir.CopyFixture("mp3/id3v24-utf8.mp3");
  for (const char *jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    const TRun r = Run({"show", "-j", jobs, file, file, file}, {"/dev/full", false});
    EXPECT_EQ(r.Exit, 1);
    EXPECT_NE(r.Err.find("Writing to standard output failed."), std::string::npos) << r.Err;
  }
}

} // namespace
