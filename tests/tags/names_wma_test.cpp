// The container's copy between generic entries and the attributes of an ASF file: what loads,
// what a save writes (and leaves alone), pictures, deletion, removal and refusals.

#include <gtest/gtest.h>

#include "tags/asf/wma_tag.h"
#include "tags/tag_container.h"
#include "tests/support/asf_bytes.h"
#include "tests/support/tag_entries.h"
#include "tests/support/test_support.h"

namespace {

using Descriptor = TASFDescriptorBytes;

Bytes8 Utf16(std::string_view Text) { return ASFUtf16(Text).v; }
Bytes8 DWord(std::uint32_t V) { return Bytes().U32LE(V).v; }

const Bytes8 kPng = Bytes().U8(0x89).Str("PNG\r\n\x1a\n").Fill(40, 0x22).v;

std::string WriteFile(const TempDir &Dir, const std::vector<Descriptor> &Descriptors,
                      const std::vector<std::string> &Content = {"Title", "Author", "", "A comment", ""})
{
  return Dir.Write("a.wma", ASFMinimalFile({ASFContentDescription(Content), ASFExtendedContent(Descriptors)}));
}

// The attributes of the file as the tag object lists them (no header values): name and text.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string &Path)
{
  TWMATag wma;
  EXPECT_EQ(wma.LoadFromFile(Path), wmaOk);
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto &f : wma.Frames)
    if (!TWMATag::IsPseudoAttribute(f->Name)) out.emplace_back(f->Name, f->GetText());
  return out;
}

std::string AttributeText(const std::string &Path, const std::string &Name)
{
  for (const auto &[n, t] : Attributes(Path))
    if (n == Name) return t;
  return "<none>";
}

} // namespace

TEST(WMANames, LoadMapsNamesNumbersAndUnknownAttributes)
{
  TempDir dir;
  const std::string path = WriteFile(dir, {{"WM/Track", 3, DWord(4)},
                                           {"WM/TrackNumber", 0, Utf16("5/12")},
                                           {"WM/PartOfSet", 0, Utf16("1/2")},
                                           {"WM/AlbumTitle", 0, Utf16("Album")},
                                           {"WM/Year", 0, Utf16("2021")},
                                           {"WMFSDKVersion", 0, Utf16("12.0")},
                                           {"Custom/Thing", 0, Utf16("kept")}});
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.ContainerType, actUnknown);  // not asked for
  EXPECT_EQ(GetAudioContainerType(path), actASF);
  EXPECT_EQ(EntryValues(tags, "TITLE"), std::vector<std::string>{"Title"});
  EXPECT_EQ(EntryValues(tags, "ARTIST"), std::vector<std::string>{"Author"});
  EXPECT_EQ(EntryValues(tags, "COMMENT"), std::vector<std::string>{"A comment"});
  // The zero-based WM/Track first gives the number, then WM/TrackNumber gives it with its total.
  EXPECT_EQ(EntryValues(tags, "TRACKNUMBER"), (std::vector<std::string>{"5", "5"}));
  EXPECT_EQ(EntryValues(tags, "TOTALTRACKS"), std::vector<std::string>{"12"});
  EXPECT_EQ(EntryValues(tags, "DISCNUMBER"), std::vector<std::string>{"1"});
  EXPECT_EQ(EntryValues(tags, "TOTALDISCS"), std::vector<std::string>{"2"});
  EXPECT_EQ(EntryValues(tags, "ALBUM"), std::vector<std::string>{"Album"});
  EXPECT_EQ(EntryValues(tags, "RECORDINGDATE"), std::vector<std::string>{"2021"});
  EXPECT_EQ(EntryValues(tags, "Custom/Thing"), std::vector<std::string>{"kept"});
  EXPECT_EQ(tags.Exists("WMFSDKVersion"), -1);
  EXPECT_EQ(tags.Exists("Duration"), -1);
  EXPECT_EQ(tags.LoadedTagTypes(), std::vector<TTagType>{ttWMA});
  EXPECT_NEAR(tags.SourceAudioAttributes.PlayTime(), 2.7, 1e-9);  // 3 s less 300 ms of preroll
}

TEST(WMANames, SaveWritesOnlyWhatChanged)
{
  TempDir dir;
  const std::string path = WriteFile(dir, {{"WM/TrackNumber", 3, DWord(3)}, {"Custom/Thing", 0, Utf16("kept")},
                                           {"WM/Mood", 0, Utf16("calm")}});
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), before);  // nothing changed, nothing written

  // A track with its total: WM/TrackNumber "5/12" and the zero-based WM/Track 4; the DWORD
  // track number of the file gives way; the rest keeps its type and text.
  tags.SetText("TRACKNUMBER", "5");
  tags.SetText("TOTALTRACKS", "12");
  tags.SetText("YEAR", "2024");
  tags.SetText("TIPL", "producer\r\nAnn\r\n");
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(AttributeText(path, "WM/TrackNumber"), "5/12");
  EXPECT_EQ(AttributeText(path, "WM/Track"), "4");
  EXPECT_EQ(AttributeText(path, "WM/Year"), "2024");
  EXPECT_EQ(AttributeText(path, "WM/Mood"), "calm");
  EXPECT_EQ(AttributeText(path, "Custom/Thing"), "kept");
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  TStringList people;
  ASSERT_NE(back.Tag("TIPL"), nullptr);
  back.Tag("TIPL")->GetList(people);
  EXPECT_EQ(people, TStringList{"producer=Ann"});

  // A number that is no number gives the zero-based track 0.
  back.SetText("TRACKNUMBER", "abc");
  ASSERT_EQ(back.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(AttributeText(path, "WM/Track"), "0");
}

TEST(WMANames, PicturesDeletionAndRemoval)
{
  TempDir dir;
  const std::string path = WriteFile(dir, {{"WM/Mood", 0, Utf16("calm")}, {"IsVBR", 2, Bytes().U32LE(0).v}});
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  TMemoryStream png{TBytes(kPng)};
  TCoverArt *art = tags.AddCoverArt("Cover", png, "image/png");
  art->CoverType = 3;
  art->Description = "front";
  ASSERT_EQ(tags.SaveToFile(path, ttAutomatic), tagsOk);
  TTags back;
  ASSERT_EQ(back.LoadFromFile(path), tagsOk);
  ASSERT_EQ(back.CoverArtCount(), 1);
  EXPECT_EQ(back.CoverArts[0]->Stream.Data(), kPng);
  EXPECT_EQ(back.CoverArts[0]->MIMEType, "image/png");
  EXPECT_EQ(back.CoverArts[0]->CoverType, 3);
  EXPECT_EQ(back.CoverArts[0]->Description, "front");

  ASSERT_TRUE(back.Delete("MOOD"));
  ASSERT_EQ(back.SaveToFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(AttributeText(path, "WM/Mood"), "<none>");

  // Removal takes every user attribute and picture; the encoder's notes stay.
  ASSERT_EQ(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  TTags removed;
  ASSERT_EQ(removed.LoadFromFile(path), tagsOk);
  EXPECT_EQ(removed.Count(), 0);
  EXPECT_EQ(removed.CoverArtCount(), 0);
  EXPECT_EQ(AttributeText(path, "IsVBR"), "0");
}

TEST(WMANames, AProtectedFileIsReadButNotWritten)
{
  TempDir dir;
  const Bytes encryption = ASFObject(kASFContentEncryption, Bytes().U32LE(0).U32LE(0).U32LE(0).U32LE(0));
  const std::string path =
    dir.Write("a.wma", ASFMinimalFile({ASFContentDescription({"Title", "", "", "", ""}), encryption}));
  const Bytes8 before = ReadFileBytes(path);
  TTags tags;
  ASSERT_EQ(tags.LoadFromFile(path), tagsOk);
  EXPECT_EQ(tags.GetText("TITLE"), "Title");
  tags.SetText("TITLE", "New");
  EXPECT_EQ(tags.SaveToFile(path, ttAutomatic), tagsProtected);
  EXPECT_NE(RemoveTagsFromFile(path, ttAutomatic), tagsOk);
  EXPECT_EQ(ReadFileBytes(path), before);
}
