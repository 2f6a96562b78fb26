#include "tags/mp4/mp4_tag.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/test_support.h"

namespace {

// The four bytes of an atom type ("©nam" is A9 'n' 'a' 'm').
std::string Type4(std::string_view Type) { return TAtomName(Type).Raw(); }

Bytes Atom(std::string_view Type, const Bytes &Body)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(8 + Body.size())).Str(Type4(Type)).Append(Body);
}

Bytes Data(std::uint32_t Type, const Bytes &Value, std::uint32_t Locale = 0)
{
  return Atom("data", Bytes().U32BE(Type).U32BE(Locale).Append(Value));
}

Bytes Text(std::string_view Name, std::string_view Value) { return Atom(Name, Data(1, Bytes().Str(Value))); }

Bytes FreeForm(std::string_view Mean, std::string_view Name, std::string_view Value)
{
  return Atom("----", Bytes()
                          .Append(Atom("mean", Bytes().U32BE(0).Str(Mean)))
                          .Append(Atom("name", Bytes().U32BE(0).Str(Name)))
                          .Append(Data(1, Bytes().Str(Value))));
}

const Bytes kHdlr = Bytes().U32BE(33).Str("hdlr").Zeros(8).Str("mdirappl").Zeros(9);

// ftyp, then moov/udta holding meta (hdlr, then Ilst's bytes) and UdtaMore after it.
Bytes File(const Bytes &Ilst, bool MetaVersion = true, const Bytes &UdtaMore = Bytes())
{
  Bytes meta = MetaVersion ? Bytes().U32BE(0) : Bytes();
  meta.Append(kHdlr).Append(Ilst);
  const Bytes udta = Atom("udta", Bytes().Append(Atom("meta", meta)).Append(UdtaMore));
  return Bytes().Append(Atom("ftyp", Bytes().Str("M4A ").U32BE(0))).Append(Atom("moov", udta)).Append(Atom("mdat", Bytes().Zeros(16)));
}

int LoadBytes(TMP4Tag &Tag, const Bytes8 &Content)
{
  TMemoryStream s(Content);
  return Tag.Load(s);
}

Bytes8 BuiltIlst(const TMP4Tag &Tag)
{
  TBytes out;
  std::string error;
  EXPECT_TRUE(Tag.BuildIlst(out, &error)) << error;
  return out;
}

std::vector<std::string> ItemNames(const TMP4Tag &Tag)
{
  std::vector<std::string> names;
  for (const TMP4Atom &a : Tag.Atoms()) names.push_back(a.ID().Text());
  return names;
}

Bytes Picture(std::string_view Magic, std::size_t Size) { return Bytes().Str(Magic).Fill(Size - Magic.size(), 0x5A); }

const std::string_view kJPEG("\xFF\xD8\xFF\xE0", 4), kPNG("\x89PNG", 4), kGIF("GIF8", 4), kBMP("BM", 2);

} // namespace

// The fixtures as mutagen reads them: item count, where the metadata atoms are, a few values.
TEST(MP4Tag, FixturesLoadAndRebuildTheirItemListByteForByte)
{
  struct Case {
    const char *file;
    int code;
    int items;
    std::int64_t moov, udta, meta, ilst, ilstSize;
    std::uint32_t coverType;
  };
  const Case cases[] = {
      {"aac-moov-end.m4a", mp4tOk, 17, 12020, 12865, 12873, 12918, 1142, 14},
      {"aac-moov-start.m4a", mp4tOk, 17, 28, 873, 881, 926, 1341, 13},
      {"aac-notags.m4a", mp4tNoItems, 0, 12020, 12865, 12873, 12918, 8, 0},
      {"alac-kid3.m4a", mp4tOk, 17, 56672, 57309, 57317, 57362, 1345, 13},
      {"alac-moov-start.m4a", mp4tOk, 17, 28, 665, 673, 718, 1142, 14},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const std::string path = dir.CopyFixture(std::string("m4a/") + c.file);
    auto view = TReadView::OpenFile(path);
    ASSERT_TRUE(view);
    TMP4Tag tag;
    ASSERT_EQ(tag.Load(*view), c.code);
    EXPECT_TRUE(tag.Valid());
    EXPECT_FALSE(tag.Damaged());
    EXPECT_EQ(tag.Count(), c.items);
    EXPECT_EQ(tag.Layout().moovPosition, c.moov);
    EXPECT_EQ(tag.Layout().udtaPosition, c.udta);
    EXPECT_EQ(tag.Layout().metaPosition, c.meta);
    EXPECT_EQ(tag.Layout().ilstPosition, c.ilst);
    EXPECT_EQ(tag.Layout().ilstSize, c.ilstSize);
    EXPECT_TRUE(tag.MetaHasVersion());
    EXPECT_NEAR(tag.Playtime(), 1.0, 1e-6);  // the movie header's duration (the audio properties' reading)
    const Bytes8 file = ReadFileBytes(path);
    const auto at = static_cast<std::size_t>(c.ilst);
    EXPECT_EQ(BuiltIlst(tag), Slice(file, at, at + static_cast<std::size_t>(c.ilstSize)).v);
    EXPECT_FALSE(tag.BuildXtra());
    EXPECT_FALSE(tag.Changed());
    if (c.items == 0) continue;
    EXPECT_EQ(tag.GetText("©nam"), "Björk – Jóga ♫ 日本");
    EXPECT_EQ(tag.GetText("\xA9" "ART"), "Test Artist");
    EXPECT_EQ(tag.GetText("©lyr"), "Line one\nLine two – ♫\nLine three");
    EXPECT_EQ(tag.GetText("©day"), "2021-05-04");
    EXPECT_EQ(tag.GetTrack(), 3);
    EXPECT_EQ(tag.GetTotalTracks(), 12);
    EXPECT_EQ(tag.GetDisc(), 1);
    EXPECT_EQ(tag.GetTotalDiscs(), 2);
    EXPECT_EQ(tag.GetGenre(), "Rock");
    EXPECT_EQ(tag.GetInteger16("tmpo"), 128);
    EXPECT_EQ(tag.GetText("tmpo"), "128");
    EXPECT_EQ(tag.FindAtom("tmpo")->Datas()[0].DataType, kMP4TypeInteger);
    EXPECT_EQ(tag.GetCommon("ORIGINALARTIST", "com.apple.iTunes"), "Original Test Artist");
    EXPECT_EQ(tag.GetCommon("originalartist", "COM.APPLE.ITUNES"), "Original Test Artist");
    ASSERT_EQ(tag.CoverArtCount(), 1);
    TBytes picture;
    std::uint32_t type = 0;
    ASSERT_TRUE(tag.GetCoverArt(0, picture, type));
    EXPECT_EQ(type, c.coverType);
    EXPECT_EQ(picture.size(), c.coverType == 14 ? 384u : 583u);
  }
}

TEST(MP4Tag, StreamLoadAndResultCodes)
{
  TMP4Tag tag;
  EXPECT_EQ(LoadBytes(tag, Bytes8()), mp4tNotMP4);
  EXPECT_EQ(LoadBytes(tag, Atom("free", Bytes().Zeros(8))), mp4tNotMP4);
  EXPECT_FALSE(tag.Valid());
  // "moov" without "udta": no items, but valid.
  EXPECT_EQ(LoadBytes(tag, Bytes().Append(Atom("ftyp", Bytes().Str("M4A "))).Append(Atom("moov", Atom("trak", Bytes())))),
            mp4tNoItems);
  EXPECT_TRUE(tag.Valid());
  EXPECT_FALSE(tag.Damaged());

  const Bytes8 file = ReadFileBytes(FixturePath("m4a/alac-kid3.m4a"));
  ASSERT_EQ(LoadBytes(tag, file), mp4tOk);
  EXPECT_EQ(tag.Count(), 17);
  EXPECT_EQ(BuiltIlst(tag), Slice(file, 57362, 57362 + 1345).v);
}

TEST(MP4Tag, DamagedAndHostileTrees)
{
  const Bytes good = Text("©nam", "Kept");
  struct Case {
    const char *name;
    Bytes ilst;
    int code;
    int items;
  };
  const Case cases[] = {
      // The second item claims more than the item list holds.
      {"item_past_ilst_end", Atom("ilst", Bytes().Append(good).U32BE(4000).Str(Type4("©ART")).Append(Data(1, Bytes().Str("x")))), mp4tCorrupt, 1},
      {"item_below_header", Atom("ilst", Bytes().Append(good).U32BE(3).Str(Type4("©ART"))), mp4tCorrupt, 1},
      // A data atom running past its item.
      {"data_past_item", Atom("ilst", Bytes().Append(good).Append(Atom("©ART", Bytes().U32BE(100).Str("data").Zeros(8)))), mp4tCorrupt, 1},
      {"sixty_four_bit_item", Atom("ilst", Bytes().Append(good).U32BE(1).Str(Type4("©ART")).U64BE(16 + 19).Append(Data(1, Bytes().Str("abc")))), mp4tOk, 2},
      {"empty_ilst", Atom("ilst", Bytes()), mp4tNoItems, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TMP4Tag tag;
    ASSERT_EQ(LoadBytes(tag, File(c.ilst)), c.code);
    EXPECT_EQ(tag.Count(), c.items);
    EXPECT_EQ(tag.Damaged(), c.code == mp4tCorrupt);
    if (c.items > 0) {
      EXPECT_EQ(tag.GetText("©nam"), "Kept");
    }
    if (c.code == mp4tOk) {
      EXPECT_EQ(BuiltIlst(tag), c.ilst.v);
    }
  }
  // Damage in "udta" after "meta" could hide an Xtra atom a save would drop: the items show, the
  // tag is damaged.
  TMP4Tag udta;
  ASSERT_EQ(LoadBytes(udta, File(Atom("ilst", good), true, Bytes().U32BE(500).Str("Xtra"))), mp4tCorrupt);
  EXPECT_EQ(udta.GetText("©nam"), "Kept");
  EXPECT_TRUE(udta.Damaged());

  // A 64-bit item is read, kept as it was, and laid out with a 32-bit size once changed.
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(cases[3].ilst)), mp4tOk);
  EXPECT_EQ(tag.GetText("©ART"), "abc");
  ASSERT_TRUE(tag.SetText("©ART", "abd"));
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes().Append(good).Append(Text("©ART", "abd"))).v);
}

TEST(MP4Tag, MetaWithoutVersionBytes)
{
  const Bytes ilst = Atom("ilst", Text("©alb", "Album"));
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(ilst, false)), mp4tOk);
  EXPECT_FALSE(tag.MetaHasVersion());
  EXPECT_EQ(tag.GetText("©alb"), "Album");
  EXPECT_EQ(BuiltIlst(tag), ilst.v);
}

TEST(MP4Tag, TrackAndDiscOnlyWhereTheValueHoldsThem)
{
  struct Case {
    const char *name;
    Bytes value;
    int track, total;
  };
  const Case cases[] = {
      {"full", Bytes().U16BE(0).U16BE(5).U16BE(12).U16BE(0), 5, 12},
      {"six_bytes", Bytes().U16BE(0).U16BE(5).U16BE(12), 5, 12},
      {"four_bytes", Bytes().U16BE(0).U16BE(5), 5, 0},
      {"two_bytes", Bytes().U16BE(7), 0, 0},
      {"empty", Bytes(), 0, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TMP4Tag tag;
    ASSERT_EQ(LoadBytes(tag, File(Atom("ilst", Bytes().Append(Atom("trkn", Data(0, c.value))).Append(Atom("disk", Data(0, c.value)))))), mp4tOk);
    EXPECT_EQ(tag.GetTrack(), c.track);
    EXPECT_EQ(tag.GetTotalTracks(), c.total);
    EXPECT_EQ(tag.GetDisc(), c.track);
    EXPECT_EQ(tag.GetTotalDiscs(), c.total);
  }
  TMP4Tag tag;
  tag.SetTrack(3, 12);
  tag.SetDisc(1, 2);
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes()
                                             .Append(Atom("trkn", Data(0, Bytes().U16BE(0).U16BE(3).U16BE(12).U16BE(0))))
                                             .Append(Atom("disk", Data(0, Bytes().U16BE(0).U16BE(1).U16BE(2))))).v);
  EXPECT_TRUE(tag.SetText("trkn", "4/9"));
  EXPECT_EQ(tag.GetTrack(), 4);
  EXPECT_EQ(tag.GetTotalTracks(), 9);
  EXPECT_FALSE(tag.SetText("trkn", "four"));
  tag.SetTrack(0, 0);
  EXPECT_FALSE(tag.FindAtom("trkn"));
}

// Items nobody changed keep their bytes (odd locales, unknown children, odd widths); changed
// items are laid out as header, mean, name, data atoms, with locale and unknown children kept.
TEST(MP4Tag, UnchangedItemsKeepTheirBytesChangedOnesAreLaidOutAnew)
{
  const Bytes odd = Atom("©nam", Bytes().Append(Data(1, Bytes().Str("Title"), 0x00010002)).Append(Atom("xtra", Bytes().Str("kept"))));
  const Bytes day = Text("©day", "2004-05-12T07:00:00Z");
  const Bytes ilst = Atom("ilst", Bytes().Append(odd).Append(day).Append(FreeForm("com.apple.iTunes", "iTunSMPB", " 00000000")));
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(ilst)), mp4tOk);
  EXPECT_EQ(tag.GetText("©day"), "2004-05-12T07:00:00Z");
  // Setting what is there already changes nothing.
  EXPECT_TRUE(tag.SetText("©day", "2004-05-12T07:00:00Z"));
  EXPECT_TRUE(tag.SetCommon("ITUNSMPB", "com.apple.iTunes", " 00000000"));
  EXPECT_FALSE(tag.Changed());

  ASSERT_TRUE(tag.SetText("©day", "2005"));
  EXPECT_TRUE(tag.Changed());
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes().Append(odd).Append(Text("©day", "2005")).Append(FreeForm("com.apple.iTunes", "iTunSMPB", " 00000000"))).v);

  ASSERT_TRUE(tag.SetText("©nam", "New"));
  ASSERT_TRUE(tag.SetCommon("ORIGINALARTIST", "com.apple.iTunes", "Someone"));
  EXPECT_EQ(BuiltIlst(tag),
            Atom("ilst", Bytes()
                             .Append(Atom("©nam", Bytes().Append(Data(1, Bytes().Str("New"), 0x00010002)).Append(Atom("xtra", Bytes().Str("kept")))))
                             .Append(Text("©day", "2005"))
                             .Append(FreeForm("com.apple.iTunes", "iTunSMPB", " 00000000"))
                             .Append(FreeForm("com.apple.iTunes", "ORIGINALARTIST", "Someone"))).v);
  // An empty value deletes.
  ASSERT_TRUE(tag.SetCommon("originalartist", "com.apple.iTunes", ""));
  ASSERT_TRUE(tag.SetText("©day", ""));
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"©nam", "----"}));
}

TEST(MP4Tag, IntegerItemsKeepTypeAndWidthAndAreNeverTurnedIntoText)
{
  const Bytes ilst = Atom("ilst", Bytes()
                                      .Append(Atom("tmpo", Data(21, Bytes().U8(120))))
                                      .Append(Atom("plID", Data(21, Bytes().U64BE(1234567890123ull))))
                                      .Append(Atom("cpil", Data(0, Bytes().U8(1))))
                                      .Append(Atom("rtng", Data(21, Bytes().U16BE(0) /* 2 bytes */)))
                                      .Append(Atom("atID", Data(21, Bytes().U16BE(7).U32BE(1)))));  // 6 bytes
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(ilst)), mp4tOk);
  EXPECT_EQ(tag.GetText("plID"), "1234567890123");
  EXPECT_EQ(tag.GetText("atID"), std::to_string((7ull << 32) | 1));
  EXPECT_TRUE(tag.GetBool("cpil"));
  EXPECT_EQ(BuiltIlst(tag), ilst.v);

  struct Case {
    const char *item;
    const char *text;
    bool ok;
    Bytes value;
    std::uint32_t type;
  };
  const Case cases[] = {
      {"tmpo", "130", true, Bytes().U8(130), 21},           // the stored width stays
      {"tmpo", "300", true, Bytes().U16BE(300), 21},        // wider only when needed
      {"tmpo", "fast", false, Bytes().U8(120), 21},         // not a number: unchanged
      {"plID", "42", true, Bytes().U64BE(42), 21},
      {"cpil", "0", true, Bytes().U8(0), 0},                // type 0 stays 0
      {"atID", "5", true, Bytes().U16BE(0).U32BE(5), 21},   // 6 bytes stay 6
      {"akID", "3", true, Bytes().U8(3), 21},               // new: the usual width
      {"tvsn", "2", true, Bytes().U32BE(2), 21},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.item) + "=" + c.text);
    TMP4Tag t;
    ASSERT_EQ(LoadBytes(t, File(ilst)), mp4tOk);
    EXPECT_EQ(t.SetText(c.item, c.text), c.ok);
    const TMP4Atom *a = t.FindAtom(c.item);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Datas()[0].Data, c.value.v);
    EXPECT_EQ(a->Datas()[0].DataType, c.type);
  }
  // The explicit setters of the container: bool as one byte, widths as asked.
  tag.SetBool("pgap", true);
  tag.SetInteger16("tmpo", 99);
  tag.SetInteger32("tves", 7);
  tag.SetInteger8("akID", 1);
  EXPECT_EQ(tag.FindAtom("pgap")->Datas()[0].Data, Bytes().U8(1).v);
  EXPECT_EQ(tag.FindAtom("tmpo")->Datas()[0].Data, Bytes().U16BE(99).v);
  EXPECT_EQ(tag.GetInteger32("tves"), 7u);
  EXPECT_EQ(tag.GetInteger8("akID"), 1);
  // A picture is not replaced by text.
  TMP4Tag pictures;
  ASSERT_EQ(LoadBytes(pictures, File(Atom("ilst", Atom("covr", Data(13, Bytes().Str(kJPEG)))))), mp4tOk);
  EXPECT_FALSE(pictures.SetText("covr", "text"));
  EXPECT_FALSE(pictures.Changed());
}

TEST(MP4Tag, GenreMediaKindAndCountry)
{
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(Atom("ilst", Bytes()
                                                 .Append(Atom("gnre", Data(0, Bytes().U16BE(18))))
                                                 .Append(Atom("stik", Data(21, Bytes().U8(9))))
                                                 .Append(Atom("sfID", Data(21, Bytes().U32BE(143444))))))),
            mp4tOk);
  EXPECT_EQ(tag.GetGenre(), "Rock");
  EXPECT_EQ(tag.GetMediaType(), "Movie");
  EXPECT_EQ(tag.GetPurchaseCountry(), "United Kingdom");

  tag.SetGenre("Rock");
  EXPECT_FALSE(tag.Changed());
  tag.SetGenre("rock");
  EXPECT_EQ(tag.FindAtom("gnre")->Datas()[0].Data, Bytes().U16BE(18).v);
  tag.SetGenre("Trip-Hop");
  EXPECT_EQ(tag.FindAtom("gnre")->Datas()[0].Data, Bytes().U16BE(28).v);
  EXPECT_EQ(tag.FindAtom("gnre")->Datas()[0].DataType, 0u);
  tag.SetGenre("Chiptune Nights");
  EXPECT_FALSE(tag.FindAtom("gnre"));
  EXPECT_EQ(tag.GetGenre(), "Chiptune Nights");
  EXPECT_EQ(ItemNames(tag).front(), "©gen");  // in the place of the old genre
  tag.SetGenre("");
  EXPECT_FALSE(tag.FindAtom("©gen"));

  EXPECT_TRUE(tag.SetMediaType("Audiobook"));
  EXPECT_EQ(tag.FindAtom("stik")->Datas()[0].Data, Bytes().U8(2).v);
  EXPECT_FALSE(tag.SetMediaType("audiobook"));
  EXPECT_TRUE(tag.SetPurchaseCountry("Japan"));
  EXPECT_EQ(tag.GetInteger32("sfID"), 143462u);
  tag.SetInteger32("sfID", 99);
  EXPECT_EQ(tag.GetPurchaseCountry(), "99");

  // "gnre" 0 falls back to the text item.
  TMP4Tag zero;
  ASSERT_EQ(LoadBytes(zero, File(Atom("ilst", Bytes().Append(Atom("gnre", Data(0, Bytes().U16BE(0)))).Append(Text("©gen", "Own"))))), mp4tOk);
  EXPECT_EQ(zero.GetGenre(), "Own");
}

TEST(MP4Tag, MultipleValuesAndLists)
{
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(Atom("ilst", Bytes().Append(Text("©ART", "A")).Append(Text("©nam", "T")).Append(Text("©ART", "B"))))), mp4tOk);
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetMultipleValuesMultipleAtoms("©ART", list));
  EXPECT_EQ(list, (std::vector<std::string>{"A", "B"}));
  tag.SetMultipleValuesMultipleAtoms("©ART", {"A", "B"});
  EXPECT_FALSE(tag.Changed());
  tag.SetMultipleValuesMultipleAtoms("©ART", {"A", "B", "C"});
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"©ART", "©nam", "©ART", "©ART"}));
  tag.SetMultipleValuesMultipleAtoms("©ART", {"Z"});
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"©ART", "©nam"}));
  EXPECT_EQ(tag.GetText("©ART"), "Z");
  tag.SetMultipleValuesCommaSeparated("©ART", {"X", "Y"});
  EXPECT_EQ(tag.GetText("©ART"), "X, Y");

  tag.SetList("TIPL", {"producer=P", "mixer=M"});
  EXPECT_EQ(tag.GetList("TIPL"), (std::vector<std::string>{"producer=P", "mixer=M"}));
  EXPECT_EQ(tag.FindAtom("TIPL")->Datas()[0].Data, Bytes().Str("producer=P\r\nmixer=M\r\n").v);
}

TEST(MP4Tag, NewPictureTypesComeFromTheContent)
{
  struct Case {
    std::string_view magic;
    std::uint32_t given, want;
  };
  const Case cases[] = {
      {kJPEG, 0, 13}, {kPNG, 13, 14}, {kBMP, 13, 27}, {kJPEG, 14, 13}, {kGIF, 0, 12}, {kGIF, 99, 99}, {"????", 0, 0}, {"????", 13, 13},
  };
  for (const Case &c : cases) {
    const Bytes p = Picture(c.magic, 32);
    EXPECT_EQ(MP4PictureDataType(p.v, c.given), c.want) << c.given;
  }
}

TEST(MP4Tag, SetCoverArtsLeavesExactlyOneItemWithExactlyThePictures)
{
  const Bytes a = Picture(kJPEG, 20), b = Picture(kPNG, 30), c = Picture(kGIF, 40);
  const Bytes ilst = Atom("ilst", Bytes()
                                      .Append(Atom("covr", Data(13, a)))
                                      .Append(Text("©nam", "T"))
                                      .Append(Atom("covr", Bytes().Append(Data(14, b)).Append(Data(12, c)))));
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(ilst)), mp4tOk);
  ASSERT_EQ(tag.CoverArtCount(), 3);
  TBytes got;
  std::uint32_t type = 0;
  ASSERT_TRUE(tag.GetCoverArt(2, got, type));
  EXPECT_EQ(got, c.v);
  EXPECT_EQ(type, 12u);
  EXPECT_FALSE(tag.GetCoverArt(3, got, type));

  const std::vector<TMP4CoverArt> two{{c.v, 0, {}}, {b.v, 13, {}}};
  tag.SetCoverArts(two);
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"covr", "©nam"}));
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes().Append(Atom("covr", Bytes().Append(Data(12, c)).Append(Data(14, b)))).Append(Text("©nam", "T"))).v);

  // The same pictures again change nothing.
  TMP4Tag same;
  ASSERT_EQ(LoadBytes(same, File(Atom("ilst", Atom("covr", Bytes().Append(Data(13, a)).Append(Data(14, b)))))), mp4tOk);
  same.SetCoverArts(std::vector<TMP4CoverArt>{{a.v, 13, {}}, {b.v, 0, {}}});
  EXPECT_FALSE(same.Changed());

  tag.SetCoverArts({});
  EXPECT_EQ(tag.CoverArtCount(), 0);
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"©nam"}));
  tag.SetCoverArts(std::vector<TMP4CoverArt>{{a.v, 0, {}}});
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"©nam", "covr"}));
}

// Large pictures stay in the file; with cover parsing off every picture does; either way a save
// rebuilds them from the file, and fails when the file changed since the load.
TEST(MP4Tag, PicturesLeftInTheFile)
{
  const Bytes large = Picture(kJPEG, 40000), small = Picture(kPNG, 100);
  const Bytes ilst = Atom("ilst", Bytes().Append(Text("©nam", "T")).Append(Atom("covr", Bytes().Append(Data(13, large)).Append(Data(14, small)))));
  TempDir dir;
  const std::string path = dir.Write("big.m4a", File(ilst));
  for (const bool parse : {true, false}) {
    SCOPED_TRACE(parse);
    auto view = TReadView::OpenFile(path);
    ASSERT_TRUE(view);
    TMP4Tag tag;
    tag.ParseCoverArts = parse;
    ASSERT_EQ(tag.Load(*view), mp4tOk);
    ASSERT_EQ(tag.CoverArtCount(), 2);
    TBytes head;
    std::uint32_t type = 0;
    TFileRange range;
    ASSERT_TRUE(tag.GetCoverArt(0, head, type, &range));
    EXPECT_EQ(head.size(), kMP4PictureDataHead);
    EXPECT_EQ(range.Size, 40000);
    EXPECT_EQ(type, 13u);
    ASSERT_TRUE(tag.GetCoverArt(1, head, type, &range));
    EXPECT_EQ(range.Empty(), parse);
    TBytes whole;
    ASSERT_TRUE(tag.GetCoverArt(0, whole, type));
    EXPECT_EQ(whole, large.v);
    EXPECT_EQ(BuiltIlst(tag), ilst.v);
  }
  // From a stream every picture is held, with cover parsing off too.
  TMP4Tag held;
  held.ParseCoverArts = false;
  ASSERT_EQ(LoadBytes(held, File(ilst)), mp4tOk);
  EXPECT_EQ(held.CoverArtCount(), 2);
  EXPECT_EQ(BuiltIlst(held), ilst.v);

  // The container hands the pictures back as it got them: nothing changes.
  auto view = TReadView::OpenFile(path);
  TMP4Tag tag;
  ASSERT_EQ(tag.Load(*view), mp4tOk);
  std::vector<TMP4CoverArt> back(2);
  for (std::size_t i = 0; i < back.size(); ++i)
    ASSERT_TRUE(tag.GetCoverArt(static_cast<int>(i), back[i].Data, back[i].DataType, &back[i].InFile));
  tag.SetCoverArts(back);
  EXPECT_FALSE(tag.Changed());
  // Moved to a changed item, the picture is still read from the file.
  std::swap(back[0], back[1]);
  tag.SetCoverArts(back);
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes().Append(Text("©nam", "T")).Append(Atom("covr", Bytes().Append(Data(14, small)).Append(Data(13, large))))).v);

  Bytes8 changed = ReadFileBytes(path);
  changed.push_back(0);
  WriteFileBytes(path, changed);
  TBytes out;
  std::string error;
  EXPECT_FALSE(tag.BuildIlst(out, &error));
  EXPECT_FALSE(error.empty());
  TBytes whole;
  std::uint32_t type = 0;
  EXPECT_FALSE(tag.GetCoverArt(1, whole, type));
}

namespace {

Bytes XtraText(std::string_view Name, std::u16string_view Value, bool Terminated = true)
{
  Bytes value;
  for (char16_t ch : Value) value.U16LE(ch);
  if (Terminated) value.U16LE(0);
  Bytes prop = Bytes().U32BE(static_cast<std::uint32_t>(value.size() + 6)).U16BE(8).Append(value);
  return Bytes().U32BE(static_cast<std::uint32_t>(12 + Name.size() + prop.size())).U32BE(static_cast<std::uint32_t>(Name.size())).Str(Name).U32BE(1).Append(prop);
}

Bytes XtraValue(std::string_view Name, std::uint16_t Type, const Bytes &Value)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(12 + Name.size() + 6 + Value.size())).U32BE(static_cast<std::uint32_t>(Name.size())).Str(Name).U32BE(1)
      .U32BE(static_cast<std::uint32_t>(Value.size() + 6)).U16BE(Type).Append(Value);
}

const Bytes kGUIDBytes = Bytes().U32LE(0x12345678).U16LE(0x9ABC).U16LE(0xDEF0).Str("\x01\x23\x45\x67\x89\xAB\xCD\xEF");

Bytes XtraAtom()
{
  return Atom("Xtra", Bytes()
                          .Append(XtraText("WM/Mood", u"Calm"))
                          .Append(XtraValue("WM/SharedUserRating", 19, Bytes().U32LE(99)))
                          .Append(XtraValue("WM/EncodingTime", 21, Bytes().U64LE(132539328000000000ull)))
                          .Append(XtraValue("WM/WMContentID", 72, kGUIDBytes)));
}

} // namespace

TEST(MP4Tag, XtraEntriesReadKeptAndRegenerated)
{
  const Bytes ilst = Atom("ilst", Text("©nam", "T"));
  TMP4Tag tag;
  ASSERT_EQ(LoadBytes(tag, File(ilst, true, XtraAtom())), mp4tOk);
  ASSERT_EQ(tag.XtraCount(), 4);
  EXPECT_FALSE(tag.XtraKeptVerbatim());
  EXPECT_EQ(tag.GetTextXtra("WM/Mood", false), "Calm");
  std::uint64_t n = 0;
  ASSERT_TRUE(tag.GetIntegerXtra("WM/SharedUserRating", n));
  EXPECT_EQ(n, 99u);
  ASSERT_TRUE(tag.GetFileTimeXtra("WM/EncodingTime", n));
  EXPECT_EQ(n, 132539328000000000ull);
  EXPECT_EQ(tag.GetGUIDXtra("WM/WMContentID"), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  // Free-form names read through the Xtra entries.
  EXPECT_EQ(tag.GetCommon("RATING", "com.apple.iTunes"), "255");
  EXPECT_EQ(tag.GetCommon("Mood", "com.apple.iTunes"), "Calm");
  EXPECT_EQ(tag.GetCommon("WMContentID", "com.apple.iTunes"), "{12345678-9ABC-DEF0-0123-456789ABCDEF}");
  ASSERT_TRUE(tag.BuildXtra());
  EXPECT_EQ(*tag.BuildXtra(), XtraAtom().v);

  // Parse-and-write keeps an entry that is there in step with the free-form item.
  ASSERT_TRUE(tag.SetCommon("MOOD", "com.apple.iTunes", "Wild"));
  EXPECT_EQ(tag.GetTextXtra("WM/Mood", false), "Wild");
  EXPECT_EQ(tag.GetCommon("Mood", "com.apple.iTunes"), "Wild");
  EXPECT_EQ(tag.GetText("----"), "Wild");
  ASSERT_TRUE(tag.SetCommon("Producer", "com.apple.iTunes", "P"));
  EXPECT_EQ(tag.FindAtomXtra("WM/Producer"), nullptr);
  ASSERT_TRUE(tag.SetGUIDXtra("WM/WMCollectionID", "{00112233-4455-6677-8899-AABBCCDDEEFF}"));
  EXPECT_FALSE(tag.SetGUIDXtra("WM/WMCollectionID", "not a guid"));
  ASSERT_TRUE(tag.SetTextXtra("WM/EncodingTime", "", false));
  EXPECT_EQ(*tag.BuildXtra(),
            Atom("Xtra", Bytes()
                             .Append(XtraText("WM/Mood", u"Wild"))
                             .Append(XtraValue("WM/SharedUserRating", 19, Bytes().U32LE(99)))
                             .Append(XtraValue("WM/WMContentID", 72, kGUIDBytes))
                             .Append(XtraValue("WM/WMCollectionID", 72, Bytes().U32LE(0x00112233).U16LE(0x4455).U16LE(0x6677).Str("\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF")))).v);
  // The write mode writes the rating scaled to 0..99.
  tag.XtraUsageConversion = mp4eucWrite;
  ASSERT_TRUE(tag.SetCommon("RATING", "com.apple.iTunes", "128"));
  ASSERT_TRUE(tag.GetIntegerXtra("WM/SharedUserRating", n));
  EXPECT_EQ(n, 49u);
  EXPECT_EQ(tag.FindAtomXtra("WM/SharedUserRating")->Properties[0].Data.size(), 8u);
  tag.ClearXtras();
  EXPECT_FALSE(tag.BuildXtra());
}

TEST(MP4Tag, XtraThatCannotBeParsedOrIsNotParsedIsKeptAsItWas)
{
  const Bytes ilst = Atom("ilst", Text("©nam", "T"));
  const Bytes entry = XtraText("WM/Mood", u"Calm");
  struct Case {
    const char *name;
    Bytes xtra;
    bool parse;
  };
  const Case cases[] = {
      {"not_parsed", XtraAtom(), false},
      {"count_too_large", Atom("Xtra", Bytes().U32BE(24).U32BE(4).Str("WM/A").U32BE(0x10000000).Zeros(8)), true},
      {"entry_size_past_atom", Atom("Xtra", Bytes().U32BE(400).U32BE(4).Str("WM/A")), true},
      {"property_below_its_header", Atom("Xtra", Bytes().U32BE(26).U32BE(4).Str("WM/A").U32BE(1).U32BE(2).U16BE(8).Zeros(4)), true},
      {"name_past_entry", Atom("Xtra", Bytes().U32BE(12).U32BE(40).U32BE(0)), true},
      {"entry_with_bytes_left", Atom("Xtra", Bytes().U32BE(static_cast<std::uint32_t>(entry.size() + 2)).Append(Slice(entry.v, 4, entry.size())).Zeros(2)), true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TMP4Tag tag;
    tag.ParseXtra = c.parse;
    ASSERT_EQ(LoadBytes(tag, File(ilst, true, c.xtra)), mp4tOk);
    EXPECT_TRUE(tag.XtraKeptVerbatim());
    EXPECT_EQ(tag.XtraCount(), 0);
    EXPECT_FALSE(tag.SetTextXtra("WM/Mood", "x", false));
    EXPECT_TRUE(tag.SetCommon("Mood", "com.apple.iTunes", "Wild"));  // the item only
    ASSERT_TRUE(tag.BuildXtra());
    EXPECT_EQ(*tag.BuildXtra(), c.xtra.v);
  }
}

TEST(MP4Tag, CopiesAreIndependentAndClearKeepsTheSettings)
{
  TMP4Tag tag;
  tag.ParseCoverArts = false;
  ASSERT_EQ(LoadBytes(tag, File(Atom("ilst", Text("©nam", "T")))), mp4tOk);
  TMP4Tag copy = tag;
  ASSERT_TRUE(copy.SetText("©nam", "U"));
  EXPECT_EQ(tag.GetText("©nam"), "T");
  EXPECT_FALSE(tag.Changed());
  tag.Clear();
  EXPECT_EQ(tag.Count(), 0);
  EXPECT_FALSE(tag.ParseCoverArts);
  // An empty tag builds an empty item list.
  EXPECT_EQ(BuiltIlst(tag), Atom("ilst", Bytes()).v);
}
