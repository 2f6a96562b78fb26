#include <gtest/gtest.h>

#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tests/support/test_support.h"
#include "tests/tags/id3/id3v2_test_bytes.h"

namespace {

// A tag holding one frame with the given data.
int WithFrame(TID3v2Tag &tag, const char *id, const Bytes &data)
{
  const int i = tag.AddFrame(id);
  tag.Frame(i)->Stream.Data() = data.v;
  return i;
}

} // namespace

struct TextCase {
  const char *name;
  Bytes data;
  std::string text;
};

class ID3v2TextRead : public ::testing::TestWithParam<TextCase> {};

TEST_P(ID3v2TextRead, Decodes)
{
  TID3v2Tag tag;
  const int i = WithFrame(tag, "TPE1", GetParam().data);
  EXPECT_EQ(tag.GetText(i), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
  Table, ID3v2TextRead,
  ::testing::Values(
    TextCase{"utf16_two_strings", Bytes().U8(1).U8(0xFF).U8(0xFE).U16LE('A').U16LE(0).U16LE('B').U16LE(0), "A\r\nB"},
    TextCase{"second_string_keeps_le", Bytes().U8(1).U8(0xFF).U8(0xFE).U16LE('A').U16LE(0).U16LE('B').U16LE(0), "A\r\nB"},
    TextCase{"second_string_keeps_be", Bytes().U8(1).U8(0xFE).U8(0xFF).U16BE('A').U16BE(0).U16BE('B').U16BE(0), "A\r\nB"},
    TextCase{"utf16be", Bytes().U8(2).U16BE(0x00E9).U16BE(0), "\xC3\xA9"},
    TextCase{"utf8_unterminated", Bytes().U8(3).Str("\xE6\x97\xA5"), "\xE6\x97\xA5"},
    TextCase{"latin1", Bytes().U8(0).U8(0xE9).U8(0), "\xC3\xA9"},
    TextCase{"no_encoding_byte", Bytes().Str("Text"), "Text"},
    TextCase{"odd_utf16_tail", Bytes().U8(1).U8(0xFF).U8(0xFE).U16LE('A').U8(0x42), "A"},
    TextCase{"trimmed", Bytes().U8(0).Str("  spaced \t").U8(0), "spaced"},
    TextCase{"leading_empty_strings", Bytes().U8(0).U8(0).U8(0).Str("X").U8(0), "X"}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

struct WriteCase {
  const char *name;
  TID3v2TextEncoding encoding;
  std::string text;
  Bytes data;
};

class ID3v2TextWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ID3v2TextWrite, Encodes)
{
  TID3v2Tag tag;
  ASSERT_TRUE(tag.SetText("TIT2", GetParam().text, GetParam().encoding));
  EXPECT_EQ(tag.Frame(tag.FrameExists("TIT2"))->Data(), GetParam().data.v);
  EXPECT_EQ(tag.GetText("TIT2"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
  Table, ID3v2TextWrite,
  ::testing::Values(
    WriteCase{"unicode", teUnicode, "Ab", Bytes().U8(1).U8(0xFF).U8(0xFE).U8(0x41).U8(0).U8(0x62).U8(0).U8(0).U8(0)},
    WriteCase{"utf8", teUTF8, "\xC3\xA9", Bytes().U8(3).U8(0xC3).U8(0xA9).U8(0)},
    WriteCase{"ansi_is_latin1", teANSI, "\xC3\xA9", Bytes().U8(0).U8(0xE9).U8(0)}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(ID3v2Frames, EveryWrittenUtf16StringHasAMark)
{
  TID3v2Tag tag;
  ASSERT_TRUE(tag.SetTextMultiple("TPE1", {"A", "B"}, teUnicode));
  EXPECT_EQ(tag.Frame(0)->Data(),
            (Bytes().U8(1).U8(0xFF).U8(0xFE).U16LE('A').U16LE(0).U8(0xFF).U8(0xFE).U16LE('B').U16LE(0).v));
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetTextMultiple(0, list));
  EXPECT_EQ(list, (std::vector<std::string>{"A", "B"}));
}

TEST(ID3v2Frames, EmptyTextDeletesTheFrame)
{
  TID3v2Tag tag;
  tag.SetText("TIT2", "x", teUTF8);
  tag.SetText("TALB", "y", teUTF8);
  EXPECT_TRUE(tag.SetText("TIT2", "", teUTF8));
  EXPECT_EQ(tag.FrameExists("TIT2"), -1);
  EXPECT_EQ(tag.FrameCount(), 1);
  tag.SetTextMultiple("TALB", {"", ""}, teUTF8);
  EXPECT_EQ(tag.FrameCount(), 0);
}

TEST(ID3v2Frames, ReplacingDataClearsStaleFormatFlags)
{
  TID3v2Tag tag;
  const int i = WithFrame(tag, "TIT2", Latin1Text("old"));
  TID3v2Frame *f = tag.Frame(i);
  f->Compressed = f->Encrypted = f->DataLengthIndicator = f->Unsynchronised = true;
  f->DataLengthIndicatorValue = 99;
  f->TagAlterPreservation = true;
  tag.SetText(i, "new", teUTF8);
  EXPECT_FALSE(f->Compressed);
  EXPECT_FALSE(f->Encrypted);
  EXPECT_FALSE(f->DataLengthIndicator);
  EXPECT_FALSE(f->Unsynchronised);
  EXPECT_TRUE(f->TagAlterPreservation);
  EXPECT_EQ(tag.GetText(i), "new");
}

TEST(ID3v2Frames, UserTextAndUrls)
{
  TID3v2Tag tag;
  const int t = tag.SetTXXXByDescriptionMultiple("REPLAYGAIN_TRACK_GAIN", {"-6.5 dB"}, teUnicode);
  EXPECT_EQ(tag.SetTXXXByDescriptionMultiple("replaygain_track_gain", {"-7 dB", "x"}, teUnicode), t);
  std::string desc, text;
  ASSERT_TRUE(tag.GetUserDefinedTextInformation(t, desc, text));
  EXPECT_EQ(desc, "replaygain_track_gain");
  EXPECT_EQ(text, "-7 dB\r\nx");
  EXPECT_EQ(tag.GetUserDefinedTextInformation("replaygain_track_gain", true), "-7 dB\r\nx");
  EXPECT_EQ(tag.GetUserDefinedTextInformation("REPLAYGAIN_TRACK_GAIN", true), "");
  EXPECT_EQ(tag.GetUserDefinedTextInformation("REPLAYGAIN_TRACK_GAIN", false), "-7 dB\r\nx");

  ASSERT_TRUE(tag.SetURL("WOAR", "https://example.com/a"));
  EXPECT_EQ(tag.Frame(tag.FrameExists("WOAR"))->Data(), Bytes().Str("https://example.com/a").v);
  EXPECT_EQ(tag.GetURL(tag.FrameExists("WOAR")), "https://example.com/a");

  const int w = tag.SetUserDefinedURLLinkByDescription("Shop", "https://shop.example", teUnicode);
  std::string url;
  EXPECT_EQ(tag.FindUserDefinedURLLinkByDescription("Shop", url), w);
  EXPECT_EQ(url, "https://shop.example");
  EXPECT_EQ(tag.FindUserDefinedURLLinkByDescription("shop", url), -1);
}

TEST(ID3v2Frames, CommentsMatchDescriptionAndLanguage)
{
  // COMMENT is the frame with an empty description; iTunes' own comment frames are left alone
  // when it is replaced or cleared.
  TID3v2Tag tag;
  tag.SetContent(tag.AddFrame("COMM"), "0000 1111", teUnicode, "iTunNORM", "eng");
  tag.SetContent(tag.AddFrame("COMM"), "old", teUnicode, "", "eng");
  tag.SetContent(tag.AddFrame("COMM"), "alt", teUnicode, "", "deu");
  EXPECT_EQ(tag.FindCommentByDescription("", "ENG"), 1);
  EXPECT_EQ(tag.FindCommentByDescription("", "deu"), 2);
  EXPECT_EQ(tag.SetCommentByDescription("new", teUnicode, "", "eng"), 1);
  std::string lang, desc, content;
  ASSERT_TRUE(tag.GetContent(1, lang, desc, content));
  EXPECT_EQ(content, "new");
  EXPECT_EQ(tag.SetCommentByDescription("", teUnicode, "", "eng"), -1);
  ASSERT_EQ(tag.FrameTypeCount("COMM"), 2);
  ASSERT_TRUE(tag.GetContent(0, lang, desc, content));
  EXPECT_EQ(desc, "iTunNORM");
  EXPECT_EQ(content, "0000 1111");
  ASSERT_TRUE(tag.GetContent(1, lang, desc, content));
  EXPECT_EQ(lang, "deu");
  EXPECT_EQ(tag.FindCommentByDescription("", "eng"), -1);
}

TEST(ID3v2Frames, ContentLayoutWithMarks)
{
  TID3v2Tag tag;
  tag.SetContent(tag.AddFrame("USLT"), "L", teUnicode, "d", "en");
  EXPECT_EQ(tag.Frame(0)->Data(), (Bytes().U8(1).Str("en ").U8(0xFF).U8(0xFE).U16LE('d').U16LE(0).U8(0xFF).U8(0xFE)
                                     .U16LE('L').U16LE(0).v));
  // A content string without its own mark takes the description's byte order.
  tag.Frame(0)->Stream.Data() = Bytes().U8(1).Str("eng").U8(0xFE).U8(0xFF).U16BE('d').U16BE(0).U16BE('L').U16BE(0).v;
  std::string lang, desc, content;
  ASSERT_TRUE(tag.GetLyrics(0, lang, desc, content));
  EXPECT_EQ(desc, "d");
  EXPECT_EQ(content, "L");
}

TEST(ID3v2Frames, PicturesRoundTrip)
{
  TID3v2Tag tag;
  const Bytes png = Bytes().U8(0x89).Str("PNG").U8(0).U8(0xFF).U8(0x00).U8(0x01);
  for (TID3v2TextEncoding e : {teUnicode, teUTF8, teANSI}) {
    tag.APICTextEncodingToWrite = e;
    const int i = tag.AddFrame("APIC");
    ASSERT_TRUE(tag.SetCoverPictureFromBytes(i, "Front \xC3\xA9", png.v, "image/png", 3));
    TBytes picture;
    std::string mime, desc;
    std::uint8_t type = 0;
    ASSERT_TRUE(tag.GetCoverPictureInfo(i, picture, mime, desc, type));
    EXPECT_EQ(picture, png.v);
    EXPECT_EQ(mime, "image/png");
    EXPECT_EQ(desc, "Front \xC3\xA9");
    EXPECT_EQ(type, 3);
    TMemoryStream ms;
    ASSERT_TRUE(tag.GetCoverPictureStream(i, ms, mime, desc, type));
    EXPECT_EQ(ms.Data(), png.v);
  }
  EXPECT_EQ(tag.CoverArtCount(), 3);
  EXPECT_EQ(tag.GetFrameIndexOfCoverArtIndex(2), 2);
  EXPECT_EQ(tag.GetFrameIndexOfCoverArtIndex(3), -1);
  tag.DeleteAllCoverArts();
  EXPECT_EQ(tag.FrameCount(), 0);
}

TEST(ID3v2Frames, CountersRatingsAndIdentifiers)
{
  TID3v2Tag tag;
  EXPECT_EQ(tag.GetPlayCount(WithFrame(tag, "PCNT", Bytes().U8(1).U8(0).U8(0).U8(0).U8(5))), 5);
  EXPECT_EQ(tag.GetPlayCount(99), -1);
  ASSERT_TRUE(tag.SetPlayCount("PCNT", 0x01020304));
  EXPECT_EQ(tag.Frame(0)->Data(), (Bytes().U8(1).U8(2).U8(3).U8(4).v));

  const int p = tag.SetPopularimeterByEmail("a@b", 196, 0);
  EXPECT_EQ(tag.Frame(p)->Data(), (Bytes().Str("a@b").U8(0).U8(196).v));
  std::string email;
  std::uint8_t rating = 0;
  std::uint64_t counter = 1;
  ASSERT_TRUE(tag.GetPopularimeter(p, email, rating, counter));
  EXPECT_EQ(email, "a@b");
  EXPECT_EQ(rating, 196);
  EXPECT_EQ(counter, 0u);
  EXPECT_EQ(tag.SetPopularimeterByEmail("a@b", 10, 7), p);
  ASSERT_TRUE(tag.GetPopularimeter(p, email, rating, counter));
  EXPECT_EQ(counter, 7u);

  const int u = tag.SetUFIDByOwnerIdentifier("http://musicbrainz.org", "abc-123");
  std::string id;
  EXPECT_EQ(tag.FindUFIDByOwnerIdentifier("http://musicbrainz.org", id), u);
  EXPECT_EQ(id, "abc-123");

  const int g = tag.AddFrame("GEOB");
  ASSERT_TRUE(tag.SetGEOB(g, "application/x", "f.bin", "blob", Bytes().U8(0).U8(1).v, teUTF8));
  std::string mime, file, desc;
  TBytes object;
  ASSERT_TRUE(tag.GetGEOB(g, mime, file, desc, object));
  EXPECT_EQ(mime, "application/x");
  EXPECT_EQ(file, "f.bin");
  EXPECT_EQ(desc, "blob");
  EXPECT_EQ(object, (Bytes().U8(0).U8(1).v));
}

TEST(ID3v2Frames, InvolvedPeopleLists)
{
  TID3v2Tag tag;
  ASSERT_TRUE(tag.SetListFrame("TIPL", {"producer=Ann", "mix=Bob"}, teUTF8));
  EXPECT_EQ(tag.GetListFrameText(0), "producer=Ann\r\nmix=Bob");
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetListFrame(0, list));
  EXPECT_EQ(list, (std::vector<std::string>{"producer=Ann", "mix=Bob"}));
}

TEST(ID3v2Frames, InvolvedPeoplePairsSplitAtTheFirstEquals)
{
  TID3v2Tag tag;
  ASSERT_TRUE(tag.SetListFrame("TIPL", {"mix=A=B", "engineer"}, teUTF8));
  EXPECT_EQ(tag.Frame(0)->Data(), Bytes().U8(3).Str("mix").U8(0).Str("A=B").U8(0).Str("engineer").U8(0).U8(0).v);
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetListFrame(0, list));
  EXPECT_EQ(list, (std::vector<std::string>{"mix=A=B", "engineer="}));
  // A role left without a name at the end of the frame stays, with an empty name, so that a
  // save writes it back.
  const int odd = WithFrame(tag, "TMCL", Bytes().U8(3).Str("guitar").U8(0).Str("Ann").U8(0).Str("drums").U8(0));
  EXPECT_EQ(tag.GetListFrameText(odd), "guitar=Ann\r\ndrums=");
}

TEST(ID3v2Frames, UserTextFromTextFollowsTheLineRule)
{
  TID3v2Tag tag;
  // A break at the end opens no empty value.
  const int i = tag.SetTXXXByDescription("MOOD", "calm\r\n", teUTF8);
  EXPECT_EQ(tag.Frame(i)->Data(), Bytes().U8(3).Str("MOOD").U8(0).Str("calm").U8(0).v);
  // CR LF, a lone CR and a lone LF each end a value.
  ASSERT_EQ(tag.SetTXXXByDescription("MOOD", "a\rb\nc\r\nd", teUTF8), i);
  std::string description;
  std::vector<std::string> list;
  ASSERT_TRUE(tag.GetUserDefinedTextInformationMultiple(i, description, list));
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b", "c", "d"}));
  // A frame string holding a lone CR reads as two lines, as an entry's value would.
  const int t = WithFrame(tag, "TIT2", Bytes().U8(3).Str("one\rtwo").U8(0));
  ASSERT_TRUE(tag.GetTextMultiple(t, list));
  EXPECT_EQ(list, (std::vector<std::string>{"one", "two"}));
}

TEST(ID3v2Frames, OutOfRangeIndexesAreHarmless)
{
  TID3v2Tag tag;
  std::string a, b, c;
  EXPECT_EQ(tag.GetText(5), "");
  EXPECT_FALSE(tag.SetText(5, "x", teUTF8));
  EXPECT_FALSE(tag.GetContent(-1, a, b, c));
  EXPECT_FALSE(tag.DeleteFrame(0));
  EXPECT_TRUE(tag.GetBytes(3).empty());
}

struct GenreCase {
  const char *text;
  const char *want;
};

class ID3v2Genre : public ::testing::TestWithParam<GenreCase> {};

TEST_P(ID3v2Genre, Resolves) { EXPECT_EQ(ID3v2GenreToText(GetParam().text), GetParam().want); }

INSTANTIATE_TEST_SUITE_P(Table, ID3v2Genre,
                         ::testing::Values(GenreCase{"(17)", "Rock"}, GenreCase{"(17)Rock", "Rock"},
                                           GenreCase{"(17)(18)", "Rock Techno"}, GenreCase{"(RX)", "Remix"},
                                           GenreCase{"(CR)Live", "Cover Live"}, GenreCase{"Rock", "Rock"},
                                           GenreCase{"(12)(255)", "Other"}, GenreCase{"((12)", "(12)"},
                                           GenreCase{"()Pop", "Pop"}, GenreCase{"(999)", "(999)"},
                                           GenreCase{"(17", "(17"}));

TEST(ID3v2Frames, KindsAndLanguages)
{
  EXPECT_EQ(ID3v2FrameKind("PRIV"), fkPRIV);
  EXPECT_EQ(ID3v2FrameKind("APIC"), fkBinary);
  EXPECT_EQ(ID3v2FrameKind("WXXX"), fkUserURL);
  EXPECT_EQ(ID3v2FrameKind("WOAR"), fkURL);
  EXPECT_EQ(ID3v2FrameKind("TMCL"), fkList);
  EXPECT_EQ(ID3v2FrameKind("USLT"), fkContent);
  EXPECT_EQ(ID3v2FrameKind("TXXX"), fkUserText);
  EXPECT_EQ(ID3v2FrameKind("TIT2"), fkText);
  EXPECT_EQ(ID3v2FrameKind("MCDI"), fkBinary);
  EXPECT_EQ(LanguageIDToText({'e', 0, 'g'}), "eg");
  EXPECT_EQ(TextToLanguageID("de"), (std::array<char, 3>{'d', 'e', ' '}));
}

TEST(ID3v2Frames, ChapterFramesBuildFromFields)
{
  TID3v2Tag tag;
  tag.MajorVersion = 4;
  auto *toc = dynamic_cast<TID3v2FrameCTOC *>(tag.AddFrameEx("CTOC"));
  ASSERT_TRUE(toc);
  toc->ElementID = "toc";
  toc->SetFlagBits(true, false);
  toc->AddChapter("c1");
  toc->AddChapter("c2");
  toc->AddChapter("c1");
  EXPECT_TRUE(toc->DeleteChapter("c1"));
  EXPECT_FALSE(toc->DeleteChapter("zz"));
  toc->SubFrames->SetText("TIT2", "T", teUTF8);
  ASSERT_TRUE(toc->SetData(4));
  EXPECT_EQ(toc->Data(), (Bytes().Str("toc").U8(0).U8(2).U8(1).Str("c2").U8(0).Append(Frame4("TIT2", Bytes().U8(3).Str("T").U8(0))).v));

  TID3v2Tag copy;
  copy.AssignFrames(tag);
  auto *c = dynamic_cast<TID3v2FrameCTOC *>(copy.Frame(0));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->ChildElementIDs, (std::vector<std::string>{"c2"}));
  EXPECT_EQ(c->SubFrames->GetText("TIT2"), "T");
}
