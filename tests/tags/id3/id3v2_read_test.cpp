#include <gtest/gtest.h>

#include <zlib.h>

#include "tags/id3/id3v2_tag.h"
#include "tags/id3/id3v2_unsync.h"
#include "tags/id3/id3v2_zlib.h"
#include "tags/id3/skip_id3v2.h"
#include "tests/support/test_support.h"
#include "tests/tags/id3/id3v2_test_bytes.h"

namespace {

int LoadBytes(TID3v2Tag &tag, const Bytes8 &bytes)
{
  TMemoryStream ms(bytes);
  return tag.LoadFromStream(ms, false);
}

Bytes8 FrameData(const TID3v2Tag &tag, const char *id)
{
  const int i = tag.FrameExists(id);
  return i < 0 ? Bytes8{} : tag.Frame(i)->Data();
}

// A picture-like payload full of FF bytes followed by 00 and by bytes of the form 111xxxxx,
// as every JPEG holds, which is what unsynchronisation exists for.
Bytes JpegLike()
{
  Bytes b = Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xE0).U8(0x00).U8(0x10);
  for (int i = 0; i < 64; ++i) b.U8(0xFF).U8(static_cast<std::uint8_t>(i % 3 == 0 ? 0x00 : 0xE0 + i % 16));
  return b.U8(0xFF).U8(0xD9);
}

} // namespace

TEST(ID3v2Header, SharedParserDecodesSizeAndFooter)
{
  const Bytes h = Bytes().Str("ID3").U8(4).U8(0).U8(0x10).Append(Synchsafe(1000));
  TID3v2HeaderFields f;
  ASSERT_TRUE(ParseID3v2Header(h.v.data(), h.size(), f));
  EXPECT_EQ(f.BodySize, 1000);
  EXPECT_TRUE(f.FooterPresent);
  EXPECT_EQ(f.TotalSize, 1020);
  EXPECT_EQ(ID3v2TagSizeFromHeader(h.v.data(), h.size()), 1020);
}

struct LoadCase {
  const char *name;
  Bytes input;
  int code;
  int frames;
  bool error;
};

class ID3v2LoadCodes : public ::testing::TestWithParam<LoadCase> {};

TEST_P(ID3v2LoadCodes, CodeFramesAndError)
{
  const LoadCase &c = GetParam();
  TID3v2Tag tag;
  EXPECT_EQ(LoadBytes(tag, c.input), c.code);
  EXPECT_EQ(tag.FrameCount(), c.frames);
  EXPECT_EQ(tag.Error(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
  Table, ID3v2LoadCodes,
  ::testing::Values(
    LoadCase{"no_tag", MpegFrames(2), 1, 0, false},
    LoadCase{"major_5", Tag(5, 0, Frame3("TIT2", Latin1Text("A"))), 8, 0, false},
    LoadCase{"major_1", Tag(1, 0, Frame3("TIT2", Latin1Text("A"))), 8, 0, false},
    LoadCase{"header_cut", Bytes().Str("ID3").U8(3).U8(0), 0xFFFF, 0, false},
    LoadCase{"padding_ends_frames",
             Tag(3, 0, Frame3("TIT2", Latin1Text("A")).Append(Frame3("TPE1", Latin1Text("B"))).Zeros(100)), 0, 2, false},
    LoadCase{"frame_larger_than_tag",
             Tag(3, 0, Frame3("TIT2", Latin1Text("A")).Str("TPE1").U32BE(0x7FFFFFFF).U16BE(0).Str("x")), 0, 1, true},
    LoadCase{"size_field_past_stream", Bytes().Str("ID3").U8(3).U8(0).U8(0).Append(Synchsafe(5000))
                                         .Append(Frame3("TIT2", Latin1Text("A"))), 0, 1, true},
    LoadCase{"v24_frame_size_past_tag",
             Tag(4, 0, Frame4("TIT2", Latin1Text("A")).Str("TALB").Append(Synchsafe(0x0FFFFFFF)).U16BE(0)), 0, 1, true},
    LoadCase{"garbage_id_stops", Tag(3, 0, Frame3("TIT2", Latin1Text("A")).Str("ti t").U32BE(1).U16BE(0).U8(0)), 0, 1,
             false},
    // Compressed (0x0080) but only two bytes: the decompressed-size field does not fit.
    LoadCase{"extra_fields_past_frame",
             Tag(3, 0, Frame3("TIT2", Bytes().U8(1).U8(2), 0x0080).Append(Frame3("TPE1", Latin1Text("B")))), 0, 1, true},
    LoadCase{"v22_frames", Tag(2, 0, Frame2("TT2", Latin1Text("A")).Append(Frame2("TP1", Latin1Text("B")))), 0, 2,
             false}),
  [](const auto &param_info) { return std::string(param_info.param.name); });

TEST(ID3v2Read, Version23UnsynchronisationCoversTheWholeBody)
{
  // Frame sizes count the decoded bytes; reading frame by frame would cut the picture at its
  // first FF 00 and lose the title after it.
  const Bytes picture = Bytes().U8(0).Str("image/jpeg").U8(0).U8(3).U8(0).Append(JpegLike());
  const Bytes plain = Frame3("APIC", picture).Append(Frame3("TIT2", Latin1Text("After")));
  const Bytes8 unsynced = ApplyID3v2Unsynchronisation(plain.v);
  ASSERT_GT(unsynced.size(), plain.size());
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(3, 0x80, Bytes().Append(unsynced))), 0);
  ASSERT_EQ(tag.FrameCount(), 2);
  EXPECT_EQ(FrameData(tag, "APIC"), picture.v);
  EXPECT_EQ(tag.GetText("TIT2"), "After");
  EXPECT_TRUE(tag.WasUnsynchronised());
  EXPECT_FALSE(tag.Unsynchronised);
  EXPECT_FALSE(tag.Error());
}

TEST(ID3v2Read, Version23UnsynchronisedFFE0ReadsBack)
{
  TID3v2Tag tag;
  // The frame size counts decoded bytes: 4, while 5 bytes stand in the file.
  const Bytes8 body = ApplyID3v2Unsynchronisation(Frame3("PRIV", Bytes().Str("x").U8(0).U8(0xFF).U8(0xE0)).v);
  ASSERT_EQ(Slice(body, 12, body.size()).v, (Bytes().U8(0xFF).U8(0x00).U8(0xE0).v));
  ASSERT_EQ(LoadBytes(tag, Tag(3, 0x80, Bytes().Append(body))), 0);
  EXPECT_EQ(FrameData(tag, "PRIV"), (Bytes().Str("x").U8(0).U8(0xFF).U8(0xE0).v));
}

TEST(ID3v2Read, Version24UnsynchronisesPerFrame)
{
  // Only the flagged frame is decoded; FF 00 in the other frame is data.
  const Bytes body = Frame4("PRIV", Bytes().U8(0xFF).U8(0x00).U8(0xE0), 0x0002)
                       .Append(Frame4("GEOB", Bytes().U8(0xFF).U8(0x00).U8(0x01)));
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(4, 0, body)), 0);
  EXPECT_EQ(FrameData(tag, "PRIV"), (Bytes().U8(0xFF).U8(0xE0).v));
  EXPECT_EQ(FrameData(tag, "GEOB"), (Bytes().U8(0xFF).U8(0x00).U8(0x01).v));
  EXPECT_FALSE(tag.Frame(0)->Unsynchronised);
  EXPECT_TRUE(tag.Frame(0)->WasUnsynchronised());

  TID3v2Tag raw;
  raw.AutoRemoveUnsynchronisation = false;
  ASSERT_EQ(LoadBytes(raw, Tag(4, 0, body)), 0);
  EXPECT_TRUE(raw.Frame(0)->Unsynchronised);
  EXPECT_EQ(FrameData(raw, "PRIV"), (Bytes().U8(0xFF).U8(0x00).U8(0xE0).v));
}

TEST(ID3v2Read, CompressedFramesInflate)
{
  const std::string text = std::string(1, '\0') + std::string(300, 'z');
  TBytes packed;
  ASSERT_TRUE(DeflateID3v2Data(Bytes().Str(text).v, packed));
  const Bytes v3 = Frame3("TIT2", Bytes().U32BE(static_cast<std::uint32_t>(text.size())).Append(packed), 0x0080);
  const Bytes v4 = Frame4("TIT2", Synchsafe(static_cast<std::uint32_t>(text.size())).Append(packed), 0x0009);
  for (const auto &[major, frame] : {std::pair{3, v3}, std::pair{4, v4}}) {
    TID3v2Tag tag;
    ASSERT_EQ(LoadBytes(tag, Tag(static_cast<std::uint8_t>(major), 0, frame)), 0);
    ASSERT_TRUE(tag.Frame(0)->Compressed);
    EXPECT_TRUE(tag.DeCompressAllFrames());
    EXPECT_FALSE(tag.Frame(0)->Compressed);
    EXPECT_FALSE(tag.Frame(0)->DataLengthIndicator);
    EXPECT_EQ(tag.GetText("TIT2"), std::string(300, 'z')) << major;
  }
}

TEST(ID3v2Read, InflationIsCappedByDeclaredSizeAndAbsoluteLimit)
{
  TBytes packed;
  ASSERT_TRUE(DeflateID3v2Data(TBytes(100000, 0), packed));
  // Declares 10 bytes, inflates to 100000: refused, the frame stays as it was.
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(3, 0, Frame3("PRIV", Bytes().U32BE(10).Append(packed), 0x0080))), 0);
  EXPECT_FALSE(tag.DeCompressAllFrames());
  EXPECT_TRUE(tag.Frame(0)->Compressed);
  EXPECT_EQ(tag.Frame(0)->Data(), packed);

  TBytes out;
  EXPECT_FALSE(InflateID3v2Data(packed, 99999, out));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(InflateID3v2Data(packed, kMaxInflatedFrameBytes, out));
  EXPECT_EQ(out.size(), 100000u);
  const TBytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
  EXPECT_FALSE(InflateID3v2Data(cut, kMaxInflatedFrameBytes, out));
  EXPECT_FALSE(InflateID3v2Data(Bytes().Str("not zlib at all").v, kMaxInflatedFrameBytes, out));
}

TEST(ID3v2Read, Version22FramesAreConverted)
{
  const Bytes pic = Bytes().U8(0).Str("JPG").U8(3).Str("Cover").U8(0).U8(0xFF).U8(0xD8).U8(0xFF).U8(0xD9);
  const Bytes body = Frame2("TT2", Latin1Text("Title")).Append(Frame2("TP1", Latin1Text("Artist")))
                       .Append(Frame2("PIC", pic)).Append(Frame2("COM", Bytes().U8(0).Str("eng").U8(0).Str("Hi")))
                       .Append(Frame2("XYZ", Bytes().Str("kept")));
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(2, 0, body)), 0);
  ASSERT_EQ(tag.FrameCount(), 5);
  EXPECT_EQ(tag.Frame(0)->IDText(), "TIT2");
  EXPECT_EQ(tag.GetText("TIT2"), "Title");
  EXPECT_EQ(tag.GetText("TPE1"), "Artist");
  TBytes picture;
  std::string mime, desc;
  std::uint8_t type = 0;
  ASSERT_TRUE(tag.GetCoverPictureInfo(tag.FrameExists("APIC"), picture, mime, desc, type));
  EXPECT_EQ(mime, "image/jpeg");
  EXPECT_EQ(desc, "Cover");
  EXPECT_EQ(type, 3);
  EXPECT_EQ(picture, (Bytes().U8(0xFF).U8(0xD8).U8(0xFF).U8(0xD9).v));
  std::string lang, content;
  ASSERT_TRUE(tag.GetContent(tag.FrameExists("COMM"), lang, desc, content));
  EXPECT_EQ(content, "Hi");
  // An ID with no 2.3 form keeps its three letters and is never written.
  EXPECT_EQ(tag.Frame(4)->IDText(), "XYZ");
  EXPECT_EQ(tag.CalculateTotalFramesSize(), static_cast<std::int64_t>(tag.Frame(0)->Data().size() +
                                                                         tag.Frame(1)->Data().size() +
                                                                         tag.Frame(2)->Data().size() +
                                                                         tag.Frame(3)->Data().size()));
}

TEST(ID3v2Read, ExtendedHeaders)
{
  const Bytes frames = Frame3("TIT2", Latin1Text("A"));
  // 2.3: size 6, flags, 4 bytes of padding size.
  TID3v2Tag v3;
  ASSERT_EQ(LoadBytes(v3, Tag(3, 0x40, Bytes().U32BE(6).U16BE(0).U32BE(0).Append(frames))), 0);
  EXPECT_EQ(v3.GetText("TIT2"), "A");
  EXPECT_EQ(v3.ExtendedHeader3.Size, 6u);

  // 2.4: synchsafe size of the whole header, one flag byte with CRC present (5 bytes).
  TID3v2Tag v4;
  const Bytes ext4 = Synchsafe(12).U8(1).U8(0x20).U8(5).U8(1).U8(2).U8(3).U8(4).U8(5);
  ASSERT_EQ(LoadBytes(v4, Tag(4, 0x40, Bytes().Append(ext4).Append(Frame4("TIT2", Latin1Text("B"))))), 0);
  EXPECT_EQ(v4.GetText("TIT2"), "B");
  EXPECT_TRUE(v4.ExtendedHeader4.CRCPresent);
  EXPECT_EQ(v4.ExtendedHeader4.ExtendedFlagsData, (Bytes().U8(1).U8(2).U8(3).U8(4).U8(5).v));

  // The flag set over frames that start at once: the frames win.
  TID3v2Tag flagOnly;
  ASSERT_EQ(LoadBytes(flagOnly, Tag(3, 0x40, frames)), 0);
  EXPECT_EQ(flagOnly.GetText("TIT2"), "A");
  EXPECT_FALSE(flagOnly.ExtendedHeader);

  // A hostile size: an error, no frames, no crash.
  TID3v2Tag hostile;
  ASSERT_EQ(LoadBytes(hostile, Tag(3, 0x40, Bytes().U32BE(0x7FFFFFF0).U16BE(0).Append(frames))), 0);
  EXPECT_TRUE(hostile.Error());
  EXPECT_EQ(hostile.FrameCount(), 0);
}

TEST(ID3v2Read, FooterBelongsToTheTagExtent)
{
  const Bytes body = Frame4("TIT2", Latin1Text("A"));
  const Bytes footer = Bytes().Str("3DI").U8(4).U8(0).U8(0x10).Append(Synchsafe(static_cast<std::uint32_t>(body.size())));
  const Bytes file = Tag(4, 0x10, body).Append(footer).Append(MpegFrames(3));
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, file), 0);
  EXPECT_TRUE(tag.FooterPresent);
  EXPECT_EQ(tag.Size, 10 + body.size() + 10);
  EXPECT_EQ(tag.SourceFileType(), sftMPEG);
  EXPECT_EQ(tag.AudioInfo.MPEGInfo.Position, static_cast<std::int64_t>(tag.Size));
  TMemoryStream ms(file.v);
  EXPECT_EQ(ID3v2TagSizeAt(ms), static_cast<std::int64_t>(tag.Size));
}

TEST(ID3v2Read, FrameFlagsDecodeByVersion)
{
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(4, 0, Frame4("TIT2", Latin1Text("A"), 0x4000))), 0);
  EXPECT_TRUE(tag.Frame(0)->TagAlterPreservation);
  EXPECT_FALSE(tag.Frame(0)->FileAlterPreservation);
  EXPECT_FALSE(tag.Frame(0)->ReadOnly);
  // Grouped (0x0040) in 2.4: one group byte before the data.
  ASSERT_EQ(LoadBytes(tag, Tag(4, 0, Frame4("TIT2", Bytes().U8(7).Append(Latin1Text("G")), 0x0040))), 0);
  EXPECT_EQ(tag.Frame(0)->GroupIdentifier, 7);
  EXPECT_EQ(tag.GetText("TIT2"), "G");
}

TEST(ID3v2Read, ChapterFramesNest)
{
  const Bytes chap = Bytes().Str("ch1").U8(0).U32BE(0).U32BE(5000).U32BE(0xFFFFFFFF).U32BE(0xFFFFFFFF)
                       .Append(Frame4("TIT2", Latin1Text("Intro")));
  const Bytes ctoc = Bytes().Str("toc").U8(0).U8(3).U8(2).Str("ch1").U8(0).Str("ch2").U8(0)
                       .Append(Frame4("TIT2", Latin1Text("Contents")));
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(4, 0, Frame4("CTOC", ctoc).Append(Frame4("CHAP", chap)))), 0);
  auto *toc = dynamic_cast<TID3v2FrameCTOC *>(tag.Frame(0));
  auto *ch = dynamic_cast<TID3v2FrameCHAP *>(tag.Frame(1));
  ASSERT_TRUE(toc && ch);
  EXPECT_EQ(toc->ElementID, "toc");
  EXPECT_TRUE(toc->TopLevelBit());
  EXPECT_TRUE(toc->OrderedBit());
  EXPECT_EQ(toc->ChildElementIDs, (std::vector<std::string>{"ch1", "ch2"}));
  EXPECT_EQ(toc->SubFrames->GetText("TIT2"), "Contents");
  EXPECT_EQ(ch->ElementID, "ch1");
  EXPECT_EQ(ch->EndTime, 5000u);
  EXPECT_EQ(ch->SubFrames->GetText("TIT2"), "Intro");
  // Rebuilding the data from the parsed fields gives the same bytes.
  ch->SetData(4);
  EXPECT_EQ(ch->Data(), chap.v);
}

TEST(ID3v2Read, ChapterNestingHasADepthLimit)
{
  Bytes inner = Frame4("TIT2", Latin1Text("deep"));
  for (int i = 0; i < 40; ++i)
    inner = Frame4("CHAP", Bytes().Str("c").U8(0).U32BE(0).U32BE(1).U32BE(0).U32BE(0).Append(inner));
  TID3v2Tag tag;
  ASSERT_EQ(LoadBytes(tag, Tag(4, 0, inner)), 0);
  ASSERT_EQ(tag.FrameCount(), 1);
  int depth = 0;
  TID3v2Frames *list = &tag;
  while (list->FrameCount() == 1) {
    auto *c = dynamic_cast<TID3v2FrameWithSubFrames *>(list->Frame(0));
    if (!c) break;
    list = c->SubFrames.get();
    ++depth;
  }
  EXPECT_LE(depth, kMaxChapterDepth + 1);
  // What was not parsed is kept as it was and written back unchanged.
  TMemoryStream out;
  ASSERT_EQ(tag.SaveTagToStream(out, 0), 0);
  EXPECT_EQ(out.Data(), Tag(4, 0, inner).v);
}

TEST(ID3v2Read, LoadFromMemoryStaysInsideTheBlock)
{
  // The header claims 1000 bytes; the block holds far fewer. Nothing past it is read.
  const Bytes full = Bytes().Str("ID3").U8(3).U8(0).U8(0).Append(Synchsafe(1000)).Append(Frame3("TIT2", Latin1Text("A")));
  auto block = std::make_unique<std::uint8_t[]>(full.size());
  std::copy(full.v.begin(), full.v.end(), block.get());
  TID3v2Tag tag;
  EXPECT_EQ(tag.LoadFromMemory(block.get(), static_cast<std::int64_t>(full.size())), 0);
  EXPECT_EQ(tag.GetText("TIT2"), "A");
  EXPECT_EQ(tag.LoadFromMemory(nullptr, 10), 1);
  EXPECT_EQ(tag.LoadFromMemory(block.get(), 2), 1);
}

TEST(ID3v2Read, BeginningSearchFindsAShiftedTag)
{
  const Bytes file = Bytes().Zeros(37).Append(Tag(3, 0, Frame3("TIT2", Latin1Text("Shifted")))).Append(MpegFrames(2));
  TID3v2Tag tag;
  EXPECT_EQ(LoadBytes(tag, file), 1);
  tag.BeginningSearchLength = 100;
  ASSERT_EQ(LoadBytes(tag, file), 0);
  EXPECT_EQ(tag.Position(), 37);
  EXPECT_EQ(tag.GetText("TIT2"), "Shifted");
}

// --- containers --------------------------------------------------------------------------------

TEST(ID3v2ReadContainers, WaveWithAndWithoutChunk)
{
  const Bytes tag = Tag(3, 0, Frame3("TIT2", Latin1Text("In wave")));
  for (const char *id : {"id3 ", "ID3 ", "ID32"}) {
    const Bytes file = Wave(RiffChunk("fmt ", WaveFmt()).Append(RiffChunk("data", Bytes().Zeros(16))).Append(RiffChunk(id, tag)));
    TID3v2Tag t;
    ASSERT_EQ(LoadBytes(t, file), 0) << id;
    EXPECT_EQ(t.GetText("TIT2"), "In wave");
    EXPECT_EQ(t.SourceFileType(), sftWAVE);
    EXPECT_EQ(t.Position(), static_cast<std::int64_t>(file.size() - tag.size()));
  }
  TID3v2Tag none;
  EXPECT_EQ(LoadBytes(none, Wave(RiffChunk("fmt ", WaveFmt()).Append(RiffChunk("data", Bytes().Zeros(16))))), 1);
  EXPECT_EQ(none.SourceFileType(), sftWAVE);
}

TEST(ID3v2ReadContainers, TagIsReadOnlyInsideItsChunk)
{
  // The tag header claims 200 bytes more than its chunk holds, and the bytes behind the chunk
  // happen to read as a frame: they belong to another chunk and must not become one.
  const Bytes frames = Frame3("TIT2", Latin1Text("In wave"));
  const Bytes tag = Bytes().Str("ID3").U8(3).U8(0).U8(0).Append(Synchsafe(static_cast<std::uint32_t>(frames.size() + 200))).Append(frames);
  ASSERT_EQ(tag.size() % 2, 0u);
  const Bytes file = Wave(RiffChunk("fmt ", WaveFmt()).Append(RiffChunk("data", Bytes().Zeros(16)))
                            .Append(RiffChunk("id3 ", tag)).Append(Frame3("PRIV", Bytes().Str("hello"))));
  TID3v2Tag t;
  ASSERT_EQ(LoadBytes(t, file), 0);
  EXPECT_EQ(t.GetText("TIT2"), "In wave");
  EXPECT_EQ(t.FrameCount(), 1);
  EXPECT_EQ(t.FrameExists("PRIV"), -1);
  EXPECT_TRUE(t.Error());
}

TEST(ID3v2ReadContainers, AiffDsfAndDsdiff)
{
  const Bytes tag = Tag(4, 0, Frame4("TIT2", Latin1Text("Inside")));
  const Bytes aiff = Aiff(AiffChunk("COMM", AiffComm()).Append(AiffChunk("SSND", Bytes().Zeros(24))).Append(AiffChunk("ID3 ", tag)));
  const Bytes dsf = Dsf(Bytes().Fill(64, 0x69), tag);
  const Bytes dff = Dff(DffChunk("FVER", Bytes().U32BE(0x01050000)).Append(DffChunk("DSD ", Bytes().Fill(32, 0x69)))
                          .Append(DffChunk("ID3 ", tag)));
  for (const auto &[kind, file] : {std::pair{sftAIFF, aiff}, std::pair{sftDSF, dsf}, std::pair{sftDFF, dff}}) {
    TID3v2Tag t;
    ASSERT_EQ(LoadBytes(t, file), 0) << kind;
    EXPECT_EQ(t.SourceFileType(), kind);
    EXPECT_EQ(t.GetText("TIT2"), "Inside");
  }
}

// --- real files --------------------------------------------------------------------------------

struct FixtureCase {
  const char *file;
  int major;
  const char *title;
  const char *track;
  const char *year;      // TYER for 2.3, TDRC for 2.4
  std::size_t pictureSize;
  std::uint32_t pictureCrc;
};

class ID3v2Fixtures : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(ID3v2Fixtures, EveryFrameReads)
{
  const FixtureCase &c = GetParam();
  TID3v2Tag tag;
  ASSERT_EQ(tag.LoadFromFile(FixturePath(c.file)), 0);
  EXPECT_FALSE(tag.Error());
  EXPECT_EQ(tag.MajorVersion, c.major);
  EXPECT_EQ(tag.GetText("TIT2"), c.title);
  EXPECT_EQ(tag.GetText("TPE1"), "Test Artist");
  EXPECT_EQ(tag.GetText("TALB"), "Test Album");
  EXPECT_EQ(tag.GetText("TRCK"), c.track);
  EXPECT_EQ(tag.GetText(c.major == 3 ? "TYER" : "TDRC"), c.year);
  EXPECT_EQ(tag.GetText("TCON"), "Rock");
  EXPECT_EQ(tag.GetText("TBPM"), "128");
  EXPECT_EQ(tag.GetText("TPE2"), "Various Test Artists");
  EXPECT_EQ(tag.GetText("TCOM"), "Test Composer");
  EXPECT_EQ(tag.GetText("TOPE"), "Original Test Artist");
  EXPECT_EQ(tag.GetText("TCOP"), "\xC2\xA9 2021 Test Label");
  EXPECT_EQ(tag.GetText("TENC"), "make_corpus");
  EXPECT_EQ(tag.GetURL(tag.FrameExists("WOAR")), "https://example.com/track/3");
  EXPECT_EQ(tag.FrameTypeCount("COMM"), 1);
  const int comm = tag.FindContentByDescription("COMM", "", "eng");
  std::string lang, desc, content;
  ASSERT_TRUE(tag.GetContent(comm, lang, desc, content));
  EXPECT_EQ(content, "Generated test comment");
  EXPECT_EQ(lang, "eng");
  ASSERT_TRUE(tag.GetContent(tag.FrameExists("USLT"), lang, desc, content));
  EXPECT_EQ(content.substr(0, 9), "Line one\n");
  TBytes picture;
  std::string mime;
  std::uint8_t type = 0;
  ASSERT_TRUE(tag.GetCoverPictureInfo(tag.FrameExists("APIC"), picture, mime, desc, type));
  EXPECT_EQ(desc, "Front cover");
  EXPECT_EQ(type, 3);
  EXPECT_EQ(picture.size(), c.pictureSize);
  EXPECT_EQ(crc32(0, picture.data(), static_cast<uInt>(picture.size())), c.pictureCrc);
}

INSTANTIATE_TEST_SUITE_P(
  Files, ID3v2Fixtures,
  ::testing::Values(
    FixtureCase{"mp3/id3v23-latin1.mp3", 3, "Bj\xC3\xB6rk - J\xC3\xB3ga", "03/12", "2021", 384, 0xb008c9e6},
    FixtureCase{"mp3/id3v23-utf16.mp3", 3, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC",
                "3/12", "2021", 583, 0x97e4045e},
    FixtureCase{"mp3/id3v24-utf8.mp3", 4, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC",
                "3/12", "2021-05-04", 384, 0xb008c9e6},
    FixtureCase{"mp3/id3v24-id3v1-kid3.mp3", 4,
                "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC", "3/12", "2021-05-04", 384,
                0xb008c9e6},
    FixtureCase{"wav/id3-mutagen.wav", 4, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC",
                "3/12", "2021-05-04", 384, 0xb008c9e6},
    FixtureCase{"wav/info-id3-kid3.wav", 3, "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC",
                "3/12", "2021", 583, 0x97e4045e},
    FixtureCase{"rf64/rf64-id3-kid3-inconsistent.wav", 4,
                "Bj\xC3\xB6rk \xE2\x80\x93 J\xC3\xB3ga \xE2\x99\xAB \xE6\x97\xA5\xE6\x9C\xAC", "3/12", "2021-05-04", 384,
                0xb008c9e6}),
  [](const auto &param_info) {
    std::string n = param_info.param.file;
    for (char &ch : n)
      if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
  });

TEST(ID3v2Fixtures, UntaggedFilesAndAudio)
{
  TID3v2Tag tag;
  EXPECT_EQ(tag.LoadFromFile(FixturePath("mp3/notags.mp3")), 1);
  EXPECT_EQ(tag.SourceFileType(), sftMPEG);
  EXPECT_GT(tag.PlayTime(), 0.0);
  EXPECT_EQ(tag.LoadFromFile(FixturePath("mp3/id3v23-latin1.mp3")), 0);
  EXPECT_EQ(tag.SourceFileType(), sftMPEG);
  EXPECT_EQ(tag.AudioInfo.MPEGInfo.Position, static_cast<std::int64_t>(tag.Size));
  EXPECT_EQ(tag.LoadFromFile(FixturePath("wav/notags.wav")), 1);
  EXPECT_EQ(tag.SourceFileType(), sftWAVE);
  EXPECT_EQ(tag.LoadFromFile("/nonexistent/x.mp3"), 4);
}
