// The container's copy between generic entries and the WAV tag (INFO items, bext and cart
// fields): what loads, which ids a save writes, and how the INFO list and the ID3 chunk of one
// file are kept in step and written in one change.

#include <gtest/gtest.h>

#include <functional>

#include "tags/riff/chunk_walker.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/container_bytes.h"
#include "tests/support/tag_entries.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

Bytes Audio() { return Bytes().Fill(16, 0x41); }
Bytes Fmt() { return RiffChunk("fmt ", WaveFmt()); }
Bytes Data() { return RiffChunk("data", Audio()); }
Bytes Item(std::string_view ID, std::string_view Value) { return RiffChunk(ID, Bytes().Str(Value).U8(0)); }
Bytes Info(const Bytes &Items) { return RiffChunk("LIST", Bytes().Str("INFO").Append(Items)); }
Bytes Id3Chunk(const Bytes &Frames) { return RiffChunk("id3 ", ID3v2Tag(4, 0, Frames)); }

// A bext body: Description, then zeros up to the time reference and the version.
Bytes BextBody(std::string_view Description, std::uint64_t TimeReference, std::string_view History)
{
  return Bytes().Padded(Description, 256).Zeros(32 + 32 + 10 + 8).U64LE(TimeReference).U16LE(1).Zeros(64 + 10 + 180).Str(History);
}

struct TFileChunk {
  std::string ID;
  Bytes8 Body;
};

// The chunks of a WAVE file as the strict check reads them; fails the test when it does not.
std::vector<TFileChunk> ChunksOf(const std::string &Path)
{
  TFileStream *raw = nullptr;
  auto file = TFileStream::Open(Path, TFileMode::fmOpenRead);
  raw = file.get();
  std::vector<TFileChunk> out;
  if (!raw) {
    ADD_FAILURE() << "cannot open " << Path;
    return out;
  }
  TChunkForm form;
  EXPECT_EQ(ReadChunkFormHeader(*raw, 0, form), cfcOk);
  EXPECT_EQ(CheckChunkForm(*raw, form), cfcOk) << "the form's sizes do not add up";
  for (const TChunk &c : form.Chunks) {
    TBytes body;
    raw->ReadAt(c.DataOffset, c.DataSize(), body);
    out.push_back({c.ID, body});
  }
  return out;
}

// The INFO items of the file: id and text (without the terminator).
std::vector<std::pair<std::string, std::string>> InfoItems(const std::string &Path)
{
  TWAVTag wav;
  EXPECT_EQ(wav.LoadFromFile(Path), wavOk);
  std::vector<std::pair<std::string, std::string>> items;
  for (const auto &f : wav.Frames) items.emplace_back(f->Name, f->GetText());
  return items;
}

std::string InfoText(const std::string &Path, const std::string &ID)
{
  for (const auto &[id, text] : InfoItems(Path))
    if (id == ID) return text;
  return "<none>";
}

std::string Id3Text(const std::string &Path, const std::string &Frame)
{
  TID3v2Tag id3;
  if (id3.LoadFromFile(Path) != id3v2Ok) return "<no tag>";
  return id3.FrameExists(Frame) < 0 ? "<none>" : id3.GetText(Frame);
}

std::vector<std::string> IdsOf(const std::vector<TFileChunk> &Chunks)
{
  std::vector<std::string> ids;
  for (const auto &c : Chunks) ids.push_back(c.ID);
  return ids;
}

} // namespace

TEST(WAVNames, LoadGivesTheNamesOfEveryIdAndTheChunkFields)
{
  TempDir dir;
  const Bytes info = Info(Item("IART", "One").Append(Item("IART", "Two")).Append(Item("IALB", "Old album"))
                            .Append(Item("IPRD", "Album")).Append(Item("IPRT", "3/12")).Append(Item("IMUS", "Composer"))
                            .Append(Item("IBSU", "https://example.com")).Append(Item("ICRD", "2021-05-04"))
                            .Append(Item("TIPL", "producer\r\nAnn\r\nmixer\r\nBob\r\n")).Append(Item("ZZZZ", "unknown")));
  const std::string path =
    dir.Write("a.wav", Wave(Fmt().Append(RiffChunk("bext", BextBody("Desc", 0x1'0000'0000ull * 5, "A=PCM\r\n"))).Append(info).Append(Data())));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(EntryValues(tags, "ARTIST"), (std::vector<std::string>{"One", "Two"}));
  // IALB and IPRD both load as the album; the later one wins.
  EXPECT_EQ(EntryValues(tags, "ALBUM"), (std::vector<std::string>{"Old album", "Album"}));
  EXPECT_EQ(EntryValues(tags, "TRACKNUMBER"), std::vector<std::string>{"3"});
  EXPECT_EQ(EntryValues(tags, "TOTALTRACKS"), std::vector<std::string>{"12"});
  EXPECT_EQ(EntryValues(tags, "COMPOSER"), std::vector<std::string>{"Composer"});
  EXPECT_EQ(EntryValues(tags, "URL"), std::vector<std::string>{"https://example.com"});
  EXPECT_EQ(EntryValues(tags, "RECORDINGDATE"), std::vector<std::string>{"2021-05-04"});
  TStringList people;
  ASSERT_NE(tags.Tag("TIPL"), nullptr);
  tags.Tag("TIPL")->GetList(people);
  EXPECT_EQ(people, (TStringList{"producer=Ann", "mixer=Bob"}));
  EXPECT_EQ(tags.Exists("ZZZZ"), -1);
  EXPECT_EQ(tags.GetText("BEXT Description"), "Desc");
  EXPECT_EQ(tags.GetText("BEXT TimeReference"), "21474836480");
  EXPECT_EQ(tags.GetText("BEXT CodingHistory"), "A=PCM\r\n");
  EXPECT_EQ(tags.GetText("BEXT Version"), "1");
  EXPECT_EQ(tags.LoadedTagTypes(), std::vector<TTagType>{ttWAV});
}

// Which INFO id a save writes an entry to, for a file that holds the ids on the left.
TEST(WAVNames, SaveWritesEachNameToOneId)
{
  const struct {
    const char *name;
    Bytes items;                   // the file's INFO items
    std::vector<std::pair<std::string, std::string>> set;  // entries set (name, value)
    std::vector<std::pair<std::string, std::string>> want; // INFO items after the save
  } cases[] = {
    {"album_to_IPRD_not_IALB", Item("IALB", "Old").Append(Item("INAM", "T")), {{"ALBUM", "New"}},
     {{"INAM", "T"}, {"IPRD", "New"}}},
    {"two_artists_in_one_item", Item("IART", "A").Append(Item("IART", "B")), {{"ARTIST", "C"}, {"ARTIST", "D"}},
     {{"IART", "C, D"}}},
    {"track_and_total_in_ITRK", Item("INAM", "T"), {{"TRACKNUMBER", "4"}, {"TOTALTRACKS", "12"}},
     {{"INAM", "T"}, {"ITRK", "4/12"}}},
    {"track_kept_in_IPRT", Item("IPRT", "3/12"), {{"TRACKNUMBER", "5"}}, {{"IPRT", "5/12"}}},
    {"composer_kept_in_IMUS", Item("IMUS", "Old"), {{"COMPOSER", "New"}}, {{"IMUS", "New"}}},
    {"year_to_ICRD", Item("INAM", "T"), {{"YEAR", "2024"}}, {{"INAM", "T"}, {"ICRD", "2024"}}},
    {"year_kept_in_IYER", Item("IYER", "2020").Append(Item("ICRD", "2020-01-01")), {{"YEAR", "2024"}},
     {{"IYER", "2024"}, {"ICRD", "2020-01-01"}}},
    {"date_is_no_INFO_id", Item("INAM", "T"), {{"DATE", "2024-02-03"}}, {{"INAM", "T"}}},
    {"list_of_people", Item("TIPL", "a\r\nb\r\n").Append(Item("TIPL", "c\r\nd\r\n")), {{"TIPL", "x\r\ny\r\n"}},
     {{"TIPL", "x\r\ny\r\nc\r\nd\r\n"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.Write("a.wav", Wave(Fmt().Append(Info(c.items)).Append(Data())));
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    // One value replaces the first entry's (as the editor does); several take the place of all.
    const auto count = [&](const std::string &Name) {
      return std::count_if(c.set.begin(), c.set.end(), [&](const auto &S) { return S.first == Name; });
    };
    for (const auto &[name, value] : c.set)
      while (count(name) > 1 && tags.Exists(name) >= 0) tags.Delete(name);
    for (const auto &[name, value] : c.set)
      if (count(name) > 1) tags.Add(name)->Value = value;
      else tags.SetText(name, value);
    ASSERT_EQ(tags.SaveToFile(path, ttWAV), tagsOk);
    EXPECT_EQ(InfoItems(path), c.want);
  }
}

TEST(WAVNames, BroadcastAndCartFieldsRoundTrip)
{
  TempDir dir;
  const std::string path =
    dir.Write("a.wav", Wave(Fmt().Append(RiffChunk("bext", BextBody("Desc", 0xFFFF'FFFF'0000ull, "A=PCM\r\n"))).Append(Data())));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("BEXT Description", "New description");
  tags.SetText("CART Title", "Cart title");
  tags.SetText("CART PostTimer3", "MRK 48000");
  tags.SetText("CART LevelReference", "not a number");
  ASSERT_EQ(tags.SaveToFile(path, ttWAV), tagsOk);

  TWAVTag wav;
  ASSERT_EQ(wav.LoadFromFile(path), wavOk);
  EXPECT_EQ(wav.BEXT.GetDescription(), "New description");
  EXPECT_EQ(wav.BEXT.GetTimeReference(), 0xFFFF'FFFF'0000ull);  // past the signed 32-bit range, unchanged
  EXPECT_EQ(wav.BEXT.GetCodingHistory(), "A=PCM\r\n");
  ASSERT_TRUE(wav.CART.Loaded);
  EXPECT_EQ(wav.CART.GetTitle(), "Cart title");
  TCART_TIMER timer;
  ASSERT_TRUE(wav.CART.GetPostTimer(3, timer));
  EXPECT_EQ(timer.Usage, "MRK");
  EXPECT_EQ(timer.Value, 48000u);
  EXPECT_EQ(wav.CART.GetLevelReference(), 0u);

  // Deleting an entry clears its field; the chunk stays for the fields left.
  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  ASSERT_TRUE(again.Delete("BEXT Description"));
  ASSERT_TRUE(again.Delete("CART PostTimer3"));
  ASSERT_EQ(again.SaveToFile(path, ttWAV), tagsOk);
  ASSERT_EQ(wav.LoadFromFile(path), wavOk);
  EXPECT_EQ(wav.BEXT.GetDescription(), "");
  EXPECT_EQ(wav.BEXT.GetTimeReference(), 0xFFFF'FFFF'0000ull);
  EXPECT_FALSE(wav.CART.GetPostTimer(3, timer) && !timer.Usage.empty());
}

TEST(WAVNames, DeletingAnEntryTakesItsItemsOut)
{
  TempDir dir;
  const std::string path = dir.Write(
    "a.wav", Wave(Fmt().Append(Info(Item("IALB", "A1").Append(Item("IPRD", "A2")).Append(Item("ITRK", "3/12")).Append(Item("INAM", "T"))))
                    .Append(Data())));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  while (tags.Exists("ALBUM") >= 0) tags.Delete("ALBUM");
  tags.Delete("TOTALTRACKS");  // the number stays, written alone
  ASSERT_EQ(tags.SaveToFile(path, ttWAV), tagsOk);
  EXPECT_EQ(InfoItems(path), (std::vector<std::pair<std::string, std::string>>{{"ITRK", "3"}, {"INAM", "T"}}));
}

// A file with an INFO list and an ID3 chunk: a changed field goes into both, in one change that
// leaves every other chunk as it was; an unchanged save writes nothing.
TEST(WAVNames, InfoAndID3ChunkAreKeptInStep)
{
  TempDir dir;
  const Bytes id3 = Id3Chunk(ID3v24TextFrame("TIT2", "Old").Append(ID3v24TextFrame("TPE1", "Artist")));
  const Bytes junk = RiffChunk("junk", Bytes().Fill(5, 0x33));
  const std::string path =
    dir.Write("a.wav", Wave(Fmt().Append(Info(Item("INAM", "Old").Append(Item("IART", "Artist")))).Append(Data()).Append(junk).Append(id3)));
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(EntryValues(tags, "TITLE"), std::vector<std::string>{"Old"});  // one value per field
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), before);

  tags.SetText("TITLE", "A much longer new title");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(InfoText(path, "INAM"), "A much longer new title");
  EXPECT_EQ(Id3Text(path, "TIT2"), "A much longer new title");
  EXPECT_EQ(InfoText(path, "IART"), "Artist");
  const auto chunks = ChunksOf(path);
  EXPECT_EQ(IdsOf(chunks), (std::vector<std::string>{"fmt ", "LIST", "data", "junk", "id3 "}));
  EXPECT_EQ(chunks[2].Body, Audio().v);
  EXPECT_EQ(chunks[3].Body, Bytes().Fill(5, 0x33).v);

  // Removing every tag takes both out and leaves the rest.
  ASSERT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(IdsOf(ChunksOf(path)), (std::vector<std::string>{"fmt ", "data", "junk"}));
}

// What an automatic save of an INFO-only or untagged WAV writes: the INFO list alone while it
// holds every value, an ID3 chunk beside it for a cover or a field it has no id for.
TEST(WAVNames, AnID3ChunkJoinsWhenTheInfoListCannotHoldTheValues)
{
  const Bytes8 png = Bytes().U8(0x89).Str("PNG\r\n\x1a\n").Fill(40, 0x22).v;
  const struct {
    const char *name;
    bool tagged;
    std::function<void(TTags &)> edit;
    bool id3;
  } cases[] = {
    {"title_only", true, [](TTags &T) { T.SetText("TITLE", "New"); }, false},
    {"disc_number", true, [](TTags &T) { T.SetText("DISCNUMBER", "1"); }, true},
    {"cover", true, [&](TTags &T) {
       TMemoryStream s{TBytes(png)};
       T.AddCoverArt("Cover", s, "image/png");
     }, true},
    {"untagged_file", false, [](TTags &T) { T.SetText("TITLE", "New"); }, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Bytes info = c.tagged ? Info(Item("INAM", "Old").Append(Item("IART", "Artist"))) : Bytes();
    const std::string path = dir.Write("a.wav", Wave(Fmt().Append(info).Append(Data())));
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    c.edit(tags);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    EXPECT_EQ(InfoText(path, "INAM"), c.name == std::string("disc_number") || c.name == std::string("cover") ? "Old" : "New");
    TTags back;
    ASSERT_EQ(back.LoadFromFile(path), tagsOk);
    const auto types = back.LoadedTagTypes();
    EXPECT_EQ(std::find(types.begin(), types.end(), ttID3v2) != types.end(), c.id3);
    if (c.id3) {
      // The new ID3 chunk holds every value, those of the INFO list too.
      EXPECT_EQ(Id3Text(path, "TIT2"), InfoText(path, "INAM"));
      EXPECT_EQ(back.GetText("DISCNUMBER"), c.name == std::string("disc_number") ? "1" : "");
      EXPECT_EQ(back.CoverArtCount(), c.name == std::string("cover") ? 1 : 0);
    }
  }
}

// The INFO list and a new ID3 chunk change the form's size together: every write of that one
// change failing in turn leaves the file as it was.
TEST(WAVNames, EveryFailingWriteOfAJoinedSaveLeavesTheFile)
{
  TempDir dir;
  const Bytes8 original = Wave(Fmt().Append(Info(Item("INAM", "Old"))).Append(Data())).v;
  const std::string path = dir.Path() + "/a.wav";
  TTags tags;
  TWriteFailureSteps steps;
  steps.Prepare = [&] {
    WriteFileBytes(path, original);
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    tags.SetText("TITLE", "A new and longer title");
    tags.SetText("ALBUMARTIST", "Only the ID3 chunk holds this");
  };
  steps.Save = [&] { return tags.SaveToFile(path, ttAutomatic) == tagsOk; };
  steps.CheckIntact = [&](int N) {
    EXPECT_EQ(ReadFileBytes(path), original) << "after failure " << N;
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"a.wav"}) << "after failure " << N;
  };
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  EXPECT_GT(run.Failures, 0);
  ASSERT_TRUE(run.Succeeded);
  EXPECT_EQ(InfoText(path, "INAM"), "A new and longer title");
  EXPECT_EQ(Id3Text(path, "TIT2"), "A new and longer title");
  EXPECT_EQ(Id3Text(path, "TPE2"), "Only the ID3 chunk holds this");
  ChunksOf(path);
}
