#include "tags/ape/apev2_tag.h"

#include <gtest/gtest.h>

#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

using Item = TAPEv2ItemBytes;

Bytes8 Text(std::string_view S) { return Bytes8(S.begin(), S.end()); }
Bytes ItemBytes(const Item &I) { return APEv2Item(I); }
Bytes Tag(const std::vector<Item> &Items, std::uint32_t Version = 2000, std::int64_t SizeDelta = 0, std::int64_t Count = -1)
{
  return APEv2Tag(Items, Version, SizeDelta, Count);
}

const Bytes8 kAudio = Bytes().U8(0xFF).U8(0xFB).U8(0x90).U8(0x64).Fill(400, 0x5A).v;
const Bytes8 kJpeg = Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE0).Fill(40, 0x11).v;
const Bytes8 kPng = Bytes().U8(0x89).Str("PNG\r\n\x1a\n").Fill(40, 0x22).v;

Bytes Lyrics3Block() { return ::Lyrics3Block("hello"); }

Bytes File(const Bytes &TagPart, const Bytes &After = Bytes()) { return Bytes().Append(kAudio).Append(TagPart).Append(After); }

TAPEv2Tag LoadBytes(const Bytes8 &Data, int Want)
{
  TMemoryStream stream{Bytes8(Data)};
  TAPEv2Tag tag;
  EXPECT_EQ(tag.LoadFromStream(stream), Want);
  return tag;
}

const std::vector<Item> kItems = {
  {"Title", Text("Song")},
  {"Artist", Text(std::string("One\0Two", 7))},
  {"Private", Bytes().Str("x").U8(0).Str("data").U8(0xFF).U8(0xD8).v, 2},
  {"Related", Text("https://example.com/a"), 4},
  {"Odd", Text("kept"), 6},
  {"Locked", Text("fixed"), 1},
  {"Cover Art (Back)", Bytes().Str("back.png").U8(0).Append(kPng).v, 2},
};

} // namespace

TEST(APEv2Locate, FindsTheFooterAtTheEndOrInFrontOfTheTrailingBlocks)
{
  const Bytes tag = Tag({{"Title", Text("x")}});
  const Bytes id3v1 = ID3v1Record("t", "a", "b", "2000", "c", 1, 12);
  const std::int64_t audio = static_cast<std::int64_t>(kAudio.size());
  const std::int64_t tagEnd = audio + static_cast<std::int64_t>(tag.size());
  const struct {
    const char *name;
    Bytes8 file;
    bool found;
    std::int64_t footer, trailing;
  } cases[] = {
    {"at_the_end", File(tag), true, tagEnd - 32, tagEnd},
    {"before_id3v1", File(tag, id3v1), true, tagEnd - 32, tagEnd},
    {"before_lyrics3_and_id3v1", File(tag, Bytes().Append(Lyrics3Block()).Append(id3v1)), true, tagEnd - 32, tagEnd},
    {"before_lyrics3_alone", File(tag, Lyrics3Block()), true, tagEnd - 32, tagEnd},
    // A record in front of the tag (some writers put it there): the tag still ends the file.
    {"after_id3v1", Bytes().Append(kAudio).Append(id3v1).Append(tag), true, tagEnd + 128 - 32, tagEnd + 128},
    {"none", File(Bytes(), id3v1), false, 0, audio},
    {"none_before_lyrics3", File(Bytes(), Bytes().Append(Lyrics3Block()).Append(id3v1)), false, 0, audio},
    {"nothing_at_all", kAudio, false, 0, audio},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream s{Bytes8(c.file)};
    const TAPEv2Location loc = LocateAPEv2Tag(s);
    EXPECT_EQ(loc.Found, c.found);
    if (c.found) {
      EXPECT_EQ(loc.FooterPos, c.footer);
    }
    EXPECT_EQ(loc.TrailingStart, c.trailing);
  }
}

TEST(APEv2Tag, KeepsEveryItemWithItsKeyFlagsAndBytes)
{
  const TAPEv2Tag tag = LoadBytes(File(Tag(kItems)), apeOk);
  ASSERT_EQ(tag.Count(), static_cast<int>(kItems.size()));
  for (std::size_t i = 0; i < kItems.size(); ++i) {
    SCOPED_TRACE(kItems[i].Key);
    EXPECT_EQ(tag.Frames[i].Name, kItems[i].Key);
    EXPECT_EQ(tag.Frames[i].Flags, kItems[i].Flags);
    EXPECT_EQ(tag.Frames[i].Value, kItems[i].Value);
  }
  EXPECT_EQ(tag.Frames[1].Values(), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(tag.Frames[2].Format(), ffBinary);
  EXPECT_EQ(tag.Frames[3].Format(), ffUnknown);
  EXPECT_TRUE(tag.Frames[5].ReadOnly());
  EXPECT_EQ(tag.GetText("TITLE"), "Song");
  EXPECT_EQ(tag.CalculateTagSize(), static_cast<std::int64_t>(Tag(kItems).size()) - 32);
  EXPECT_EQ(tag.LoadedSize(), static_cast<std::int64_t>(Tag(kItems).size()));
}

TEST(APEv2Tag, AVersion1TagIsReadInTheSystemCodePageAndWrittenAsVersion2)
{
  TMemoryStream stream{Bytes8(File(Tag({{"Title", Bytes().Str("Caf").U8(0xE9).v}}, 1000)))};
  TAPEv2Tag tag;
  ASSERT_EQ(tag.LoadFromStream(stream), apeOk);
  EXPECT_EQ(tag.GetText("Title"), "Café");
  ASSERT_TRUE(tag.SetText("Album", "B"));
  ASSERT_EQ(tag.SaveToStream(stream), apeOk);
  const Bytes8 want = File(Tag({{"Title", Text("Café")}, {"Album", Text("B")}}));
  EXPECT_EQ(stream.Data(), want);
}

TEST(APEv2Tag, APictureIsAnImageRightAfterTheDescription)
{
  const Bytes8 jpegInside = Bytes().Str("abc").U8(0).Str("xx").Append(kJpeg).v;
  const struct {
    const char *name;
    Item item;
    bool picture;
    TAPEv2PictureFormat format;
  } cases[] = {
    {"jpeg_after_description", {"Foo", Bytes().Str("Front").U8(0).Append(kJpeg).v, 2}, true, pfJPEG},
    {"png_any_key", {"My Picture", Bytes().Str("").U8(0).Append(kPng).v, 2}, true, pfPNG},
    {"signature_further_in", {"Blob", jpegInside, 2}, false, pfUnknown},
    {"signature_first_but_no_description", {"Blob", kJpeg, 2}, false, pfUnknown},
    {"cover_key_of_another_format", {"cover art (front)", Bytes().Str("a.webp").U8(0).Str("RIFF....WEBP").v, 2}, true, pfUnknown},
    {"text_item", {"Cover Art (Front)", Bytes().Str("a").U8(0).Append(kJpeg).v, 0}, false, pfUnknown},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const TAPEv2Tag tag = LoadBytes(File(Tag({c.item})), apeOk);
    EXPECT_EQ(tag.CoverArtCount(), c.picture ? 1 : 0);
    TAPEv2Picture p;
    EXPECT_EQ(tag.GetCoverArtFromFrame(0, p), c.picture);
    if (!c.picture) continue;
    EXPECT_EQ(p.Format, c.format);
    const auto zero = std::find(c.item.Value.begin(), c.item.Value.end(), 0);
    EXPECT_EQ(p.Data, Bytes8(zero + 1, c.item.Value.end()));
  }
  // Deleting the pictures leaves binary items that are none.
  TAPEv2Tag tag = LoadBytes(File(Tag({{"Blob", jpegInside, 2}, {"Cover Art (Front)", Bytes().Str("f").U8(0).Append(kJpeg).v, 2}})), apeOk);
  tag.DeleteAllCoverArts();
  ASSERT_EQ(tag.Count(), 1);
  EXPECT_EQ(tag.Frames[0].Name, "Blob");
}

TEST(APEv2Tag, ADamagedTagLoadsWhatItCanAndIsNeitherWrittenNorCut)
{
  const std::vector<Item> two = {{"Title", Text("a")}, {"Album", Text("b")}};
  const Bytes whole = Tag(two);
  // The second item's value size reaches past the footer.
  Bytes8 overrun = whole;
  overrun[32 + ItemBytes(two[0]).size()] = 200;
  // A key without its 0x00 within 255 bytes.
  Bytes longKey = Tag({{std::string(300, 'K'), Text("v")}});
  const struct {
    const char *name;
    Bytes8 tag;
    int load;
    int items;
  } cases[] = {
    {"size_past_the_file", Tag(two, 2000, 100000), apeDamaged, 0},
    {"size_below_the_footer", Tag(two, 2000, -100), apeDamaged, 0},
    {"size_short_of_the_items", Tag(two, 2000, -3), apeDamaged, -1},  // whatever the misplaced walk finds
    {"value_past_the_region", overrun, apeDamaged, 1},
    {"key_too_long", longKey, apeDamaged, 0},
    {"unknown_version", Tag(two, 3000), apeVersion, 0},
    {"count_is_only_a_hint", Tag(two, 2000, 0, 7), apeOk, 2},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes8 file = File(Bytes().Append(c.tag), ID3v1Record("t", "a", "b", "2000", "c", 1, 12));
    TMemoryStream stream{Bytes8(file)};
    TAPEv2Tag tag;
    ASSERT_EQ(tag.LoadFromStream(stream), c.load);
    if (c.items >= 0) {
      EXPECT_EQ(tag.Count(), c.items);
    }
    if (c.load == apeOk) continue;
    tag.SetText("Title", "new");
    EXPECT_NE(tag.SaveToStream(stream), apeOk);
    EXPECT_NE(RemoveAPEv2FromStream(stream), apeOk);
    EXPECT_EQ(stream.Data(), file);
  }
}

TEST(APEv2Tag, AHeaderTheFlagsAnnounceMustBeThereBeforeAnythingIsCut)
{
  // The footer claims a header, but the 32 bytes in front of the items are audio.
  Bytes8 tag = Tag({{"Title", Text("a")}});
  Bytes8 headless(tag.begin() + 32, tag.end());
  const Bytes8 file = File(Bytes().Append(headless));
  TMemoryStream stream{Bytes8(file)};
  TAPEv2Tag loaded;
  ASSERT_EQ(loaded.LoadFromStream(stream), apeOk);  // the items themselves are whole
  loaded.SetText("Title", "b");
  EXPECT_EQ(loaded.SaveToStream(stream), apeDamaged);
  EXPECT_EQ(RemoveAPEv2FromStream(stream), apeDamaged);
  EXPECT_EQ(stream.Data(), file);
}

TEST(APEv2Tag, SavingKeepsTheLyrics3BlockAndID3v1RecordByteForByte)
{
  const Bytes after = Bytes().Append(Lyrics3Block()).Append(ID3v1Record("t", "a", "b", "2000", "c", 1, 12));
  const struct {
    const char *name;
    Bytes8 before;
  } cases[] = {
    {"replacing_a_tag", File(Tag({{"Title", Text("old title")}, {"Blob", Text("bb"), 2}}), after)},
    {"adding_a_tag", File(Bytes(), after)},
    {"record_alone", File(Bytes(), ID3v1Record("t", "a", "b", "2000", "c", 1, 12))},
    {"no_trailing_blocks", File(Tag({{"Title", Text("old")}}))},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream{Bytes8(c.before)};
    TAPEv2Tag tag;
    tag.LoadFromStream(stream);
    const bool hadBlob = tag.IndexOf("Blob") >= 0;
    ASSERT_TRUE(tag.SetValues("Title", {"New", "Two"}));
    TRewritePlan plan;
    ASSERT_EQ(tag.PlanSave(stream, plan), apeOk);
    TRewritePlan joined;
    ASSERT_TRUE(ComposePlans(stream.GetSize(), std::span<const TRewritePlan>(&plan, 1), joined));
    EXPECT_TRUE(joined.InPlace);  // the audio in front of the tag is not written
    ASSERT_EQ(tag.SaveToStream(stream), apeOk);

    const TAPEv2Location loc = LocateAPEv2Tag(stream);
    ASSERT_TRUE(loc.Found);
    const Bytes8 &now = stream.Data();
    EXPECT_EQ(Bytes8(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(kAudio.size())), kAudio);
    TMemoryStream old{Bytes8(c.before)};
    const Bytes8 trailing(c.before.begin() + LocateAPEv2Tag(old).TrailingStart, c.before.end());
    EXPECT_EQ(Bytes8(now.begin() + loc.TrailingStart, now.end()), trailing);
    std::vector<Item> want = {{"Title", Text(std::string("New\0Two", 7))}};
    if (hadBlob) want.push_back({"Blob", Text("bb"), 2});
    EXPECT_EQ(Bytes8(now.begin() + static_cast<std::ptrdiff_t>(kAudio.size()), now.begin() + loc.TrailingStart), Bytes8(Tag(want)));
  }
}

TEST(APEv2Tag, AnUnchangedTagIsNotWrittenAndAnEmptyOneIsRemoved)
{
  const Bytes8 v1 = File(Tag({{"Title", Text("t")}}, 1000), ID3v1Record("t", "a", "b", "2000", "c", 1, 12));
  TMemoryStream stream{Bytes8(v1)};
  TAPEv2Tag tag;
  ASSERT_EQ(tag.LoadFromStream(stream), apeOk);
  TRewritePlan plan;
  ASSERT_EQ(tag.PlanSave(stream, plan), apeOk);
  EXPECT_TRUE(plan.ChangesNothing());
  // Setting what is there changes nothing either.
  ASSERT_TRUE(tag.SetText("TITLE", "t"));
  EXPECT_FALSE(tag.Changed());

  ASSERT_TRUE(tag.SetText("Title", ""));
  ASSERT_EQ(tag.SaveToStream(stream), apeOk);
  EXPECT_EQ(stream.Data(), File(Bytes(), ID3v1Record("t", "a", "b", "2000", "c", 1, 12)).v);
  // Nothing left to remove, nothing to save.
  TAPEv2Tag empty;
  EXPECT_EQ(empty.SaveToStream(stream), apeNoTag);
  EXPECT_EQ(RemoveAPEv2FromStream(stream), apeNoTag);
}

TEST(APEv2Tag, RemovalFindsTheTagBehindLyrics3AndKeepsWhatFollows)
{
  const Bytes after = Bytes().Append(Lyrics3Block()).Append(ID3v1Record("t", "a", "b", "2000", "c", 1, 12));
  TMemoryStream stream{Bytes8(File(Tag(kItems), after))};
  ASSERT_EQ(RemoveAPEv2FromStream(stream), apeOk);
  EXPECT_EQ(stream.Data(), File(Bytes(), after).v);
  // Reserved bytes that are not zero are a footer this removal does not trust.
  Bytes8 odd = File(Tag({{"Title", Text("t")}}));
  odd[odd.size() - 1] = 1;
  TMemoryStream oddStream{Bytes8(odd)};
  EXPECT_EQ(RemoveAPEv2FromStream(oddStream), apeFooterUnreadable);
  EXPECT_EQ(oddStream.Data(), odd);
}

TEST(APEv2Tag, ReadOnlyItemsAreNotChanged)
{
  TMemoryStream stream{Bytes8(File(Tag(kItems)))};
  const Bytes8 before = stream.Data();
  for (const auto &change : std::vector<std::function<void(TAPEv2Tag &)>>{
         [](TAPEv2Tag &T) { T.SetText("LOCKED", "other"); },
         [](TAPEv2Tag &T) { T.SetText("Locked", ""); },
         [](TAPEv2Tag &T) { T.DeleteAllFrames(); },
       }) {
    TAPEv2Tag tag;
    ASSERT_EQ(tag.LoadFromStream(stream), apeOk);
    change(tag);
    EXPECT_EQ(tag.GetText("Locked"), "fixed");
    EXPECT_EQ(tag.SaveToStream(stream), apeItemReadOnly);
    EXPECT_EQ(stream.Data(), before);
  }
  // Setting the value it has is no change.
  TAPEv2Tag tag;
  ASSERT_EQ(tag.LoadFromStream(stream), apeOk);
  tag.SetText("Locked", "fixed");
  tag.SetText("Title", "Other");
  EXPECT_EQ(tag.SaveToStream(stream), apeOk);
}

TEST(APEv2Tag, NewKeysMustBeFitForTheFormat)
{
  TAPEv2Tag tag;
  for (const char *bad : {"A", "TAG", "id3", "OggS", "MP+", "Ti\ttle", "Tïtle"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(tag.SetText(bad, "x"));
  }
  EXPECT_FALSE(tag.SetText(std::string(256, 'K'), "x"));
  EXPECT_TRUE(tag.SetText(std::string(255, 'K'), "x"));
  EXPECT_EQ(tag.Count(), 1);
  // A key is written as given, or upper-cased when asked; an existing item keeps its own.
  tag.UpperCaseFieldNamesToWrite = true;
  ASSERT_TRUE(tag.SetText("Artist", "a"));
  EXPECT_EQ(tag.Frames.back().Name, "ARTIST");
  tag.UpperCaseFieldNamesToWrite = false;
  ASSERT_TRUE(tag.SetText("Album", "a"));
  EXPECT_EQ(tag.Frames.back().Name, "Album");
  ASSERT_TRUE(tag.SetText("artist", "b"));
  EXPECT_EQ(tag.IndexOf("ARTIST"), 1);
  EXPECT_EQ(tag.FrameTypeCount("artist"), 1);
}

TEST(APEv2Tag, EveryFailedWriteLeavesTheFileAsItWas)
{
  const Bytes8 file = File(Tag(kItems), Bytes().Append(Lyrics3Block()).Append(ID3v1Record("t", "a", "b", "2000", "c", 1, 12)));
  for (const bool grow : {true, false}) {
    SCOPED_TRACE(grow ? "grows" : "shrinks");
    TempDir dir;
    const std::string path = dir.Path() + "/song.mp3";
    TBytes old;
    TRewritePlan plan;
    TWriteFailureSteps steps;
    steps.Prepare = [&] {
      WriteFileBytes(path, file);
      old = file;
      auto view = TReadView::OpenFile(path);
      ASSERT_TRUE(view);
      TAPEv2Tag tag;
      ASSERT_EQ(tag.Load(*view), apeOk);
      tag.SetText("Title", grow ? std::string(5000, 'x') : std::string());
      TRewritePlan raw;
      ASSERT_EQ(tag.PlanSave(*view, raw), apeOk);
      ASSERT_TRUE(ComposePlans(view->GetSize(), std::span<const TRewritePlan>(&raw, 1), plan));
    };
    SetPlannedFileSteps(steps, dir.Path(), path, old, plan);
    const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
    EXPECT_TRUE(run.Succeeded);
    EXPECT_GT(run.Failures, 0);
    TAPEv2Tag back;
    ASSERT_EQ(back.LoadFromFile(path), apeOk);
    EXPECT_EQ(back.GetText("Title"), grow ? std::string(5000, 'x') : std::string());
    EXPECT_EQ(back.GetText("Artist"), "One");
  }
}

TEST(APEv2Tag, AnEmptyItemStaysUntilTheTagIsChanged)
{
  const Bytes8 file = File(Tag({{"Title", Text("t")}, {"Comment", {}}}));
  TMemoryStream stream{Bytes8(file)};
  TAPEv2Tag tag;
  ASSERT_EQ(tag.LoadFromStream(stream), apeOk);
  ASSERT_EQ(tag.SaveToStream(stream), apeOk);
  EXPECT_EQ(stream.Data(), file);
  tag.SetText("Title", "u");
  ASSERT_EQ(tag.SaveToStream(stream), apeOk);
  EXPECT_EQ(stream.Data(), File(Tag({{"Title", Text("u")}})).v);
}
