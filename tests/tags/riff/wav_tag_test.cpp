#include "tags/riff/wav_tag.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "tags/riff/chunk_walker.h"
#include "tags/streams/file_io.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

std::string AudioMD5(const std::string &Path)
{
  int status = 0;
  const std::string out = RunCommand("ffmpeg -v error -i '" + Path + "' -map 0:a -f md5 -", status);
  return status == 0 ? out : std::string();
}

// Four stereo 16-bit frames of a counting pattern, so that moved audio shows.
Bytes Audio(std::size_t Size = 16)
{
  Bytes b;
  for (std::size_t i = 0; i < Size; ++i) b.U8(static_cast<std::uint8_t>(0x40 + i));
  return b;
}

// An INFO item: id, size, value (a zero byte added unless Raw), pad.
Bytes Item(std::string_view ID, std::string_view Value, bool Raw = false)
{
  Bytes value = Bytes().Str(Value);
  if (!Raw) value.U8(0);
  return RiffChunk(ID, value);
}

Bytes Info(const Bytes &Items) { return RiffChunk("LIST", Bytes().Str("INFO").Append(Items)); }

Bytes FmtChunk(std::uint16_t Tag = 1, std::uint16_t Channels = 2, std::uint32_t Rate = 44100, std::uint16_t Bits = 16)
{
  return RiffChunk("fmt ", WaveFmt(Tag, Channels, Rate, Bits));
}

Bytes DataChunk(std::size_t Size = 16) { return RiffChunk("data", Audio(Size)); }

// A bext body: the record with Description, Originator and the given version and time
// reference, then History.
Bytes BextBody(std::string_view Description, std::uint16_t Version, std::uint64_t TimeRef, std::string_view History)
{
  Bytes b;
  b.Padded(Description, 256).Padded("Orig", 32).Padded("Ref", 32).Padded("2024-01-02", 10).Padded("03:04:05", 8);
  b.U64LE(TimeRef).U16LE(Version).Fill(64, 0xAB);
  b.U16LE(static_cast<std::uint16_t>(-2300)).U16LE(700).U16LE(static_cast<std::uint16_t>(-100)).U16LE(1).U16LE(2);
  b.Zeros(180);
  return b.Str(History);
}

// A cart body built field by field, then TagText.
Bytes CartBody(std::string_view TagText)
{
  Bytes b;
  b.Str("0101").Padded("Cart title", 64).Padded("Cart artist", 64).Padded("CUT1", 64).Padded("Client", 64)
    .Padded("Cat", 64).Padded("Class", 64).Padded("Out cue", 64).Padded("2024/01/02", 10).Padded("01:02:03", 8)
    .Padded("2025/01/02", 10).Padded("04:05:06", 8).Padded("App", 64).Padded("1.0", 64).Padded("User", 64);
  b.U32LE(32768);
  b.Str("MRK ").U32LE(48000).Str("SEC1").U32LE(96000);
  for (int i = 2; i < 8; ++i) b.Zeros(4).U32LE(0);
  b.Zeros(276).Padded("https://example.com/cart", 1024);
  return b.Str(TagText);
}

TWAVTag LoadBytes(const Bytes8 &Data, int Want = wavOk)
{
  TMemoryStream s{Bytes8(Data)};
  TWAVTag tag;
  EXPECT_EQ(tag.LoadFromStream(s), Want);
  return tag;
}

// Saves Tag into a copy of Data through its plan, as the container does; Want is PlanSave's code.
Bytes8 Saved(TWAVTag &Tag, const Bytes8 &Data, int Want = wavOk)
{
  TMemoryStream s{Bytes8(Data)};
  EXPECT_EQ(Tag.SaveToStream(s), Want);
  return s.Data();
}

// The chunk ids of a WAVE form, in order ("LIST" with its type: "LIST/INFO").
std::vector<std::string> ChunkIDs(const Bytes8 &Data)
{
  TMemoryStream s{Bytes8(Data)};
  TChunkForm form;
  std::vector<std::string> ids;
  if (ReadChunkFormHeader(s, 0, form) != cfcOk || CheckChunkForm(s, form) != cfcOk) return {"inconsistent"};
  for (const TChunk &c : form.Chunks) {
    std::string id = c.ID;
    if (id == "LIST") id += "/" + std::string(Data.begin() + c.DataOffset, Data.begin() + c.DataOffset + 4);
    ids.push_back(id);
  }
  return ids;
}

std::vector<std::string> ItemNames(const TWAVTag &Tag)
{
  std::vector<std::string> names;
  for (const auto &f : Tag.Frames) names.push_back(f->Name);
  return names;
}

const Bytes8 kSimple = Wave(Bytes().Append(FmtChunk()).Append(Info(Item("INAM", "Title").Append(Item("IART", "Artist")))).Append(DataChunk()));

} // namespace

// --- reading ------------------------------------------------------------------------------------

struct FixtureCase {
  const char *name;
  const char *file;
  int load;
  int items;
  const char *title;
  bool bext;
  std::uint64_t dataSize;
  std::uint64_t samples;
};

class WAVTagFixtureLoad : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(WAVTagFixtureLoad, ItemsBextAndAudio)
{
  const FixtureCase &c = GetParam();
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(FixturePath(c.file)), c.load);
  EXPECT_TRUE(tag.Loaded);
  EXPECT_EQ(tag.Count(), c.items);
  EXPECT_EQ(tag.GetText("INAM"), c.title);
  EXPECT_EQ(tag.BEXT.Loaded, c.bext);
  EXPECT_EQ(tag.SampleDataSize, c.dataSize);
  EXPECT_EQ(tag.SampleCount, c.samples);
  EXPECT_EQ(tag.Attributes.SamplesPerSec, 44100u);
  EXPECT_EQ(tag.Attributes.Channels, 2);
  EXPECT_EQ(tag.GetCodec(), "Windows PCM");
  EXPECT_EQ(tag.BitRate, 1411);
  EXPECT_NEAR(tag.PlayTime, 1.0, 1e-9);
  EXPECT_FALSE(tag.Changed());
}

INSTANTIATE_TEST_SUITE_P(
  Fixtures, WAVTagFixtureLoad,
  ::testing::Values(FixtureCase{"notags", "wav/notags.wav", wavOk, 0, "", false, 176400, 44100},
                    FixtureCase{"info_bext", "wav/info-bext-ffmpeg.wav", wavOk, 9, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC", true, 176400, 44100},
                    FixtureCase{"info_after_data", "wav/info-kid3.wav", wavOk, 16, "Bj\xC3\xB6rk - J\xC3\xB3ga", false, 176400, 44100},
                    FixtureCase{"info_behind_id3", "wav/info-id3-kid3.wav", wavOk, 9, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC", false, 176400, 44100},
                    FixtureCase{"id3_only", "wav/id3-mutagen.wav", wavOk, 0, "", false, 176400, 44100},
                    FixtureCase{"rf64", "rf64/rf64-info-bext-ffmpeg.wav", wavOk, 9, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC", true, 176400, 44100},
                    FixtureCase{"rf64_notags", "rf64/rf64-notags.wav", wavOk, 0, "", false, 176400, 44100},
                    FixtureCase{"rf64_inconsistent", "rf64/rf64-id3-kid3-inconsistent.wav", wavOk, 0, "", false, 176400, 44100}),
  [](const auto &Info) { return std::string(Info.param.name); });

TEST(WAVTagLoad, BextFieldsOfTheFixture)
{
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(FixturePath("wav/info-bext-ffmpeg.wav")), wavOk);
  EXPECT_EQ(tag.BEXT.GetDescription(), "Generated test take");
  EXPECT_EQ(tag.BEXT.GetOriginator(), "make_corpus");
  EXPECT_EQ(tag.BEXT.GetOriginatorReference(), "MKCORPUS0001");
  EXPECT_EQ(tag.BEXT.GetOriginationDate(), "2021-05-04");
  EXPECT_EQ(tag.BEXT.GetOriginationTime(), "12:34:56");
  EXPECT_EQ(tag.BEXT.GetTimeReference(), 44100u);
  EXPECT_EQ(tag.BEXT.GetVersion(), 1);
  EXPECT_EQ(tag.BEXT.GetCodingHistory(), "A=PCM,F=44100,W=16,M=stereo,T=sox");
  EXPECT_EQ(tag.GetText("ICOP"), "\xC2\xA9 2021 Test Label");
  std::vector<std::string> lines;
  TWAVTag kid3;
  ASSERT_EQ(kid3.LoadFromFile(FixturePath("wav/info-kid3.wav")), wavOk);
  EXPECT_EQ(kid3.GetText("LYRI"), "Line one\nLine two\nLine three");
}

TEST(WAVTagLoad, NotAWaveAndMissing)
{
  LoadBytes(Bytes().Str("RIFF").U32LE(4).Str("AVI "), wavNotWAVE);
  LoadBytes(Bytes().Str("fLaC").Zeros(40), wavNotWAVE);
  LoadBytes(Bytes8(), wavNotWAVE);
  TWAVTag tag;
  EXPECT_EQ(tag.LoadFromFile("/nonexistent/x.wav"), wavFileNotFound);
}

TEST(WAVTagLoad, SkipsAnID3v2TagInFrontOfTheForm)
{
  const Bytes8 file = Bytes().Append(ID3v2PaddingTag(64)).Append(kSimple).v;
  const TWAVTag tag = LoadBytes(file);
  EXPECT_EQ(tag.GetText("INAM"), "Title");
  // A header that claims more than the stream is no tag: the form is looked for at 0.
  LoadBytes(Bytes().Str("ID3").U8(4).U8(0).U8(0).Append(Synchsafe(100000)).Append(kSimple).v, wavNotWAVE);
}

struct TextCase {
  const char *name;
  Bytes value;   // stored as is
  const char *want;
};

class WAVTagItemText : public ::testing::TestWithParam<TextCase> {};

TEST_P(WAVTagItemText, OnlyTrailingZerosAreStripped)
{
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(Info(RiffChunk("ICMT", GetParam().value))).Append(DataChunk()));
  const TWAVTag tag = LoadBytes(file);
  EXPECT_EQ(tag.GetText("ICMT"), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
  Table, WAVTagItemText,
  ::testing::Values(TextCase{"terminated", Bytes().Str("abc").U8(0), "abc"},
                    TextCase{"unterminated_keeps_its_last_character", Bytes().Str("abcd"), "abcd"},
                    TextCase{"several_terminators", Bytes().Str("ab").Zeros(3), "ab"},
                    TextCase{"code_page_when_not_utf8", Bytes().Str("Caf").U8(0xE9).U8(0), "Caf\xC3\xA9"},
                    TextCase{"utf8", Bytes().Str("Caf\xC3\xA9").U8(0), "Caf\xC3\xA9"},
                    TextCase{"empty", Bytes(), ""},
                    TextCase{"only_a_terminator", Bytes().U8(0), ""}),
  [](const auto &Info) { return std::string(Info.param.name); });

struct HostileCase {
  const char *name;
  Bytes8 file;
  int want;
  int items;
  bool bext;
  bool cart;
  std::uint64_t dataSize;
};

class WAVTagHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(WAVTagHostile, LoadsWhatItCanAndNeverWritesItBack)
{
  const HostileCase &c = GetParam();
  TWAVTag tag = LoadBytes(c.file, c.want);
  EXPECT_EQ(tag.Count(), c.items);
  EXPECT_EQ(tag.BEXT.Loaded, c.bext);
  EXPECT_EQ(tag.CART.Loaded, c.cart);
  EXPECT_EQ(tag.SampleDataSize, c.dataSize);
  EXPECT_EQ(tag.Damaged(), c.want == wavDamaged);
  tag.SetText("INAM", "changed");
  TRewritePlan plan;
  TMemoryStream s{Bytes8(c.file)};
  if (c.want == wavDamaged) {
    EXPECT_EQ(tag.PlanSave(s, plan), wavDamaged);
    EXPECT_TRUE(plan.ChangesNothing());
  }
}

INSTANTIATE_TEST_SUITE_P(
  Table, WAVTagHostile,
  ::testing::Values(
    HostileCase{"item_past_its_list",
                Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("LIST", Bytes().Str("INFO").Append(Item("INAM", "ab")).Str("IART").U32LE(100).Str("xy"))).Append(DataChunk())),
                wavDamaged, 2, false, false, 16},
    HostileCase{"item_size_all_ones",
                Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("LIST", Bytes().Str("INFO").Str("IART").U32LE(0xFFFFFFFFu).Str("xy"))).Append(DataChunk())),
                wavDamaged, 1, false, false, 16},
    HostileCase{"list_past_the_file",
                Wave(Bytes().Append(FmtChunk()).Append(DataChunk()).Str("LIST").U32LE(1000).Str("INFO").Append(Item("INAM", "ab"))),
                wavDamaged, 1, false, false, 16},
    HostileCase{"bext_shorter_than_its_record",
                Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("bext", Bytes().Padded("short", 100))).Append(DataChunk())),
                wavDamaged, 0, false, false, 16},
    HostileCase{"cart_shorter_than_its_record",
                Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("cart", Bytes().Padded("0101", 2000))).Append(DataChunk())),
                wavDamaged, 0, false, false, 16},
    HostileCase{"bext_past_the_file",
                Wave(Bytes().Append(FmtChunk()).Append(DataChunk()).Str("bext").U32LE(900).Append(BextBody("d", 1, 0, ""))),
                wavDamaged, 0, true, false, 16},
    HostileCase{"data_larger_than_the_file",
                Wave(Bytes().Append(FmtChunk()).Append(Info(Item("INAM", "ab"))).Str("data").U32LE(0x7FFFFFFF).Append(Audio(20))),
                wavDamaged, 1, false, false, 20},
    HostileCase{"list_shorter_than_its_type_is_not_ours",
                Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("LIST", Bytes().Str("IN"))).Append(DataChunk())),
                wavOk, 0, false, false, 16},
    HostileCase{"junk_after_the_form_is_not_the_tag",
                Bytes().Append(kSimple).Str("TAG").Fill(125, 0x41).v, wavOk, 2, false, false, 16},
    HostileCase{"two_info_lists_both_read",
                Wave(Bytes().Append(FmtChunk()).Append(Info(Item("INAM", "a"))).Append(DataChunk()).Append(Info(Item("IART", "b")))),
                wavOk, 2, false, false, 16}),
  [](const auto &Info) { return std::string(Info.param.name); });

TEST(WAVTagLoad, ZeroDivisorsGiveZero)
{
  const Bytes fmt = RiffChunk("fmt ", Bytes().U16LE(1).U16LE(0).U32LE(0).U32LE(0).U16LE(0).U16LE(0));
  const TWAVTag tag = LoadBytes(Wave(Bytes().Append(fmt).Append(DataChunk())));
  EXPECT_EQ(tag.SampleDataSize, 16u);
  EXPECT_EQ(tag.SampleCount, 0u);
  EXPECT_EQ(tag.PlayTime, 0.0);
  EXPECT_EQ(tag.BitRate, 0);
  // A fact count without a sample rate falls back to the byte rate, which is 0 as well.
  const TWAVTag fact = LoadBytes(Wave(Bytes().Append(fmt).Append(RiffChunk("fact", Bytes().U32LE(10))).Append(DataChunk())));
  EXPECT_EQ(fact.PlayTime, 0.0);
  // A fmt chunk cut short leaves the fields it lacks 0.
  const TWAVTag shortFmt = LoadBytes(Wave(Bytes().Append(RiffChunk("fmt ", Bytes().U16LE(1).U16LE(2))).Append(DataChunk())));
  EXPECT_EQ(shortFmt.Attributes.Channels, 2);
  EXPECT_EQ(shortFmt.Attributes.SamplesPerSec, 0u);
  EXPECT_EQ(shortFmt.SampleCount, 0u);
  EXPECT_EQ(shortFmt.PlayTime, 0.0);
}

TEST(WAVTagLoad, FactCountGivesThePlayTime)
{
  const TWAVTag tag = LoadBytes(Wave(Bytes().Append(FmtChunk(2, 1, 8000, 4)).Append(RiffChunk("fact", Bytes().U32LE(16000))).Append(DataChunk())));
  EXPECT_NEAR(tag.PlayTime, 2.0, 1e-9);
  EXPECT_EQ(tag.GetCodec(), "Microsoft ADPCM");
}

TEST(WAVTagLoad, CartChunkBuiltByHand)
{
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("cart", CartBody("free text"))).Append(DataChunk()));
  TWAVTag tag = LoadBytes(file);
  const TCART &cart = tag.CART;
  ASSERT_TRUE(cart.Loaded);
  EXPECT_EQ(cart.GetVersion(), "0101");
  EXPECT_EQ(cart.GetTitle(), "Cart title");
  EXPECT_EQ(cart.GetArtist(), "Cart artist");
  EXPECT_EQ(cart.GetCutID(), "CUT1");
  EXPECT_EQ(cart.GetClientID(), "Client");
  EXPECT_EQ(cart.GetCategory(), "Cat");
  EXPECT_EQ(cart.GetClassification(), "Class");
  EXPECT_EQ(cart.GetOutCue(), "Out cue");
  EXPECT_EQ(cart.GetStartDate(), "2024/01/02");
  EXPECT_EQ(cart.GetStartTime(), "01:02:03");
  EXPECT_EQ(cart.GetEndDate(), "2025/01/02");
  EXPECT_EQ(cart.GetEndTime(), "04:05:06");
  EXPECT_EQ(cart.GetProducerAppID(), "App");
  EXPECT_EQ(cart.GetProducerAppVersion(), "1.0");
  EXPECT_EQ(cart.GetUserDef(), "User");
  EXPECT_EQ(cart.GetLevelReference(), 32768u);
  EXPECT_EQ(cart.GetURL(), "https://example.com/cart");
  EXPECT_EQ(cart.GetTagText(), "free text");
  TCART_TIMER timer;
  ASSERT_TRUE(cart.GetPostTimer(0, timer));
  EXPECT_EQ(timer, (TCART_TIMER{"MRK ", 48000}));
  ASSERT_TRUE(cart.GetPostTimer(1, timer));
  EXPECT_EQ(timer, (TCART_TIMER{"SEC1", 96000}));
  EXPECT_FALSE(cart.GetPostTimer(8, timer));
  EXPECT_FALSE(cart.GetPostTimer(-1, timer));
  EXPECT_EQ(cart.GetPostTimers().size(), 64u);

  // Changed and saved: the record is written back field by field, the rest byte for byte.
  tag.CART.SetTitle("New cart title");
  ASSERT_TRUE(tag.CART.SetPostTimer(3, TCART_TIMER{"MRK", 123}));
  EXPECT_FALSE(tag.CART.SetPostTimer(8, TCART_TIMER{"X", 1}));
  ASSERT_TRUE(tag.CART.ClearPostTimer(1));
  const Bytes8 saved = Saved(tag, file);
  const TWAVTag again = LoadBytes(saved);
  EXPECT_EQ(again.CART.GetTitle(), "New cart title");
  EXPECT_EQ(again.CART.GetArtist(), "Cart artist");
  EXPECT_EQ(again.CART.GetTagText(), "free text");
  ASSERT_TRUE(again.CART.GetPostTimer(3, timer));
  EXPECT_EQ(timer, (TCART_TIMER{"MRK", 123}));
  ASSERT_TRUE(again.CART.GetPostTimer(1, timer));
  EXPECT_EQ(timer, TCART_TIMER{});
  EXPECT_EQ(again.CART.CARTChunk.Reserved, tag.CART.CARTChunk.Reserved);
  EXPECT_EQ(again.CART.GetURL(), "https://example.com/cart");
}

TEST(WAVTagLoad, EventChunkBuiltByHand)
{
  const Bytes events = Bytes()
    .U16LE(1).U16LE(0).U32LE(0).U64LE(100).U32LE(0).U32LE(7)                     // a plain event
    .U16LE(3).U16LE(0).U32LE(1).U64LE(200).U32LE(5).U32LE(0).Str("token").Zeros(3 + 2)  // 5 bytes, to 4, 2 more
    .U16LE(4).U16LE(0).U32LE(2).U64LE(300).U32LE(4).U32LE(0).Str("mark").Zeros(2);
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("EVNT", events)).Append(DataChunk()));
  TWAVTag tag = LoadBytes(file);
  ASSERT_TRUE(tag.EVNT.Loaded);
  ASSERT_EQ(tag.EVNT.SPEVENTS.size(), 3u);
  EXPECT_EQ(tag.EVNT.SPEVENTS[0].lParam, 7u);
  EXPECT_EQ(tag.EVNT.SPEVENTS[1].AudioStreamOffset, 200u);
  EXPECT_EQ(tag.EVNT.SPEVENTS[1].TOKENDATA, Bytes().Str("token").v);
  EXPECT_EQ(tag.EVNT.SPEVENTS[2].BOOKMARK, Bytes().Str("mark").v);
  // A data length past the chunk stops the events there; nothing is read past it.
  const Bytes hostile = Bytes().U16LE(3).U16LE(0).U32LE(1).U64LE(0).U32LE(0xFFFFFFF0u).U32LE(0).Str("xx");
  const TWAVTag cut = LoadBytes(Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("EVNT", hostile)).Append(DataChunk())));
  EXPECT_TRUE(cut.EVNT.Loaded);
  EXPECT_TRUE(cut.EVNT.SPEVENTS.empty());
  // The chunk is copied unchanged by a save.
  tag.SetText("INAM", "x");
  const Bytes8 saved = Saved(tag, file);
  EXPECT_NE(std::search(saved.begin(), saved.end(), events.v.begin(), events.v.end()), saved.end());
}

// --- items and fields ---------------------------------------------------------------------------

TEST(WAVTagItems, SetTextListsAndDuplicates)
{
  TWAVTag tag = LoadBytes(Wave(Bytes().Append(FmtChunk()).Append(Info(Item("IART", "A").Append(Item("IART", "B")).Append(Item("INAM", "T")))).Append(DataChunk())));
  EXPECT_EQ(tag.FrameTypeCount("IART"), 2);
  EXPECT_EQ(tag.FrameExists("iart"), -1);
  tag.SetText("IART", "A, B");
  EXPECT_EQ(tag.FrameTypeCount("IART"), 1);
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"IART", "INAM"}));
  tag.SetText("INAM", "");
  EXPECT_EQ(tag.FrameExists("INAM"), -1);
  tag.SetList("TIPL", {"producer", "P", "engineer", "E"});
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetList("TIPL", list));
  EXPECT_EQ(list, (std::vector<std::string>{"producer", "P", "engineer", "E"}));
  EXPECT_EQ(tag.Frames[static_cast<std::size_t>(tag.FrameExists("TIPL"))]->Stream,
            Bytes().Str("producer\r\nP\r\nengineer\r\nE\r\n").U8(0).v);
  EXPECT_FALSE(tag.GetList("NONE", list));
  EXPECT_EQ(tag.DeleteFrameByName("TIPL"), 1);
  tag.AddBinaryFrame("IBIN", Bytes().U8(1).U8(2).v);
  EXPECT_EQ(tag.GetText("IBIN"), "");
}

TEST(WAVTagItems, StoredSizesAndEncodings)
{
  TWAVTagFrame five;
  five.SetText("Hello");
  EXPECT_EQ(five.Stream.size(), 6u);
  EXPECT_EQ(five.StoredSize(), 14);
  TWAVTagFrame four;
  four.SetText("Four");
  EXPECT_EQ(four.Stream.size(), 5u);
  EXPECT_EQ(four.StoredSize(), 14);  // with its pad byte
  // Text is written in UTF-8, what other readers take INFO text to be; code-page text is read.
  TWAVTagFrame latin;
  latin.SetText("Caf\xC3\xA9");
  EXPECT_EQ(latin.Stream, Bytes().Str("Caf\xC3\xA9").U8(0).v);
  TWAVTagFrame codePage;
  codePage.Stream = Bytes().Str("Caf").U8(0xE9).U8(0).v;
  EXPECT_EQ(codePage.GetText(), "Caf\xC3\xA9");
  // Text that would be valid UTF-8 in the code page too reads back as itself.
  TWAVTagFrame tricky;
  tricky.SetText("\xC3\x83\xC2\xA9");  // "Ã©": in the code page C3 A9, which reads as "é"
  EXPECT_EQ(tricky.GetText(), "\xC3\x83\xC2\xA9");
  TWAVTagFrame empty;
  empty.SetText("");
  EXPECT_TRUE(empty.Stream.empty());
}

TEST(WAVTagFields, BextAccessors)
{
  TBEXT b;
  EXPECT_FALSE(b.HasContent());
  b.SetDescription(std::string(300, 'd'));
  EXPECT_EQ(b.GetDescription(), std::string(256, 'd'));
  b.SetOriginator("\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5");
  // 33 bytes of UTF-8 in 32: cut to 30, not in the middle of a character.
  EXPECT_EQ(b.GetOriginator(), "\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5\xE6\x9C\xAC");
  b.SetTimeReference(0x1'2345'6789ull);
  b.SetLoudnessValue(-2300);
  EXPECT_EQ(b.GetUMID(), "");  // version 0
  b.SetVersion(2);
  b.SetUMID("06 0a 2B zz 1");
  EXPECT_EQ(b.GetUMID().substr(0, 15), "06 0A 2B 00 01 ");
  EXPECT_EQ(b.GetUMID().size(), 64u * 3 - 1);
  b.SetCodingHistory("A=PCM\r\n");
  EXPECT_EQ(b.CalculateSize(), 602 + 7 + 1 + 0);
  const TBytes data = b.BuildData();
  ASSERT_EQ(static_cast<std::int64_t>(data.size()), b.CalculateSize());
  ByteReader in(data);
  TAG_BEXT back;
  ASSERT_TRUE(back.Read(in));
  EXPECT_EQ(back, b.BEXTChunk);
  EXPECT_EQ(back.LoudnessValue, -2300);
  TBEXT zeroVersion;
  zeroVersion.SetDescription("x");
  EXPECT_EQ(zeroVersion.BuildData()[346], 1);  // written as version 1
  TCART c;
  EXPECT_FALSE(c.HasContent());
  c.SetTagText("t");
  EXPECT_EQ(c.CalculateSize(), 2048 + 2);
  const TBytes cartData = c.BuildData();
  EXPECT_EQ(std::string(cartData.begin(), cartData.begin() + 4), "0101");
}

// --- saving -------------------------------------------------------------------------------------

TEST(WAVTagSave, UntouchedPlansNothing)
{
  for (const char *fixture : {"wav/info-bext-ffmpeg.wav", "wav/info-kid3.wav", "wav/notags.wav", "rf64/rf64-info-bext-ffmpeg.wav",
                              "rf64/rf64-id3-kid3-inconsistent.wav"}) {
    SCOPED_TRACE(fixture);
    TWAVTag tag;
    ASSERT_NE(tag.LoadFromFile(FixturePath(fixture)), wavNotWAVE);
    TMemoryStream s(ReadFileBytes(FixturePath(fixture)));
    TRewritePlan plan;
    EXPECT_EQ(tag.PlanSave(s, plan), wavOk);
    EXPECT_TRUE(plan.ChangesNothing());
    // The same text set again is no change either.
    if (tag.Count() > 0) tag.SetText(tag.Frames[0]->Name, tag.Frames[0]->GetText());
    EXPECT_FALSE(tag.Changed());
  }
}

TEST(WAVTagSave, ReplacesTheInfoListWhereItIs)
{
  TWAVTag tag = LoadBytes(kSimple);
  tag.SetText("INAM", "Hello");
  tag.SetText("ICMT", "Four");
  const Bytes8 saved = Saved(tag, kSimple);
  EXPECT_EQ(ChunkIDs(saved), (std::vector<std::string>{"fmt ", "LIST/INFO", "data"}));
  const Bytes8 want = Wave(Bytes().Append(FmtChunk()).Append(Info(Item("INAM", "Hello").Append(Item("IART", "Artist")).Append(Item("ICMT", "Four")))).Append(DataChunk()));
  EXPECT_EQ(saved, want);
  EXPECT_FALSE(tag.Changed());
  // Saved again with nothing changed: nothing is written.
  TMemoryStream s{Bytes8(saved)};
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), wavOk);
  EXPECT_TRUE(plan.ChangesNothing());
}

TEST(WAVTagSave, AllInfoListsReadOneWritten)
{
  const Bytes other = RiffChunk("LIST", Bytes().Str("adtl").Append(RiffChunk("labl", Bytes().U32LE(1).Str("cue"))));
  const Bytes odd = RiffChunk("xodd", Bytes().Str("abc"));
  const Bytes id3 = RiffChunk("id3 ", ID3v2PaddingTag(32));
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(Info(Item("INAM", "a"))).Append(other).Append(DataChunk())
                             .Append(odd).Append(Info(Item("IART", "b"))).Append(id3));
  TWAVTag tag = LoadBytes(file);
  EXPECT_EQ(ItemNames(tag), (std::vector<std::string>{"INAM", "IART"}));
  tag.SetText("ICMT", "c");
  const Bytes8 saved = Saved(tag, file);
  EXPECT_EQ(ChunkIDs(saved), (std::vector<std::string>{"fmt ", "LIST/INFO", "LIST/adtl", "data", "xodd", "id3 "}));
  // Every other chunk byte for byte, the pad byte of the odd one and the id3 chunk included.
  for (const Bytes *chunk : {&other, &odd, &id3})
    EXPECT_NE(std::search(saved.begin(), saved.end(), chunk->v.begin(), chunk->v.end()), saved.end());
  const TWAVTag again = LoadBytes(saved);
  EXPECT_EQ(ItemNames(again), (std::vector<std::string>{"INAM", "IART", "ICMT"}));
}

TEST(WAVTagSave, NewChunksGoInFrontOfTheAudio)
{
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(DataChunk()).Append(RiffChunk("id3 ", ID3v2PaddingTag(20))));
  TWAVTag tag = LoadBytes(file);
  tag.SetText("INAM", "t");
  tag.BEXT.SetDescription("d");
  tag.CART.SetTitle("c");
  const Bytes8 saved = Saved(tag, file);
  EXPECT_EQ(ChunkIDs(saved), (std::vector<std::string>{"fmt ", "bext", "cart", "LIST/INFO", "data", "id3 "}));
  const TWAVTag again = LoadBytes(saved);
  EXPECT_EQ(again.BEXT.GetVersion(), 1);
  EXPECT_EQ(again.CART.GetVersion(), "0101");
  EXPECT_EQ(again.GetText("INAM"), "t");
  EXPECT_EQ(Slice(saved, saved.size() - 28, saved.size()).v, RiffChunk("id3 ", ID3v2PaddingTag(20)).v);
}

TEST(WAVTagSave, RemovingLeavesFmtDataAndTheRest)
{
  const Bytes id3 = RiffChunk("id3 ", ID3v2PaddingTag(20));
  const Bytes8 file = Wave(Bytes().Append(FmtChunk()).Append(RiffChunk("bext", BextBody("d", 1, 5, "h"))).Append(Info(Item("INAM", "a")))
                             .Append(DataChunk()).Append(RiffChunk("cart", CartBody(""))).Append(id3));
  TMemoryStream s{Bytes8(file)};
  ASSERT_EQ(RemoveWAVTagFromStream(s), wavOk);
  EXPECT_EQ(ChunkIDs(s.Data()), (std::vector<std::string>{"fmt ", "data", "id3 "}));
  EXPECT_EQ(s.Data(), Wave(Bytes().Append(FmtChunk()).Append(DataChunk()).Append(id3)).v);
  // Nothing left to remove: nothing is written.
  TRewritePlan plan;
  EXPECT_EQ(TWAVTag::PlanRemove(s, plan), wavOk);
  EXPECT_TRUE(plan.ChangesNothing());
  // An empty tag saved removes them as well.
  TWAVTag tag = LoadBytes(file);
  tag.Frames.clear();
  tag.BEXT.Clear();
  tag.CART.Clear();
  EXPECT_EQ(Saved(tag, file), s.Data());
}

TEST(WAVTagSave, RefusesWhatItCannotWriteSafely)
{
  TWAVTag tag;
  tag.SetText("INAM", "x");
  const struct {
    const char *name;
    Bytes8 file;
    int want;
  } cases[] = {
    {"not_wave", Bytes().Str("RIFF").U32LE(4).Str("AVI ").v, wavNotWAVE},
    {"no_data_chunk", Wave(FmtChunk()).v, wavDamaged},
    {"size_short_of_the_chunks", Bytes().Str("RIFF").U32LE(30).Str("WAVE").Append(FmtChunk()).Append(DataChunk()).v, wavDamaged},
    {"rf64_with_a_32_bit_size", Bytes().Str("RF64").U32LE(4 + 36 + 24 + 24).Str("WAVE").Append(RiffChunk("ds64", Ds64(88, 16, 4)))
                                     .Append(FmtChunk()).Append(DataChunk()).v, wavDamaged},
    {"rf64_data_size_disagrees", Bytes().Str("RF64").U32LE(0xFFFFFFFFu).Str("WAVE").Append(RiffChunk("ds64", Ds64(88, 20, 4)))
                                      .Append(FmtChunk()).Append(DataChunk()).v, wavDamaged},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream s{Bytes8(c.file)};
    TRewritePlan plan;
    EXPECT_EQ(tag.PlanSave(s, plan), c.want);
    EXPECT_TRUE(plan.ChangesNothing());
    EXPECT_EQ(TWAVTag::PlanRemove(s, plan), c.want);
  }
}

TEST(WAVTagSave, RF64KeepsDs64Consistent)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("rf64/rf64-info-bext-ffmpeg.wav");
  const std::string md5 = HaveTool("ffmpeg") ? AudioMD5(path) : std::string();
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wavOk);
  tag.SetText("INAM", "A longer title than the one before, so that the audio moves");
  tag.BEXT.SetDescription("new description");
  ASSERT_EQ(tag.SaveToFile(path), wavOk);
  const Bytes8 saved = ReadFileBytes(path);
  TMemoryStream s{Bytes8(saved)};
  TChunkForm form;
  ASSERT_EQ(ReadChunkFormHeader(s, 0, form), cfcOk);
  EXPECT_EQ(form.Size32, 0xFFFFFFFFu);
  ASSERT_TRUE(form.Ds64.Valid);
  EXPECT_EQ(form.Ds64.RiffSize, saved.size() - 8);
  EXPECT_EQ(form.Ds64.DataSize, 176400u);
  EXPECT_EQ(form.Ds64.SampleCount, 44100u);
  ASSERT_EQ(CheckChunkForm(s, form), cfcOk);
  TWAVTag again;
  ASSERT_EQ(again.LoadFromFile(path), wavOk);
  EXPECT_EQ(again.GetText("INAM"), "A longer title than the one before, so that the audio moves");
  EXPECT_EQ(again.BEXT.GetDescription(), "new description");
  EXPECT_EQ(again.BEXT.GetCodingHistory(), "A=PCM,F=44100,W=16,M=stereo,T=sox");
  EXPECT_EQ(again.SampleDataSize, 176400u);
  if (!md5.empty()) {
    EXPECT_EQ(AudioMD5(path), md5);
  }
}

TEST(WAVTagSave, InconsistentRF64IsReadButNotWritten)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("rf64/rf64-id3-kid3-inconsistent.wav");
  const Bytes8 old = ReadFileBytes(path);
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wavOk);
  tag.SetText("INAM", "x");
  EXPECT_EQ(tag.SaveToFile(path), wavDamaged);
  EXPECT_EQ(RemoveWAVTagFromFile(path, false), wavDamaged);
  EXPECT_EQ(ReadFileBytes(path), old);
}

// A WAVE file of Size bytes whose data chunk's bytes are not stored: reads of them give zeros.
class TSparseWave : public TStream {
public:
  TSparseWave(Bytes8 Head, std::int64_t Size) : FHead(std::move(Head)), FSize(Size) {}
  std::int64_t Read(void *Buffer, std::int64_t Count) override
  {
    const std::int64_t n = std::max<std::int64_t>(0, std::min(Count, FSize - FPos));
    auto *out = static_cast<std::uint8_t *>(Buffer);
    for (std::int64_t i = 0; i < n; ++i)
      out[i] = FPos + i < static_cast<std::int64_t>(FHead.size()) ? FHead[static_cast<std::size_t>(FPos + i)] : 0;
    FPos += n;
    return n;
  }
  std::int64_t Write(const void *, std::int64_t) override { return -1; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override
  {
    FPos = ClampedSeekTarget(Offset, Origin, FPos, FSize);
    return FPos;
  }
  std::int64_t GetSize() override { return FSize; }
  bool SetSize(std::int64_t) override { return false; }

private:
  Bytes8 FHead;
  std::int64_t FSize;
  std::int64_t FPos = 0;
};

TEST(WAVTagSave, PlainRiffPastFourGiBIsRefused)
{
  const std::uint32_t riffSize = 0xFFFFFFF0u;
  const std::uint32_t dataSize = riffSize - 4 - 24 - 8;
  const Bytes8 head = Bytes().Str("RIFF").U32LE(riffSize).Str("WAVE").Append(FmtChunk()).Str("data").U32LE(dataSize).v;
  TSparseWave s(head, 8 + static_cast<std::int64_t>(riffSize));
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromStream(s), wavOk);
  EXPECT_EQ(tag.SampleDataSize, dataSize);
  tag.SetText("INAM", "a title that does not fit");
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(s, plan), wavSizeOverflow);
  EXPECT_TRUE(plan.ChangesNothing());
}

struct RoundTripCase {
  const char *name;
  const char *file;
  bool bext;     // the change reaches the bext chunk too (a new one goes in front of the audio)
  bool inPlace;  // the composed plan is made in place
};

class WAVTagFixtureSave : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(WAVTagFixtureSave, RoundTripKeepsTheAudioAndSurvivesEveryFailingWrite)
{
  const RoundTripCase &c = GetParam();
  TempDir dir;
  const std::string original = dir.CopyFixture(c.file, "original.wav");
  const auto change = [&](TWAVTag &Tag) {
    Tag.SetText("INAM", "A new title \xE6\x97\xA5");
    Tag.SetText("IART", "");
    Tag.SetText("ICMT", "Comment");
    if (c.bext) Tag.BEXT.SetOriginator("Someone");
  };
  TempDir faults;
  bool inPlace = false;
  const TWriteFailureRun run = RunFailingEachPlannedWrite(faults.Path(), c.file, "", [&](const std::string &Path, TRewritePlan &Plan) {
    TWAVTag tag;
    ASSERT_NE(tag.LoadFromFile(Path), wavNotWAVE);
    change(tag);
    TFileFacts facts;
    auto file = TFileStream::Open(Path, TFileMode::fmOpenRead, facts);
    ASSERT_TRUE(file);
    TRewritePlan planned;
    ASSERT_EQ(tag.PlanSave(*file, planned), wavOk);
    ASSERT_TRUE(ComposePlans(file->GetSize(), std::span<const TRewritePlan>(&planned, 1), Plan));
    inPlace = Plan.InPlace;
  });
  EXPECT_TRUE(run.Succeeded);
  EXPECT_GT(run.Failures, 0);
  EXPECT_EQ(inPlace, c.inPlace);

  const std::string path = dir.CopyFixture(c.file, "saved.wav");
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wavOk);
  change(tag);
  ASSERT_EQ(tag.SaveToFile(path), wavOk);
  TWAVTag again;
  ASSERT_EQ(again.LoadFromFile(path), wavOk);
  EXPECT_EQ(again.GetText("INAM"), "A new title \xE6\x97\xA5");
  EXPECT_EQ(again.FrameExists("IART"), -1);
  EXPECT_EQ(again.GetText("ICMT"), "Comment");
  if (c.bext) {
    EXPECT_EQ(again.BEXT.GetOriginator(), "Someone");
  }
  EXPECT_EQ(again.SampleDataSize, tag.SampleDataSize);
  if (HaveTool("ffmpeg")) {
    const std::string md5 = AudioMD5(original);
    EXPECT_FALSE(md5.empty());
    EXPECT_EQ(AudioMD5(path), md5);
  }
  EXPECT_EQ(RemoveWAVTagFromFile(path, false), wavOk);
  TWAVTag removed;
  ASSERT_EQ(removed.LoadFromFile(path), wavOk);
  EXPECT_FALSE(removed.HasTag());
  if (HaveTool("ffmpeg")) {
    EXPECT_EQ(AudioMD5(path), AudioMD5(original));
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, WAVTagFixtureSave,
                         ::testing::Values(RoundTripCase{"info_bext", "wav/info-bext-ffmpeg.wav", true, false},
                                           RoundTripCase{"info_after_data", "wav/info-kid3.wav", false, true},
                                           RoundTripCase{"info_after_data_new_bext", "wav/info-kid3.wav", true, false},
                                           RoundTripCase{"info_behind_id3", "wav/info-id3-kid3.wav", false, true},
                                           RoundTripCase{"notags", "wav/notags.wav", true, false},
                                           RoundTripCase{"rf64", "rf64/rf64-info-bext-ffmpeg.wav", true, false}),
                         [](const auto &Info) { return std::string(Info.param.name); });

TEST(WAVTagSave, SameSizeChangeIsMadeInPlace)
{
  TWAVTag tag = LoadBytes(kSimple);
  tag.SetText("INAM", "Tutle");
  TMemoryStream s{Bytes8(kSimple)};
  TRewritePlan plan, composed;
  ASSERT_EQ(tag.PlanSave(s, plan), wavOk);
  ASSERT_TRUE(ComposePlans(s.GetSize(), std::span<const TRewritePlan>(&plan, 1), composed));
  EXPECT_TRUE(composed.InPlace);
}

TEST(WAVTagFile, MissingAndReadOnly)
{
  TWAVTag tag;
  tag.SetText("INAM", "x");
  EXPECT_EQ(tag.SaveToFile("/nonexistent/x.wav"), wavFileNotFound);
  EXPECT_EQ(RemoveWAVTagFromFile("/nonexistent/x.wav", false), wavFileNotFound);
  TempDir dir;
  const std::string path = dir.CopyFixture("wav/info-kid3.wav");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  if (access(path.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore the mode bits";
  EXPECT_EQ(tag.SaveToFile(path), wavReadOnly);
  EXPECT_EQ(RemoveWAVTagFromFile(path, false), wavReadOnly);
}

TEST(WAVTagFile, PreservesTheModificationTime)
{
  TempDir dir;
  const std::string path = dir.CopyFixture("wav/info-kid3.wav");
  SetOldModTime(path);
  const struct timespec before = ModTime(path);
  TWAVTag tag;
  ASSERT_EQ(tag.LoadFromFile(path), wavOk);
  tag.PreserveFileDateTime = true;
  tag.SetText("INAM", "kept time");
  ASSERT_EQ(tag.SaveToFile(path), wavOk);
  EXPECT_TRUE(SameTime(ModTime(path), before));
}
