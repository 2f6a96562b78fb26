#include "app/preset_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

QByteArray ReadAll(const QString &Path)
{
  QFile file(Path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString &Path, const QByteArray &Bytes)
{
  QFile file(Path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(Bytes);
}

QByteArray ActionJson(const char *Kind, const char *Target, const char *Search = "",
                      const char *Replace = "")
{
  return QByteArray("{\"kind\":\"") + Kind + "\",\"target\":\"" + Target +
         "\",\"source\":\"Title\",\"search\":\"" + Search + "\",\"replace\":\"" + Replace +
         "\"}";
}

// The built-in presets exactly as the file holds them.
QByteArray BuiltInFile()
{
  QByteArray clean;
  for (const char *field : {"Title", "Artist", "Album", "Year", "Track", "Genre", "Comment"}) {
    if (!clean.isEmpty()) clean += ',';
    clean += ActionJson("TrimSpaces", field) + ',' + ActionJson("CollapseSpaces", field);
  }
  return QByteArray("\xEF\xBB\xBF{\"lastPreset\":\"Quick Clean\",\"presets\":[") +
         "{\"name\":\"Quick Clean\",\"actions\":[" + clean + "]}," +
         "{\"name\":\"Title Case (Title\\/Artist\\/Album)\",\"actions\":[" +
         ActionJson("TitleCase", "Title") + ',' + ActionJson("TitleCase", "Artist") + ',' +
         ActionJson("TitleCase", "Album") + "]}," +
         "{\"name\":\"Scene Cleanup (_ . to space)\",\"actions\":[" +
         ActionJson("ReplaceText", "Title", "_", " ") + ',' +
         ActionJson("ReplaceText", "Title", ".", " ") + "]}]}";
}

class PresetStore : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Dir.isValid()); }
  QString File() const { return DefaultPresetsFileName(Dir.path()); }
  QStringList KeptAside() const
  {
    return QDir(Dir.path()).entryList({QStringLiteral("QuickActionPresets.json.broken-*")},
                                      QDir::Files);
  }
  QTemporaryDir Dir;
};

TEST_F(PresetStore, MissingFileGetsTheBuiltInsByteExactly)
{
  TActionPresetStore store(File());
  ASSERT_TRUE(store.Load()) << store.LastError().toStdString();
  EXPECT_EQ(ReadAll(File()), BuiltInFile());
  ASSERT_EQ(store.PresetCount(), 3);
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("Quick Clean"));
  EXPECT_EQ(store.PresetByIndex(0).Actions.size(), 14u);
  EXPECT_EQ(store.PresetByIndex(1).Name, QStringLiteral("Title Case (Title/Artist/Album)"));
  EXPECT_EQ(store.PresetByIndex(2).Actions.at(1).SearchText, QStringLiteral("."));
  EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList{QStringLiteral("QuickActionPresets.json")})
      << "no temporary file left behind";
}

TEST_F(PresetStore, CreatesTheSettingsFolder)
{
  TActionPresetStore store(DefaultPresetsFileName(Dir.filePath(QStringLiteral("a/b"))));
  ASSERT_TRUE(store.Load());
  EXPECT_TRUE(QFile::exists(store.FileName()));
  EXPECT_TRUE(DefaultPresetsFileName().endsWith(QStringLiteral("/Corvella/QuickActionPresets.json")));
}

TEST_F(PresetStore, EscapesAndRoundTrip)
{
  TActionPresetStore store(File());
  store.CreateDefaultPresets();
  auto preset = std::make_unique<TActionPreset>();
  preset->Name = QStringLiteral("\"q\" \\ a/b\t\n\b\f\r\x01\x7F \u00E9\u20AC\U0001F600");
  preset->Actions.push_back(TTagAction{takCopyField, tfComment, tfGenre, {}, {}});
  preset->Actions.push_back(
      TTagAction{takReplaceText, tfArtist, tfTitle, QStringLiteral("feat."), QStringLiteral("ft")});
  store.AddPreset(std::move(preset));
  store.SetLastPresetName(store.PresetByIndex(3).Name);
  ASSERT_TRUE(store.Save());

  const QByteArray bytes = ReadAll(File());
  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  for (qsizetype i = 3; i < bytes.size(); ++i) ASSERT_LT(static_cast<unsigned char>(bytes[i]), 0x80);
  const QByteArray name =
      "\"\\\"q\\\" \\\\ a\\/b\\t\\n\\b\\f\\r\\u0001\x7F \\u00E9\\u20AC\\uD83D\\uDE00\"";
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF{\"lastPreset\":" + name + ",\"presets\":[{"));
  EXPECT_TRUE(bytes.endsWith("{\"name\":" + name + ",\"actions\":[" +
                             "{\"kind\":\"CopyField\",\"target\":\"Comment\",\"source\":\"Genre\","
                             "\"search\":\"\",\"replace\":\"\"},"
                             "{\"kind\":\"ReplaceText\",\"target\":\"Artist\",\"source\":\"Title\","
                             "\"search\":\"feat.\",\"replace\":\"ft\"}]}]}"))
      << bytes.toStdString();

  TActionPresetStore again(File());
  ASSERT_TRUE(again.Load());
  ASSERT_EQ(again.PresetCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(again.PresetByIndex(i), store.PresetByIndex(i)) << i;
  EXPECT_EQ(again.LastPresetName(), store.LastPresetName());
  EXPECT_EQ(again.ToJson(), bytes);
}

TEST_F(PresetStore, LenientSpellingsAndMissingKeys)
{
  WriteAll(File(), "{\"presets\":[{\"name\":\"Mine\",\"actions\":[{\"kind\":\" titlecase \","
                   "\"target\":\"ARTIST\"},{\"kind\":\"nonsense\",\"target\":null,"
                   "\"search\":null}]},{\"name\":\"\"},{\"actions\":[]},{\"name\":\"Bare\"}]}");
  TActionPresetStore store(File());
  ASSERT_TRUE(store.Load());
  ASSERT_EQ(store.PresetCount(), 2) << "nameless presets are dropped";
  const TActionPreset &mine = store.PresetByIndex(0);
  ASSERT_EQ(mine.Actions.size(), 2u);
  EXPECT_EQ(mine.Actions[0], (TTagAction{takTitleCase, tfArtist, tfTitle, {}, {}}));
  EXPECT_EQ(mine.Actions[1], (TTagAction{takTrimSpaces, tfTitle, tfTitle, {}, {}}));
  EXPECT_TRUE(store.PresetByIndex(1).Actions.empty());
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("Mine"));
  EXPECT_TRUE(store.ToJson().contains(
      "{\"kind\":\"TitleCase\",\"target\":\"Artist\",\"source\":\"Title\",\"search\":\"\","
      "\"replace\":\"\"}"));
}

TEST_F(PresetStore, LastPresetNamingNoPresetBecomesTheFirstWithoutRewriting)
{
  const QByteArray bytes =
      "{\"lastPreset\":\"Gone\",\"presets\":[{\"name\":\"One\"},{\"name\":\"Two\"}]}";
  WriteAll(File(), bytes);
  TActionPresetStore store(File());
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("One"));
  EXPECT_EQ(ReadAll(File()), bytes);

  WriteAll(File(), "\xEF\xBB\xBF{\"lastPreset\":\"two\",\"presets\":[{\"name\":\"One\"},{\"name\":\"Two\"}]}");
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("two")) << "found without regard to case";
}

struct NoPresetCase {
  const char *name;
  QByteArray bytes;
};
class NoUsablePreset : public PresetStore, public ::testing::WithParamInterface<NoPresetCase> {};

TEST_P(NoUsablePreset, IsReplacedByTheBuiltIns)
{
  WriteAll(File(), GetParam().bytes);
  TActionPresetStore store(File());
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(ReadAll(File()), BuiltInFile());
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("Quick Clean"));
  EXPECT_TRUE(KeptAside().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, NoUsablePreset,
    ::testing::Values(NoPresetCase{"empty_object", "{}"},
                      NoPresetCase{"empty_array", "{\"presets\":[]}"},
                      NoPresetCase{"null_presets", "{\"lastPreset\":null,\"presets\":null}"},
                      NoPresetCase{"only_nameless", "{\"presets\":[{\"name\":\"\",\"actions\":[]}]}"}),
    [](const auto &param) { return std::string(param.param.name); });

// Content that cannot be presets is kept beside the file before the built-ins replace it.
class UnusableFile : public PresetStore, public ::testing::WithParamInterface<NoPresetCase> {};

TEST_P(UnusableFile, IsKeptAsideAndReported)
{
  const QByteArray bytes = GetParam().bytes;
  WriteAll(File(), bytes);
  TActionPresetStore store(File());
  EXPECT_FALSE(store.Load());
  EXPECT_EQ(store.PresetCount(), 3);
  EXPECT_EQ(store.LastPresetName(), QStringLiteral("Quick Clean"));
  EXPECT_EQ(ReadAll(File()), BuiltInFile());
  ASSERT_EQ(KeptAside().size(), 1);
  EXPECT_EQ(ReadAll(Dir.filePath(KeptAside().first())), bytes);
  EXPECT_EQ(store.KeptAsideFileName(), Dir.filePath(KeptAside().first()));
  EXPECT_TRUE(store.LastError().contains(store.KeptAsideFileName()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableFile,
    ::testing::Values(
        NoPresetCase{"not_json", "presets: Quick Clean"},
        NoPresetCase{"truncated", "{\"presets\":[{\"name\":\"Mine\""},
        NoPresetCase{"top_array", "[{\"name\":\"Mine\"}]"},
        NoPresetCase{"presets_object", "{\"presets\":{\"name\":\"Mine\"}}"},
        NoPresetCase{"preset_number", "{\"presets\":[1]}"},
        NoPresetCase{"preset_null", "{\"presets\":[{\"name\":\"Mine\"},null]}"},
        NoPresetCase{"actions_string", "{\"presets\":[{\"name\":\"Mine\",\"actions\":\"x\"}]}"},
        NoPresetCase{"action_null", "{\"presets\":[{\"name\":\"Mine\",\"actions\":[null]}]}"},
        NoPresetCase{"name_object", "{\"presets\":[{\"name\":{}}]}"},
        NoPresetCase{"kind_array", "{\"presets\":[{\"name\":\"M\",\"actions\":[{\"kind\":[]}]}]}"},
        NoPresetCase{"last_preset_array", "{\"lastPreset\":[],\"presets\":[{\"name\":\"M\"}]}"}),
    [](const auto &param) { return std::string(param.param.name); });

TEST_F(PresetStore, WriteFailureIsReported)
{
  // Tests may run as root, where permissions do not stop a write: a folder path that is a file does.
  const QString blocker = Dir.filePath(QStringLiteral("blocker"));
  WriteAll(blocker, "x");
  TActionPresetStore store(DefaultPresetsFileName(blocker));
  EXPECT_FALSE(store.Load());
  EXPECT_EQ(store.PresetCount(), 3) << "the built-ins still serve this run";
  EXPECT_TRUE(store.LastError().contains(store.FileName())) << store.LastError().toStdString();
  EXPECT_FALSE(store.Save());
  EXPECT_FALSE(store.LastError().isEmpty());
  EXPECT_EQ(ReadAll(blocker), "x");
}

TEST_F(PresetStore, UnreadableFileIsLeftAlone)
{
  ASSERT_TRUE(QDir(Dir.path()).mkdir(QStringLiteral("QuickActionPresets.json")));
  TActionPresetStore store(File());
  EXPECT_FALSE(store.Load());
  EXPECT_FALSE(store.LastError().isEmpty());
  EXPECT_EQ(store.PresetCount(), 3);
  EXPECT_TRUE(QFileInfo(File()).isDir());
  EXPECT_TRUE(KeptAside().isEmpty());
}

// A file whose reading breaks off is not taken for broken JSON: nothing is moved aside.
// Reading /proc/self/mem from its start fails with an input/output error.
TEST_F(PresetStore, ReadErrorIsReportedAndNothingIsMovedAside)
{
  const QString failing = QStringLiteral("/proc/self/mem");
  QFile probe(failing);
  if (!probe.open(QIODevice::ReadOnly) || (probe.read(16), probe.error() == QFileDevice::NoError))
    GTEST_SKIP() << "no file here whose reading fails";
  TActionPresetStore store(failing);
  EXPECT_FALSE(store.Load());
  EXPECT_TRUE(store.LastError().startsWith(QStringLiteral("Cannot read the presets file: ")))
      << store.LastError().toStdString();
  EXPECT_TRUE(store.KeptAsideFileName().isEmpty());
  EXPECT_EQ(store.PresetCount(), 3);
}

TEST_F(PresetStore, OversizedFileIsLeftAlone)
{
  const QByteArray bytes(4 * 1024 * 1024 + 1, ' ');
  WriteAll(File(), bytes);
  TActionPresetStore store(File());
  EXPECT_FALSE(store.Load());
  EXPECT_EQ(store.PresetCount(), 3);
  EXPECT_EQ(ReadAll(File()), bytes);
}

TEST_F(PresetStore, ListOperations)
{
  TActionPresetStore store(File());
  store.CreateDefaultPresets();
  EXPECT_EQ(store.FindByName(QStringLiteral("quick CLEAN")), &store.PresetByIndex(0));
  EXPECT_EQ(store.FindByName(QStringLiteral("Quick Clean ")), nullptr);
  store.AddPreset(nullptr);
  EXPECT_EQ(store.PresetCount(), 3);
  store.DeletePresetByIndex(3);
  store.DeletePresetByIndex(-1);
  EXPECT_EQ(store.PresetCount(), 3);
  store.DeletePresetByIndex(0);
  ASSERT_EQ(store.PresetCount(), 2);
  EXPECT_EQ(store.PresetByIndex(0).Name, QStringLiteral("Title Case (Title/Artist/Album)"));
  EXPECT_FALSE(QFile::exists(File())) << "list changes do not save by themselves";
}

}  // namespace
