// The ASF header reader and writer over byte-built files: hostile sizes and counts load what they
// can and are never written back, a protected file is never written, and the objects the tag
// does not own survive a save byte for byte.

#include <gtest/gtest.h>

#include "tags/asf/asf_header.h"
#include "tags/asf/wma_picture.h"
#include "tags/asf/wma_tag.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tests/support/asf_bytes.h"

namespace {

Bytes8 U32(std::uint32_t V) { return Bytes().U32LE(V).v; }

// A stored picture value: type, data length, MIME, description, data.
Bytes StoredPicture(std::uint32_t DataLength, const Bytes8 &Data)
{
  return Bytes().U8(3).U32LE(DataLength).Append(ASFUtf16("image/png")).Append(ASFUtf16("")).Append(Data);
}

std::vector<std::string> UserNames(const TWMATag &Tag)
{
  std::vector<std::string> names;
  for (const auto &f : Tag.Frames)
    if (!TWMATag::IsPseudoAttribute(f->Name)) names.push_back(f->Name);
  return names;
}

struct HostileCase {
  const char *name;
  Bytes8 file;
  int want;
  std::vector<std::string> names;  // the user attributes that load
};

class ASFHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ASFHostile, LoadsWhatItCanAndIsNotWritten)
{
  const HostileCase &c = GetParam();
  TReadMemoryStream in(c.file.data(), static_cast<std::int64_t>(c.file.size()));
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(in), c.want);
  EXPECT_EQ(UserNames(tag), c.names);
  if (c.want == wmaNotASF) return;
  EXPECT_TRUE(tag.Damaged());
  // Not written, not removed: the plan stays empty and the bytes as they were.
  tag.SetText("Title", "A new title");
  TMemoryStream content{TBytes(c.file)};
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(content, plan), wmaDamaged);
  EXPECT_TRUE(plan.ChangesNothing());
  EXPECT_EQ(TWMATag::PlanRemove(content, plan), wmaDamaged);
  EXPECT_TRUE(plan.ChangesNothing());
  EXPECT_EQ(tag.SaveToStream(content), wmaDamaged);
  EXPECT_EQ(content.Data(), c.file);
}

const Bytes kTitle = ASFContentDescription({"T"});
const Bytes kGenre = ASFExtendedContent({{"WM/Genre", 0, ASFUtf16("Rock").v}});

Bytes8 WithU64At(Bytes8 File, std::size_t At, std::uint64_t V)
{
  for (int i = 0; i < 8; ++i) File[At + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(V >> (8 * i));
  return File;
}

// The offset of the first object with this GUID in File.
std::size_t Find(const Bytes8 &File, const TASFGuid &ID)
{
  return static_cast<std::size_t>(std::search(File.begin(), File.end(), ID.begin(), ID.end()) - File.begin());
}

INSTANTIATE_TEST_SUITE_P(Table, ASFHostile, ::testing::Values(
  HostileCase{"not_asf", Bytes().Str("RIFF").Zeros(60).v, wmaNotASF, {}},
  HostileCase{"shorter_than_header_object", Slice(ASFMinimalFile({}), 0, 20).v, wmaNotASF, {}},
  HostileCase{"header_size_past_file", WithU64At(ASFMinimalFile({kTitle}), 16, 1'000'000), wmaDamaged, {"Title"}},
  HostileCase{"header_size_below_minimum", WithU64At(ASFMinimalFile({kTitle}), 16, 10), wmaDamaged, {}},
  HostileCase{"header_size_huge", WithU64At(ASFMinimalFile({kTitle}), 16, ~0ULL), wmaDamaged, {}},
  HostileCase{"object_size_below_24", [] {
    Bytes8 f = ASFMinimalFile({kTitle, kGenre});
    return WithU64At(f, Find(f, kASFExtendedContentDescription) + 16, 3);
  }(), wmaDamaged, {"Title"}},
  HostileCase{"object_size_past_header", [] {
    Bytes8 f = ASFMinimalFile({kGenre, kTitle});
    return WithU64At(f, Find(f, kASFContentDescription) + 16, 5000);
  }(), wmaDamaged, {"WM/Genre"}},
  HostileCase{"object_count_wrong", ASFFile({ASFFileProperties(0, 1, 0, 2), kTitle}, ASFDataObject(Bytes()), Bytes(), 7).v,
              wmaDamaged, {"Title"}},
  HostileCase{"no_file_properties", ASFFile({kTitle}, ASFDataObject(Bytes())).v, wmaDamaged, {"Title"}},
  HostileCase{"two_file_properties", ASFFile({ASFFileProperties(0, 1, 0, 2), ASFFileProperties(0, 1, 0, 2), kTitle},
                                             ASFDataObject(Bytes())).v, wmaDamaged, {"Title"}},
  HostileCase{"no_data_object", ASFFile({ASFFileProperties(0, 1, 0, 2), kTitle}, Bytes().Zeros(40)).v, wmaDamaged, {"Title"}},
  HostileCase{"content_lengths_past_object", [] {
    Bytes body;
    body.U16LE(4).U16LE(0xFFFF).U16LE(0).U16LE(0).U16LE(0).Append(ASFUtf16("A"));
    return ASFMinimalFile({ASFObject(kASFContentDescription, body)}).v;
  }(), wmaDamaged, {"Title"}},
  HostileCase{"descriptor_count_past_bytes", [] {
    Bytes body;
    body.U16LE(0xFFFF).U16LE(16).Append(ASFUtf16("WM/Mood")).U16LE(0).U16LE(6).Append(ASFUtf16("Up"));
    return ASFMinimalFile({ASFObject(kASFExtendedContentDescription, body)}).v;
  }(), wmaDamaged, {"WM/Mood"}},
  HostileCase{"descriptor_name_past_object", [] {
    Bytes body;
    body.U16LE(1).U16LE(0xFFF0).Append(ASFUtf16("WM/Mood"));
    return ASFMinimalFile({kTitle, ASFObject(kASFExtendedContentDescription, body)}).v;
  }(), wmaDamaged, {"Title"}},
  HostileCase{"descriptor_type_unknown", ASFMinimalFile({ASFExtendedContent({{"A", 9, U32(1)}, {"B", 3, U32(2)}})}).v,
              wmaDamaged, {"B"}},
  HostileCase{"dword_of_three_bytes", ASFMinimalFile({ASFExtendedContent({{"A", 3, {1, 2, 3}}, {"B", 3, U32(2)}})}).v,
              wmaDamaged, {"B"}},
  HostileCase{"guid_in_extended_content", ASFMinimalFile({ASFExtendedContent({{"A", 6, Bytes8(16, 1)}})}).v,
              wmaDamaged, {}},
  HostileCase{"bytes_left_in_descriptor_object", [] {
    Bytes8 f = ASFMinimalFile({ASFObject(kASFExtendedContentDescription,
                                         Bytes().U16LE(0).Append(Slice(kGenre.v, 26, kGenre.size())))}).v;
    return f;
  }(), wmaDamaged, {}},
  HostileCase{"library_data_length_huge", [] {
    Bytes body;
    body.U16LE(1).U16LE(0).U16LE(0).U16LE(4).U16LE(1).U32LE(0xFFFFFFFF).Append(ASFUtf16("X")).Zeros(8);
    return ASFMinimalFile({kTitle, ASFHeaderExtension({ASFObject(kASFMetadataLibrary, body)})}).v;
  }(), wmaDamaged, {"Title"}},
  HostileCase{"library_record_count_past_bytes", [] {
    Bytes body;
    body.U16LE(5000).U16LE(0).U16LE(0).U16LE(4).U16LE(3).U32LE(4).Append(ASFUtf16("X")).U32LE(7);
    return ASFMinimalFile({ASFHeaderExtension({ASFObject(kASFMetadataLibrary, body)})}).v;
  }(), wmaDamaged, {"X"}},
  HostileCase{"extension_data_size_wrong", [] {
    Bytes8 f = ASFMinimalFile({ASFHeaderExtension({ASFMetadataObject(false, {{"X", 3, U32(7)}})})}).v;
    const std::size_t at = Find(f, kASFHeaderExtension) + 24 + 18;
    f[at] = static_cast<std::uint8_t>(f[at] + 2);
    return f;
  }(), wmaDamaged, {}},
  HostileCase{"extension_object_past_data", [] {
    Bytes8 f = ASFMinimalFile({ASFHeaderExtension({ASFMetadataObject(false, {{"X", 3, U32(7)}})})}).v;
    return WithU64At(f, Find(f, kASFMetadata) + 16, 0x7FFFFFFF);
  }(), wmaDamaged, {}},
  HostileCase{"picture_data_length_past_value",
              ASFMinimalFile({ASFExtendedContent({{"WM/Picture", 1, StoredPicture(0xFFFFFF00, Bytes8(10, 7)).v}})}).v,
              wmaDamaged, {"WM/Picture"}},
  HostileCase{"picture_shorter_than_its_header", ASFMinimalFile({ASFExtendedContent({{"WM/Picture", 1, {3, 1}}})}).v,
              wmaDamaged, {"WM/Picture"}},
  HostileCase{"picture_mime_unterminated",
              ASFMinimalFile({ASFExtendedContent({{"WM/Picture", 1, Bytes().U8(3).U32LE(0).Append(ASFUtf16("image/png", false)).v}})}).v,
              wmaDamaged, {"WM/Picture"}}),
  [](const auto &Info) { return std::string(Info.param.name); });

TEST(ASFHeader, ProtectedFileLoadsButIsNeverWritten)
{
  for (const TASFGuid &encryption : {kASFContentEncryption, kASFExtendedContentEncryption}) {
    const Bytes8 file = ASFMinimalFile({kTitle, ASFObject(encryption, Bytes().U32LE(4).Str("key!"))});
    TMemoryStream content{TBytes(file)};
    TWMATag tag;
    ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
    EXPECT_TRUE(tag.Protected());
    EXPECT_TRUE(tag.IsProtected());
    EXPECT_EQ(tag.GetText("Title"), "T");
    TRewritePlan plan;
    EXPECT_EQ(tag.PlanSave(content, plan), wmaOk) << "an unchanged save is no write";
    tag.SetText("Title", "Other");
    EXPECT_EQ(tag.PlanSave(content, plan), wmaProtected);
    EXPECT_TRUE(plan.ChangesNothing());
    EXPECT_EQ(TWMATag::PlanRemove(content, plan), wmaProtected);
    EXPECT_EQ(content.Data(), file);
  }
}

TEST(ASFHeader, ReadsPropertiesAndPseudoAttributes)
{
  const Bytes8 file = ASFMinimalFile({kTitle});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  // 3 s of play duration less 300 ms of preroll.
  EXPECT_EQ(tag.Duration(), 2700);
  EXPECT_DOUBLE_EQ(tag.PlayTime(), 2.7);
  EXPECT_EQ(tag.BitRate(), 128);
  EXPECT_EQ(tag.Channels(), 2);
  EXPECT_EQ(tag.SampleRate(), 44100);
  EXPECT_EQ(tag.BitsPerSample(), 16);
  EXPECT_EQ(tag.CodecInfo(), "Test Codec");
  EXPECT_EQ(tag.CodecDescription(), "48 kbps");
  EXPECT_TRUE(tag.HasAudio());
  EXPECT_TRUE(tag.Seekable());
  EXPECT_FALSE(tag.HasVideo());
  EXPECT_FALSE(tag.IsProtected());
  EXPECT_FALSE(tag.Broadcast());
  EXPECT_EQ(tag.GetReportedFileSize(), 0u);
  EXPECT_EQ(tag.FileSize(), static_cast<std::int64_t>(file.size()));
  EXPECT_TRUE(tag.Loaded);
  EXPECT_TRUE(tag.HasUserAttributes());
  // The pseudo-attributes come first; the stored ones after them.
  ASSERT_GT(tag.Count(), 1);
  EXPECT_EQ(tag.Frames[0]->Name, "Duration");
  EXPECT_EQ(tag.Frames.back()->Name, "Title");
}

TEST(ASFHeader, PseudoAttributesAreNeverWritten)
{
  Bytes8 file = ASFMinimalFile({kTitle});
  // The file size the header states is right: a save would correct it otherwise.
  file = WithU64At(file, Find(file, kASFFileProperties) + 40, file.size());
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  // A list that only changed its read-only values writes nothing.
  tag.SetInteger("Duration", WMT_TYPE_QWORD, 5);
  tag.SetInteger("HasVideo", WMT_TYPE_BOOL, 1);
  TRewritePlan plan;
  ASSERT_EQ(tag.PlanSave(content, plan), wmaOk);
  EXPECT_TRUE(plan.ChangesNothing());
  // Written with a real change, they still are not.
  tag.SetText("WM/Mood", "Calm");
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  TASFHeader header;
  TReadView view(content);
  ASSERT_EQ(ReadASFHeader(view, header), asfrOk);
  std::vector<std::string> stored;
  for (const TWMATagFrame &f : header.Attributes) stored.push_back(f.Name);
  EXPECT_EQ(stored, (std::vector<std::string>{"Title", "WM/Mood"}));
}

// The objects of the header other than the attribute objects, the File Properties object with its
// file size field blanked, and everything from the data object on.
struct TUnowned {
  std::vector<Bytes8> Objects;
  Bytes8 Rest;
  bool operator==(const TUnowned &) const = default;
};

TUnowned Unowned(const Bytes8 &File)
{
  TReadMemoryStream s(File.data(), static_cast<std::int64_t>(File.size()));
  TReadView view(s);
  TASFHeader h;
  EXPECT_EQ(ReadASFHeader(view, h), asfrOk);
  TUnowned u;
  const auto bytes = [&](const TASFObjectPlace &o) {
    return Bytes8(File.begin() + o.Offset, File.begin() + o.Offset + o.Size);
  };
  for (const TASFObjectPlace &o : h.Objects) {
    if (o.ID == kASFContentDescription || o.ID == kASFExtendedContentDescription || o.ID == kASFHeaderExtension) continue;
    Bytes8 b = bytes(o);
    if (o.ID == kASFFileProperties) std::fill(b.begin() + 40, b.begin() + 48, 0);
    u.Objects.push_back(b);
  }
  for (const TASFObjectPlace &o : h.ExtensionObjects)
    if (o.ID != kASFMetadata && o.ID != kASFMetadataLibrary) u.Objects.push_back(bytes(o));
  u.Rest.assign(File.begin() + h.Size, File.end());
  return u;
}

TEST(ASFHeader, SaveKeepsEveryObjectItDoesNotOwn)
{
  const Bytes padding = ASFObject(kASFPadding, Bytes().Zeros(100));
  const Bytes unknown = ASFObject(ASFGuid("01234567-89AB-CDEF-0123-456789ABCDEF"), Bytes().Str("opaque"));
  const Bytes8 file = ASFMinimalFile({kTitle, padding,
                                      ASFHeaderExtension({unknown, ASFMetadataObject(false, {{"WM/Mood", 0, ASFUtf16("Up").v}})}),
                                      kGenre, unknown});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  tag.SetText("Title", "A much longer title than before");
  tag.SetText("WM/Mood", "");
  tag.SetText("WM/Composer", "Someone");
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  const Bytes8 &out = content.Data();
  EXPECT_EQ(Unowned(out), Unowned(file));
  // The header's size, count and the file size agree with the new file.
  TReadView view(content);
  TASFHeader h;
  ASSERT_EQ(ReadASFHeader(view, h), asfrOk);
  EXPECT_EQ(h.File.FileSize, out.size());
  EXPECT_EQ(h.Objects.size(), h.ObjectCount);
  // The emptied Metadata object stays, empty; so does the unknown object.
  ASSERT_EQ(h.ExtensionObjects.size(), 2u);
  TWMATag again;
  ASSERT_EQ(again.LoadFromStream(content), wmaOk);
  EXPECT_EQ(UserNames(again), (std::vector<std::string>{"Title", "WM/Genre", "WM/Composer"}));
  EXPECT_EQ(again.GetText("Title"), "A much longer title than before");
}

TEST(ASFHeader, SameSizeChangeIsPlannedInPlace)
{
  const Bytes8 file = ASFMinimalFile({kTitle, kGenre});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  tag.SetText("WM/Genre", "Jazz");
  TRewritePlan plan;
  ASSERT_EQ(tag.PlanSave(content, plan), wmaOk);
  EXPECT_TRUE(plan.InPlace);
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  EXPECT_EQ(content.Data().size(), file.size());
  TWMATag again;
  ASSERT_EQ(again.LoadFromStream(content), wmaOk);
  EXPECT_EQ(again.GetText("WM/Genre"), "Jazz");
}

TEST(ASFHeader, StreamNumberedAttributesStayWhereTheyWere)
{
  const Bytes8 file = ASFMinimalFile(
    {kTitle, ASFHeaderExtension({ASFMetadataObject(false, {{"DeviceConformanceTemplate", 0, ASFUtf16("L2").v, 1},
                                                           {"WM/Mood", 0, ASFUtf16("Up").v}}),
                                 ASFMetadataObject(true, {{"AspectRatioX", 3, U32(16), 2, 0},
                                                          {"WM/Lang", 0, ASFUtf16("Hallo").v, 0, 1}})})});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  ASSERT_EQ(tag.KeptAttributes.size(), 2u);
  EXPECT_EQ(UserNames(tag), (std::vector<std::string>{"Title", "WM/Mood", "WM/Lang"}));
  tag.SetText("Title", "Changed");
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  TReadView view(content);
  TASFHeader h;
  ASSERT_EQ(ReadASFHeader(view, h), asfrOk);
  std::vector<std::tuple<std::string, int, int, int>> where;
  for (const TWMATagFrame &f : h.Attributes) where.emplace_back(f.Name, f.Origin, f.StreamNumber, f.LanguageIndex);
  EXPECT_EQ(where, (std::vector<std::tuple<std::string, int, int, int>>{
                     {"Title", aoContentDescription, 0, 0},
                     {"WM/Mood", aoMetadata, 0, 0},
                     {"DeviceConformanceTemplate", aoMetadata, 1, 0},
                     {"WM/Lang", aoMetadataLibrary, 0, 1},
                     {"AspectRatioX", aoMetadataLibrary, 2, 0}}));
  // A removal takes the stream-0 attributes and keeps the others.
  ASSERT_EQ(RemoveWMATagFromStream(content), wmaOk);
  TWMATag removed;
  ASSERT_EQ(removed.LoadFromStream(content), wmaOk);
  EXPECT_FALSE(removed.HasUserAttributes());
  EXPECT_EQ(removed.KeptAttributes.size(), 2u);
}

TEST(ASFHeader, EveryTypeRoundTripsToTheObjectThatHoldsIt)
{
  const Bytes8 file = ASFMinimalFile({});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  tag.SetText("Title", "Title text");
  tag.SetText("WM/AlbumTitle", "Album");
  tag.SetInteger("WM/TrackNumber", WMT_TYPE_DWORD, 7);
  tag.SetInteger("IsGood", WMT_TYPE_BOOL, 1);
  tag.SetInteger("WM/Big", WMT_TYPE_QWORD, 0x0102030405060708ULL);
  tag.SetInteger("WM/Small", WMT_TYPE_WORD, 513);
  TWMATagFrame *guid = tag.AddFrame("WM/MediaClassPrimaryID");
  guid->SetAsGUID(kASFAudioMedia);
  TWMATagFrame *bin = tag.AddFrame("WM/Binary");
  bin->Format = WMT_TYPE_BINARY;
  bin->Stream = {1, 2, 3, 0, 5};
  TWMATagFrame *big = tag.AddFrame("WM/Lyrics");
  big->SetText(std::string(40000, 'x'));  // 80,002 bytes of UTF-16
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);

  TReadView view(content);
  TASFHeader h;
  ASSERT_EQ(ReadASFHeader(view, h), asfrOk);
  std::vector<std::pair<std::string, int>> where;
  for (const TWMATagFrame &f : h.Attributes) where.emplace_back(f.Name, f.Origin);
  EXPECT_EQ(where, (std::vector<std::pair<std::string, int>>{{"Title", aoContentDescription},
                                                             {"WM/AlbumTitle", aoExtendedContentDescription},
                                                             {"WM/TrackNumber", aoExtendedContentDescription},
                                                             {"IsGood", aoExtendedContentDescription},
                                                             {"WM/Big", aoExtendedContentDescription},
                                                             {"WM/Small", aoExtendedContentDescription},
                                                             {"WM/Binary", aoExtendedContentDescription},
                                                             {"WM/MediaClassPrimaryID", aoMetadataLibrary},
                                                             {"WM/Lyrics", aoMetadataLibrary}}));
  TWMATag again;
  ASSERT_EQ(again.LoadFromStream(content), wmaOk);
  for (const auto &f : tag.Frames) {
    if (TWMATag::IsPseudoAttribute(f->Name)) continue;
    const int i = again.FrameExists(f->Name);
    ASSERT_GE(i, 0) << f->Name;
    EXPECT_TRUE(again.Frames[static_cast<std::size_t>(i)]->SameAttribute(*f)) << f->Name;
  }
  EXPECT_EQ(again.GetText("WM/MediaClassPrimaryID"), "{F8699E40-5B4D-11CF-A8FD-00805F5C442B}");
  EXPECT_EQ(again.GetText("IsGood"), "1");
  // Saving what was loaded writes nothing.
  TRewritePlan plan;
  ASSERT_EQ(again.PlanSave(content, plan), wmaOk);
  EXPECT_TRUE(plan.ChangesNothing());
}

TEST(ASFHeader, BoolOfMetadataObjectsIsAWord)
{
  const Bytes8 file = ASFMinimalFile({ASFHeaderExtension({ASFMetadataObject(false, {{"Flag", 2, {1, 0}}})})});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  const int i = tag.FrameExists("Flag");
  ASSERT_GE(i, 0);
  EXPECT_EQ(tag.Frames[static_cast<std::size_t>(i)]->Format, WMT_TYPE_BOOL);
  EXPECT_EQ(tag.Frames[static_cast<std::size_t>(i)]->Stream, (TBytes{1, 0, 0, 0}));
  tag.SetText("Title", "x");
  ASSERT_EQ(tag.SaveToStream(content), wmaOk);
  const Bytes8 record = ASFMetadataObject(false, {{"Flag", 2, {1, 0}}}).v;
  EXPECT_NE(std::search(content.Data().begin(), content.Data().end(), record.begin(), record.end()), content.Data().end());
}

TEST(ASFHeader, TooLargeForAnyObjectIsRefused)
{
  const Bytes8 file = ASFMinimalFile({});
  TMemoryStream content{TBytes(file)};
  TWMATag tag;
  ASSERT_EQ(tag.LoadFromStream(content), wmaOk);
  tag.SetText(std::string(40000, 'N'), "name too long");
  TRewritePlan plan;
  EXPECT_EQ(tag.PlanSave(content, plan), wmaTooLarge);
  EXPECT_TRUE(plan.ChangesNothing());
}

} // namespace
