// The container's copy between generic entries and APEv2 items: what loads, what a save writes,
// and what it leaves byte for byte, alone and beside ID3v2, Lyrics3 and ID3v1 in an MP3.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/container_bytes.h"
#include "tests/support/tag_entries.h"
#include "tests/support/test_support.h"

namespace {

using Item = TAPEv2ItemBytes;

Bytes8 Text(std::string_view S) { return Bytes8(S.begin(), S.end()); }

const Bytes8 kAudio = MpegFrames(4);
const Bytes8 kJpeg = Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE0).Fill(40, 0x11).v;
const Bytes8 kPng = Bytes().U8(0x89).Str("PNG\r\n\x1a\n").Fill(40, 0x22).v;

// The items of the APEv2 tag of the file, as stored.
std::vector<TAPEv2Frame> ItemsOf(const std::string &Path)
{
  TAPEv2Tag tag;
  EXPECT_EQ(tag.LoadFromFile(Path), apeOk);
  return tag.Frames;
}

const TAPEv2Frame *Find(const std::vector<TAPEv2Frame> &Items, const std::string &Key)
{
  for (const TAPEv2Frame &f : Items)
    if (f.Name == Key) return &f;
  return nullptr;
}

const std::vector<Item> kItems = {
  {"Title", Text("Song")},
  {"Artist", Text(std::string("One\0Two", 7))},
  {"Track", Text("3/12")},
  {"Disc", Text("1/2")},
  {"TIPL", Text("producer\r\nAnn\r\nmixer\r\nBob\r\n")},
  {"Blob", Bytes().Str("x").U8(0).Str("data").Append(kJpeg).v, 2},
  {"Related", Text("https://example.com/a"), 4},
  {"Cover Art (Back)", Bytes().Str("back.png").U8(0).Append(kPng).v, 2},
  {"Cover Art (Front)", Bytes().Str("front.jpg").U8(0).Append(kJpeg).v, 2},
};

} // namespace

TEST(APEv2Names, LoadGivesOneEntryPerValueAndThePicturesUnderTheirKeys)
{
  TempDir dir;
  const std::string path = dir.Write("a.wv", Bytes().Append(kAudio).Append(APEv2Tag(kItems)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(EntryValues(tags, "Title"), std::vector<std::string>{"Song"});
  EXPECT_EQ(EntryValues(tags, "Artist"), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(EntryValues(tags, "TRACKNUMBER"), std::vector<std::string>{"3"});
  EXPECT_EQ(EntryValues(tags, "TOTALTRACKS"), std::vector<std::string>{"12"});
  EXPECT_EQ(EntryValues(tags, "Disc"), std::vector<std::string>{"1/2"});  // discs are not split
  TStringList people;
  ASSERT_NE(tags.Tag("TIPL"), nullptr);
  tags.Tag("TIPL")->GetList(people);
  EXPECT_EQ(people, (TStringList{"producer=Ann", "mixer=Bob"}));
  EXPECT_EQ(tags.Exists("Blob"), -1);
  EXPECT_EQ(tags.Exists("Related"), -1);
  EXPECT_EQ(tags.GetText("TITLE"), "Song");

  ASSERT_EQ(tags.CoverArtCount(), 2);
  const TCoverArt &back = *tags.CoverArts[0];
  EXPECT_EQ(back.Name, "Cover Art (Back)");
  EXPECT_EQ(back.Description, "back.png");
  EXPECT_EQ(back.MIMEType, "image/png");
  EXPECT_EQ(back.CoverType, 4);
  EXPECT_EQ(back.Stream.Data(), kPng);
  EXPECT_EQ(tags.CoverArts[1]->CoverType, 3);
  EXPECT_EQ(tags.CoverArts[1]->PictureFormat, tpfJPEG);
}

TEST(APEv2Names, ASaveRewritesOnlyTheNamesThatChanged)
{
  TempDir dir;
  const std::string path = dir.Write("a.wv", Bytes().Append(kAudio).Append(APEv2Tag(kItems)));
  const Bytes8 original = ReadFileBytes(path);
  {
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    EXPECT_EQ(ReadFileBytes(path), original);  // nothing changed, nothing written
  }
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "New");
  tags.Add("ALBUMARTIST")->Value = "AA";
  tags.Add("ALBUMARTIST")->Value = "BB";
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  const std::vector<TAPEv2Frame> items = ItemsOf(path);
  ASSERT_EQ(items.size(), kItems.size() + 1);
  for (std::size_t i = 0; i < kItems.size(); ++i) {
    SCOPED_TRACE(kItems[i].Key);
    EXPECT_EQ(items[i].Name, kItems[i].Key);
    EXPECT_EQ(items[i].Flags, kItems[i].Flags);
    EXPECT_EQ(items[i].Value, i == 0 ? Text("New") : kItems[i].Value);
  }
  // A new item is named in upper case (the container's default) and holds both values.
  EXPECT_EQ(items.back().Name, "ALBUMARTIST");
  EXPECT_EQ(items.back().Value, Text(std::string("AA\0BB", 5)));
  const Bytes8 now = ReadFileBytes(path);
  EXPECT_EQ(Bytes8(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(kAudio.size())), kAudio);
}

TEST(APEv2Names, NumbersAndTheirTotalsShareOneItem)
{
  const struct {
    const char *name;
    std::vector<Item> items;
    std::vector<std::pair<const char *, const char *>> set;  // entries set (empty text: cleared)
    std::vector<std::pair<const char *, const char *>> want;  // items afterwards (null: none)
  } cases[] = {
    {"track_edited", {{"Track", Text("3/12")}}, {{"TRACKNUMBER", "4"}}, {{"Track", "4/12"}}},
    {"new_track_and_disc", {{"Title", Text("t")}}, {{"TRACKNUMBER", "4"}, {"TOTALTRACKS", "9"}, {"DISCNUMBER", "1"}, {"TOTALDISCS", "2"}},
     {{"TRACK", "4/9"}, {"DISCNUMBER", "1/2"}, {"TOTALTRACKS", nullptr}, {"TOTALDISCS", nullptr}}},
    // A disc read through its "Disc" item gets its total there, not lost in an item of its own.
    {"disc_item_keeps_its_total", {{"Disc", Text("1/2")}}, {{"Disc", "2"}, {"TOTALDISCS", "3"}}, {{"Disc", "2/3"}, {"DISCNUMBER", nullptr}}},
    {"track_item_keeps_its_total", {{"Track", Text("3")}}, {{"Track", "5"}, {"TOTALTRACKS", "7"}}, {{"Track", "5/7"}}},
    {"total_without_number", {{"Title", Text("t")}}, {{"TOTALTRACKS", "12"}}, {{"TRACK", nullptr}, {"TOTALTRACKS", nullptr}}},
    {"total_dropped", {{"Track", Text("3/12")}}, {{"TOTALTRACKS", ""}}, {{"Track", "3"}}},
    {"number_dropped", {{"Track", Text("3/12")}, {"Title", Text("t")}}, {{"TRACKNUMBER", ""}}, {{"Track", nullptr}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir.Write("a.ape", Bytes().Append(kAudio).Append(APEv2Tag(c.items)));
    TTags tags;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    for (const auto &[name, value] : c.set) tags.SetText(name, value);
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    const std::vector<TAPEv2Frame> items = ItemsOf(path);
    for (const auto &[key, value] : c.want) {
      SCOPED_TRACE(key);
      const TAPEv2Frame *f = Find(items, key);
      if (!value) {
        EXPECT_EQ(f, nullptr);
        continue;
      }
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(f->Value, Text(value));
    }
  }
}

TEST(APEv2Names, DeletingAnEntryTakesItsValueOnly)
{
  TempDir dir;
  const std::string path = dir.Write("a.wv", Bytes().Append(kAudio).Append(APEv2Tag(kItems)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  for (int i = tags.Count() - 1; i >= 0; --i)
    if (tags.Tags[static_cast<std::size_t>(i)]->Name == "Artist" && tags.Tags[static_cast<std::size_t>(i)]->Value == "One") tags.Delete(i);
  EXPECT_EQ(tags.APEv2Tag.Frames[1].Values(), std::vector<std::string>{"Two"});
  tags.Delete("Title");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  const std::vector<TAPEv2Frame> items = ItemsOf(path);
  EXPECT_EQ(Find(items, "Title"), nullptr);
  ASSERT_NE(Find(items, "Artist"), nullptr);
  EXPECT_EQ(Find(items, "Artist")->Value, Text("Two"));
}

TEST(APEv2Names, PicturesKeepTheirKeysAndNewOnesGetUnusedOnes)
{
  TempDir dir;
  const std::string path = dir.Write("a.wv", Bytes().Append(kAudio).Append(APEv2Tag(kItems)));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  // The front cover replaced in its place by a PNG; two more pictures added.
  TCoverArt &front = *tags.CoverArts[1];
  front.Stream.Data() = kPng;
  TMemoryStream jpeg{Bytes8(kJpeg)};
  tags.AddCoverArt("Cover art 3", jpeg, "image/jpeg")->CoverType = 3;
  tags.AddCoverArt("Cover art 4", jpeg, "image/jpeg")->CoverType = 8;
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  std::vector<std::pair<std::string, TAPEv2Picture>> pictures;
  TAPEv2Tag back;
  ASSERT_EQ(back.LoadFromFile(path), apeOk);
  for (const TAPEv2Frame &f : back.Frames) {
    TAPEv2Picture p;
    if (f.GetCoverArt(p)) pictures.emplace_back(f.Name, p);
  }
  ASSERT_EQ(pictures.size(), 4u);
  EXPECT_EQ(pictures[0].first, "Cover Art (Back)");
  EXPECT_EQ(pictures[0].second.Description, "back.png");
  EXPECT_EQ(pictures[1].first, "Cover Art (Front)");
  // The file name the description gives follows the new bytes, so readers that go by it agree.
  EXPECT_EQ(pictures[1].second.Description, "front.png");
  EXPECT_EQ(pictures[1].second.Data, kPng);
  EXPECT_EQ(pictures[2].first, "Cover Art (Front) 2");
  EXPECT_EQ(pictures[3].first, "Cover Art (Artist)");
  // The binary item that is no picture is still there.
  ASSERT_NE(Find(back.Frames, "Blob"), nullptr);
}

TEST(APEv2Names, AReadOnlyItemRefusesTheSaveThatWouldChangeIt)
{
  TempDir dir;
  const std::string path = dir.Write("a.wv", Bytes().Append(kAudio).Append(APEv2Tag({{"Title", Text("Fixed"), 1}, {"Album", Text("x")}})));
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  tags.SetText("TITLE", "Other");
  EXPECT_EQ(tags.SaveToFile(path, ttAutomatic), tagsItemReadOnly);
  EXPECT_EQ(ReadFileBytes(path), before);
  // Another field alone saves.
  TTags again;
  ASSERT_EQ(again.LoadFromFile(path), tagsOk);
  again.SetText("ALBUM", "y");
  EXPECT_EQ(again.SaveToFile(path, ttAutomatic), tagsOk);
}

// An MP3 with ID3v2, APEv2, Lyrics3 and ID3v1: the title goes into all three tags, the Lyrics3
// block stays byte for byte, and with room in the ID3v2 padding the whole save is made in place.
TEST(APEv2Names, AnMP3KeepsItsThreeTagsInStep)
{
  const Bytes id3v2 = ID3v2Tag(4, 0, Bytes().Append(ID3v24TextFrame("TIT2", "Old")).Zeros(512));
  const Bytes lyrics = Lyrics3Block("la la");
  const Bytes file = Bytes().Append(id3v2).Append(kAudio).Append(APEv2Tag({{"Title", Text("Old")}, {"Blob", Text("b"), 2}}))
                       .Append(lyrics).Append(ID3v1Record("Old", "a", "b", "2000", "c", 1, 12));
  TempDir dir;
  const std::string path = dir.Write("a.mp3", file);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const ino_t inode = st.st_ino;

  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.LoadedTagTypes(), (std::vector<TTagType>{ttAPEv2, ttID3v1, ttID3v2}));
  tags.SetText("TITLE", "A much longer new title than before");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_ino, inode);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  const std::string title = "A much longer new title than before";
  EXPECT_EQ(back.GetText("TITLE"), title);  // from ID3v2, the first in load priority
  EXPECT_EQ(back.APEv2Tag.GetText("Title"), title);
  EXPECT_EQ(back.ID3v1Tag.Title, title.substr(0, 30));
  const Bytes8 now = ReadFileBytes(path);
  const std::size_t tail = lyrics.size() + 128;
  EXPECT_EQ(Bytes8(now.end() - static_cast<std::ptrdiff_t>(tail), now.end() - 128), lyrics.v);
  EXPECT_EQ(Bytes8(now.begin() + static_cast<std::ptrdiff_t>(id3v2.size()), now.begin() + static_cast<std::ptrdiff_t>(id3v2.size() + kAudio.size())), kAudio);
  ASSERT_NE(Find(back.APEv2Tag.Frames, "Blob"), nullptr);

  // Removal of the APEv2 tag alone leaves the others; of all tags leaves the audio.
  ASSERT_EQ(RemoveTagsFromFile(path, ttAPEv2), tagsOk);
  TAPEv2Tag none;
  EXPECT_EQ(none.LoadFromFile(path), apeNoTag);
  const Bytes8 stripped = ReadFileBytes(path);
  EXPECT_EQ(Bytes8(stripped.end() - static_cast<std::ptrdiff_t>(tail), stripped.end() - 128), lyrics.v);
  ASSERT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), kAudio);
}

// Monkey's Audio: no tool of ours writes it, so the file is built here. A version 1 tag loads in
// the system code page and is replaced by a version 2 tag with a header; an untagged file gets
// an APEv2 tag because of what it holds, whatever its name.
TEST(APEv2Names, MonkeysAudioFilesAreTaggedWithAPEv2)
{
  const Bytes audio = MonkeyOld(3970, 2000, 0, 3, 1000).Fill(300, 0x42);
  TempDir dir;
  const std::string tagged = dir.Write("a.ape", Bytes().Append(audio).Append(APEv2Tag({{"Artist", Bytes().Str("Bj").U8(0xF6).Str("rk").v}}, 1000)));
  const std::string untagged = dir.Write("b.bin", audio);
  for (const std::string &path : {tagged, untagged}) {
    SCOPED_TRACE(path);
    TTags tags;
    tags.ParseMonkeyAudioAttributes = true;
    ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
    if (path == tagged) {
      EXPECT_EQ(tags.GetText("ARTIST"), "Björk");
      EXPECT_DOUBLE_EQ(tags.SourceAudioAttributes.PlayTime(), (2.0 * 294912 + 1000) / 44100);
    }
    tags.SetText("TITLE", "Title");
    ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
    const Bytes8 now = ReadFileBytes(path);
    ASSERT_GT(now.size(), audio.size() + 64);
    EXPECT_EQ(Bytes8(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(audio.size())), audio.v);
    const std::vector<TAPEv2Frame> items = ItemsOf(path);
    ASSERT_NE(Find(items, "TITLE"), nullptr);
    if (path == tagged) {
      EXPECT_EQ(Find(items, "Artist")->Value, Text("Björk"));
    }
    EXPECT_EQ(std::string(now.end() - 32, now.end() - 24), "APETAGEX");
    EXPECT_EQ(std::string(now.begin() + static_cast<std::ptrdiff_t>(audio.size()), now.begin() + static_cast<std::ptrdiff_t>(audio.size()) + 8), "APETAGEX");
  }
}

// The text of the tag's last item puts "TAG" where an ID3v1 record would begin: that is no
// record (the footer ends the file), so nothing reads it as one or writes a record over the tag.
TEST(APEv2Names, TextThatLooksLikeARecordAtTheEndIsPartOfTheTag)
{
  const std::string text = "TAG" + std::string(93, 'x');
  TempDir dir;
  const std::string path = dir.Write("a.mp3", Bytes().Append(kAudio).Append(APEv2Tag({{"Title", Text("t")}, {"Comment", Text(text)}})));
  const Bytes8 file = ReadFileBytes(path);
  ASSERT_EQ(std::string(file.end() - 128, file.end() - 125), "TAG");
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.LoadedTagTypes(), std::vector<TTagType>{ttAPEv2});
  tags.SetText("TITLE", "New");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TAPEv2Tag back;
  ASSERT_EQ(back.LoadFromFile(path), apeOk);
  EXPECT_EQ(back.GetText("Title"), "New");
  EXPECT_EQ(back.GetText("Comment"), text);
  ASSERT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), kAudio);
}

// An MP3 whose ID3v2 and APEv2 tags hold the same year and web address under the names of their
// formats: an edit reaches the item and the frame each format keeps it in, and adds none.
TEST(APEv2Names, AnEditReachesTheItemAndFrameThatHoldTheSameField)
{
  const std::string url = "https://a.example/1";
  const Bytes woar = Bytes().Str("WOAR").Append(Synchsafe(static_cast<std::uint32_t>(url.size()))).U16BE(0).Str(url);
  const Bytes id3v2 = ID3v2Tag(4, 0, Bytes().Append(ID3v24TextFrame("TDRC", "2024")).Append(woar).Zeros(256));
  TempDir dir;
  const std::string path =
    dir.Write("a.mp3", Bytes().Append(id3v2).Append(kAudio).Append(APEv2Tag({{"Year", Text("2024")}, {"URL", Text(url)}})));
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  // The recording time of ID3v2 is what shows of the year; the APEv2 URL item is the web address.
  ASSERT_EQ(tags.Exists("YEAR"), -1);
  tags.SetText("RECORDINGDATE", "1999");
  tags.SetText("URL", "https://b.example/2");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);

  const std::vector<TAPEv2Frame> items = ItemsOf(path);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Name, "Year");
  EXPECT_EQ(items[0].Value, Text("1999"));
  EXPECT_EQ(items[1].Value, Text("https://b.example/2"));
  TID3v2Tag v2;
  ASSERT_EQ(v2.LoadFromFile(path), 0);
  const int woarAt = v2.FrameExists("WOAR");
  ASSERT_GE(woarAt, 0);
  EXPECT_EQ(v2.GetURL(woarAt), "https://b.example/2");
  EXPECT_EQ(v2.FrameExists("WXXX"), -1);
}
