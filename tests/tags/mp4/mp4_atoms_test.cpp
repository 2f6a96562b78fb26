#include "tags/mp4/mp4_atoms.h"

#include <gtest/gtest.h>

#include <string>

#include "tags/streams/file_io.h"
#include "tests/support/test_support.h"

namespace {

Bytes Atom(const char *Type, const Bytes &Body)
{
  return Bytes().U32BE(static_cast<std::uint32_t>(8 + Body.size())).Str(Type).Append(Body);
}

Bytes Atom64(const char *Type, const Bytes &Body)
{
  return Bytes().U32BE(1).Str(Type).U64BE(16 + Body.size()).Append(Body);
}

std::string TypeOf(const TAtomHeader &H) { return std::string(H.Type.begin(), H.Type.end()); }

std::vector<std::string> Walk(const Bytes8 &Data)
{
  TMemoryStream s(Data);
  std::vector<TAtomHeader> atoms;
  EXPECT_TRUE(ReadChildAtoms(s, 0, static_cast<std::int64_t>(Data.size()), true, atoms));
  std::vector<std::string> types;
  for (const TAtomHeader &h : atoms) types.push_back(TypeOf(h));
  return types;
}

} // namespace

TEST(MP4Atoms, TopLevelWithSixtyFourBitAndToTheEndSizes)
{
  const Bytes data = Bytes()
                         .Append(Atom("ftyp", Bytes().Str("M4A ").U32BE(0)))
                         .Append(Atom64("moov", Atom("mvhd", Bytes().Zeros(100))))
                         .U32BE(0).Str("mdat").Str("audio bytes to the end");
  EXPECT_EQ(Walk(data.v), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
  TMemoryStream s(data.v);
  std::vector<TAtomHeader> atoms;
  ASSERT_TRUE(ReadChildAtoms(s, 0, static_cast<std::int64_t>(data.size()), true, atoms));
  EXPECT_EQ(atoms[1].HeaderSize, 16);
  EXPECT_EQ(atoms[1].Size, 16 + 108);
  EXPECT_TRUE(atoms[2].ToEnd);
  EXPECT_EQ(atoms[2].End(), static_cast<std::int64_t>(data.size()));

  TAtomHeader mvhd;
  const std::string_view path[] = {"moov", "mvhd"};
  ASSERT_TRUE(FindAtomPath(s, path, mvhd));
  EXPECT_EQ(mvhd.Offset, atoms[1].BodyOffset());
  EXPECT_EQ(mvhd.BodySize(), 100);
}

TEST(MP4Atoms, DamageIsFoundAgainstTheParentNotTheFile)
{
  struct Case {
    const char *name;
    Bytes data;
    std::size_t before;  // atoms read before the damage
  };
  const Case cases[] = {
      // A child that claims more than its parent holds, though the file has the bytes.
      {"child_past_parent", Atom("moov", Bytes().U32BE(40).Str("udta").Zeros(8)).Append(Bytes().Zeros(64)), 0},
      {"size_below_header", Bytes().Append(Atom("free", Bytes())).U32BE(7).Str("moov"), 1},
      {"sixty_four_bit_below_header", Bytes().U32BE(1).Str("moov").U64BE(15), 0},
      {"truncated_header", Bytes().Append(Atom("free", Bytes())).U32BE(100).Str("mo"), 1},
      {"size_zero_inside", Atom("moov", Bytes().U32BE(0).Str("udta")), 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream s(c.data.v);
    std::vector<TAtomHeader> atoms;
    const auto size = static_cast<std::int64_t>(c.data.size());
    bool ok = ReadChildAtoms(s, 0, size, true, atoms);
    if (ok && !atoms.empty() && atoms[0].Is("moov")) {
      // The damage is one level down.
      ok = ReadChildAtoms(s, atoms[0].BodyOffset(), atoms[0].End(), false, atoms);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(atoms.size(), c.before);
  }
}

TEST(MP4Atoms, MetaWithAndWithoutVersionAndFlags)
{
  const Bytes hdlr = Atom("hdlr", Bytes().Zeros(8).Str("mdirappl").Zeros(9));
  const Bytes ilst = Atom("ilst", Atom("\xA9nam", Atom("data", Bytes().U32BE(1).U32BE(0).Str("Title"))));
  for (const bool fullBox : {true, false}) {
    SCOPED_TRACE(fullBox);
    Bytes meta = fullBox ? Bytes().U32BE(0) : Bytes();
    meta.Append(hdlr).Append(ilst);
    const Bytes file = Bytes().Append(Atom("ftyp", Bytes().Str("M4A "))).Append(Atom("moov", Atom("udta", Atom("meta", meta))));
    TMemoryStream s(file.v);
    TAtomHeader found;
    const std::string_view path[] = {"moov", "udta", "meta", "ilst", "\xA9nam"};
    ASSERT_TRUE(FindAtomPath(s, path, found));
    EXPECT_TRUE(found.Is("\xA9nam"));
    EXPECT_EQ(found.BodySize(), 8 + 8 + 5);
  }
}

TEST(MP4Atoms, ItemListOfRealFiles)
{
  for (const char *fixture : {"m4a/alac-kid3.m4a", "m4a/aac-moov-end.m4a", "m4a/aac-moov-start.m4a"}) {
    SCOPED_TRACE(fixture);
    auto file = TFileStream::Open(FixturePath(fixture), TFileMode::fmOpenRead);
    ASSERT_NE(file, nullptr);
    std::vector<TAtomHeader> top;
    ASSERT_TRUE(ReadChildAtoms(*file, 0, file->GetSize(), true, top));
    ASSERT_FALSE(top.empty());
    EXPECT_TRUE(top[0].Is("ftyp"));
    EXPECT_EQ(top.back().End(), file->GetSize());
    TAtomHeader ilst;
    const std::string_view path[] = {"moov", "udta", "meta", "ilst"};
    ASSERT_TRUE(FindAtomPath(*file, path, ilst));
    std::vector<TAtomHeader> items;
    EXPECT_TRUE(ReadChildAtoms(*file, ilst.BodyOffset(), ilst.End(), false, items));
    EXPECT_FALSE(items.empty());
  }
}
