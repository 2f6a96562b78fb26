// Every fixture of tests/data listed in EXPECTED.jsonl, through the tag service: the record it
// loads is what mature readers read, a save without an edit writes nothing, every field and a
// picture written read back without touching the audio, and a save failing at any one of its
// write-like operations leaves the file as it was. The format table below says which fixtures
// a format covers and whether the library handles it today; a format that lands flips its row.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fnmatch.h>

#include "app/service/tag_service.h"
#include "tags/id3/id3v1_tag.h"
#include "tags/flac/flac_metadata.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/ogg/ogg_page.h"
#include "tags/streams/file_io.h"
#include "tags/tag_container.h"
#include "tests/support/expected_records.h"
#include "tests/support/test_support.h"
#include "tests/support/write_faults.h"

namespace {

// --- The format table ------------------------------------------------------------------------

enum class TSupport { Today, NotYet };

struct TFormatRow {
  const char *Name;
  // Fixtures (paths under tests/data, fnmatch patterns) of this format. A fixture belongs to the
  // first row with a matching pattern, so rows for one kind of tag inside a shared container
  // come before the row of the container.
  std::vector<const char *> Fixtures;
  TSupport Support;
  const char *Reason;  // why a row is not supported yet
};

const std::vector<TFormatRow> &FormatTable()
{
  static const std::vector<TFormatRow> rows{
    {"APEv2 (in MP3, WavPack and Musepack files)", {"mp3/apev2-*", "mp3/*-apev2-*", "wv/*", "mpc/*"}, TSupport::Today, ""},
    {"MPEG audio: ID3v2, ID3v1 and Lyrics3", {"mp3/*"}, TSupport::Today, ""},
    // info-id3-kid3.wav carries an INFO list and an ID3 chunk with the same values, both kept in
    // step. Untagged WAV files get both.
    {"ID3v2 chunk in WAV and RF64",
     {"wav/id3-*", "wav/info-id3-*", "rf64/rf64-id3-*", "wav/notags.wav", "rf64/rf64-notags.wav"}, TSupport::Today, ""},
    {"WAV LIST/INFO, bext and cart", {"wav/info-*", "rf64/rf64-info-*"}, TSupport::Today, ""},
    {"FLAC Vorbis comment", {"flac/*"}, TSupport::Today, ""},
    {"Ogg Vorbis, Opus and Ogg FLAC comments", {"ogg/*", "opus/*", "oga/*"}, TSupport::Today, ""},
    {"MP4 ilst", {"m4a/*"}, TSupport::Today, ""},
    {"ASF (WMA)", {"wma/*"}, TSupport::Today, ""},
  };
  return rows;
}

const TFormatRow *RowOf(const std::string &File)
{
  for (const TFormatRow &row : FormatTable())
    for (const char *pattern : row.Fixtures)
      if (::fnmatch(pattern, File.c_str(), 0) == 0) return &row;
  return nullptr;
}

// The checks each fixture of a supported format goes through.
enum TCheck : unsigned {
  ckLoad = 1,                  // the record equals its EXPECTED.jsonl line
  ckSaveWithoutEdit = 2,       // a save without an edit writes nothing
  ckEditEveryField = 4,        // every field and a picture read back, the audio stays
  ckServiceWriteFailing = 8,   // the every-N check through the tag service (backup and restore)
  ckLibraryWriteFailing = 16,  // the every-N check of the library's own write, with no backup
};

enum class TExceptionKind {
  Skipped,       // the check is left out, with the reason printed
  SaveRefused,   // the save is refused, which the check then proves leaves the file alone
};

// Fixtures (fnmatch patterns) of a supported format that do not pass a check as it stands,
// the checks concerned, what happens instead and why. An entry goes when the reason does.
struct TKnownException {
  const char *Fixtures;
  unsigned Checks;
  TExceptionKind Kind;
  const char *Reason;
};

const std::vector<TKnownException> &KnownExceptions()
{
  static const std::vector<TKnownException> exceptions{
    {"rf64/rf64-id3-kid3-inconsistent.wav", ckEditEveryField, TExceptionKind::SaveRefused,
     "its RF64 and ds64 sizes disagree with the file (as another tagger wrote it); the library reads the "
     "layout leniently but refuses to write into it (save error 8)"},
    {"rf64/rf64-id3-kid3-inconsistent.wav", ckServiceWriteFailing | ckLibraryWriteFailing, TExceptionKind::Skipped,
     "its save is refused before anything is written (see the edit check)"},
  };
  return exceptions;
}

const TKnownException *KnownException(const std::string &File, TCheck Check)
{
  for (const TKnownException &e : KnownExceptions())
    if ((e.Checks & Check) && ::fnmatch(e.Fixtures, File.c_str(), 0) == 0) return &e;
  return nullptr;
}

// Why the check is skipped for the fixture, or nothing when it runs.
std::optional<std::string> SkipReason(const std::string &File, TCheck Check)
{
  const TFormatRow *row = RowOf(File);
  if (!row) return "no row of the format table covers " + File;
  if (row->Support == TSupport::NotYet) return std::string(row->Name) + ": " + row->Reason;
  const TKnownException *e = KnownException(File, Check);
  if (e && e->Kind == TExceptionKind::Skipped) return std::string("known exception: ") + e->Reason;
  return std::nullopt;
}

#define SKIP_UNLESS_CHECKED(File, Check)                                                 \
  if (const std::optional<std::string> why = SkipReason(File, Check)) GTEST_SKIP() << *why

// --- EXPECTED.jsonl and the record -----------------------------------------------------------

// The sixteen fields: their key in EXPECTED.jsonl and their member of the record.
struct TFieldKey {
  const char *Key;
  std::string TAudioTag::*Member;
};

const std::vector<TFieldKey> &FieldKeys()
{
  static const std::vector<TFieldKey> keys{
    {"title", &TAudioTag::Title}, {"artist", &TAudioTag::Artist}, {"album", &TAudioTag::Album},
    {"year", &TAudioTag::Year}, {"track", &TAudioTag::Track}, {"genre", &TAudioTag::Genre},
    {"comment", &TAudioTag::Comment}, {"disc", &TAudioTag::Disc}, {"bpm", &TAudioTag::BPM},
    {"albumartist", &TAudioTag::AlbumArtist}, {"composer", &TAudioTag::Composer},
    {"originalartist", &TAudioTag::OrigArtist}, {"copyright", &TAudioTag::Copyright}, {"url", &TAudioTag::URL},
    {"encodedby", &TAudioTag::EncodedBy}, {"lyrics", &TAudioTag::Lyrics},
  };
  return keys;
}

bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\n' || C == '\r' || C == '\v' || C == '\f'; }

std::string Trimmed(std::string_view S, bool (*Drop)(char))
{
  while (!S.empty() && Drop(S.front())) S.remove_prefix(1);
  while (!S.empty() && Drop(S.back())) S.remove_suffix(1);
  return std::string(S);
}

// Surrounding blanks and NULs dropped, line breaks as LF; nothing for an empty value.
std::optional<std::string> Cleaned(const std::optional<std::string> &Value)
{
  if (!Value) return std::nullopt;
  std::string s;
  for (std::size_t i = 0; i < Value->size(); ++i) {
    const char c = (*Value)[i];
    if (c != '\r') s += c;
    else if (i + 1 >= Value->size() || (*Value)[i + 1] != '\n') s += '\n';
  }
  s = Trimmed(s, IsBlank);
  s = Trimmed(s, [](char C) { return C == '\0'; });
  s = Trimmed(s, IsBlank);
  if (s.empty()) return std::nullopt;
  return s;
}

bool AllDigits(std::string_view S)
{
  return !S.empty() && std::all_of(S.begin(), S.end(), [](char C) { return C >= '0' && C <= '9'; });
}

std::string WithoutLeadingZeros(std::string_view Digits)
{
  const std::size_t first = Digits.find_first_not_of('0');
  return first == std::string_view::npos ? "0" : std::string(Digits.substr(first));
}

// "03/12" -> "3/12", "3/" -> "3"; anything else as it is.
std::string NumberAndTotal(const std::string &V)
{
  const std::size_t slash = V.find('/');
  const std::string number = Trimmed(std::string_view(V).substr(0, slash), IsBlank);
  if (!AllDigits(number)) return V;
  if (slash == std::string::npos) return WithoutLeadingZeros(number);
  const std::string total = Trimmed(std::string_view(V).substr(slash + 1), IsBlank);
  if (total.empty()) return WithoutLeadingZeros(number);
  if (!AllDigits(total)) return V;
  return WithoutLeadingZeros(number) + "/" + WithoutLeadingZeros(total);
}

// The first four characters (code points) of a year.
std::string FirstFourCharacters(const std::string &V)
{
  std::size_t end = 0;
  for (int n = 0; n < 4 && end < V.size(); ++n) {
    ++end;
    while (end < V.size() && (static_cast<unsigned char>(V[end]) & 0xC0) == 0x80) ++end;
  }
  return V.substr(0, end);
}

// "(17)" and "17" -> "Rock", "(17)Own words" -> "Own words".
std::string GenreName(const std::string &V)
{
  std::string v = V;
  if (v.size() > 2 && v[0] == '(') {
    const std::size_t close = v.find(')');
    if (close != std::string::npos && AllDigits(std::string_view(v).substr(1, close - 1))) {
      const std::string rest = Trimmed(std::string_view(v).substr(close + 1), IsBlank);
      if (!rest.empty()) return rest;
      v = v.substr(1, close - 1);
    }
  }
  if (AllDigits(v) && v.size() <= 3)
    if (const char *name = ID3GenreName(std::atoi(v.c_str()))) return name;
  return v;
}

// A BPM as a whole number when it is a number.
std::string WholeBPM(const std::string &V)
{
  char *end = nullptr;
  const double value = std::strtod(V.c_str(), &end);
  if (end == V.c_str() || *end != '\0' || !std::isfinite(value)) return V;
  return std::to_string(static_cast<long long>(std::nearbyint(value)));
}

// One field as EXPECTED.jsonl holds it, normalised as the interop suites compare it: the same
// rules for the expected value and the loaded one, so that the form a writer chose ("03/12", a
// genre as "(17)", a full date) is not a difference.
std::optional<std::string> Normalised(std::string_view Key, const std::optional<std::string> &Value)
{
  std::optional<std::string> v = Cleaned(Value);
  if (!v) return v;
  if (Key == "track" || Key == "disc") return NumberAndTotal(*v);
  if (Key == "year") return FirstFourCharacters(*v);
  if (Key == "genre") return GenreName(*v);
  if (Key == "bpm") return WholeBPM(*v);
  return v;
}

std::string Shown(const std::optional<std::string> &V) { return V ? "\"" + *V + "\"" : "null"; }

const std::vector<TExpectedRecord> &ExpectedRecords()
{
  static const std::vector<TExpectedRecord> records = [] {
    std::vector<TExpectedRecord> out;
    std::string error;
    if (!ReadExpectedRecords(out, error)) out.clear();
    return out;
  }();
  return records;
}

// The pictures of the file that hold any bytes, as the container loads them.
int PictureCount(const std::string &FileName)
{
  TTags tags;
  tags.ParseCoverArts = true;
  EXPECT_EQ(tags.LoadFromFile(FileName), tagsOk) << FileName;
  int count = 0;
  // A picture left in the file by the load counts by the size it announces.
  for (const auto &art : tags.CoverArts) count += art->DataSize() > 0 ? 1 : 0;
  return count;
}

// --- The audio outside the tags --------------------------------------------------------------

std::uint32_t U32At(const Bytes8 &B, std::size_t At, bool BigEndian)
{
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t byte = B[At + static_cast<std::size_t>(BigEndian ? i : 3 - i)];
    v = (v << 8) | byte;
  }
  return v;
}

// The chunks that hold tags: ID3 chunks, a WAVE form's INFO lists, "bext" and "cart".
bool IsTagChunk(const Bytes8 &File, std::size_t Body, std::size_t End, std::string_view Id)
{
  if (Id == "ID3 " || Id == "id3 " || Id == "bext" || Id == "cart") return true;
  return Id == "LIST" && End - Body >= 4 && std::equal(File.begin() + static_cast<std::ptrdiff_t>(Body),
                                                     File.begin() + static_cast<std::ptrdiff_t>(Body) + 4, "INFO");
}

// The chunks of a RIFF, RF64 or AIFF form other than its tag chunks, each as id, size and body,
// read up to the end of the file whatever the form's size says. A ds64 chunk is taken without
// its RIFF size, which a tag of another size changes; an RF64 data chunk takes its size from it.
Bytes8 ChunksOutsideTags(const Bytes8 &File, bool BigEndian)
{
  Bytes out;
  std::uint64_t ds64DataSize = 0;
  std::size_t at = 12;
  while (at <= File.size() && File.size() - at >= 8) {
    const std::string id(File.begin() + static_cast<std::ptrdiff_t>(at), File.begin() + static_cast<std::ptrdiff_t>(at) + 4);
    std::uint64_t size = U32At(File, at + 4, BigEndian);
    if (id == "data" && size == 0xFFFFFFFFu) size = ds64DataSize;
    const std::size_t body = at + 8;
    const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(File.size() - body, size)) + body;
    if (id == "ds64" && end - body >= 16) {
      for (int i = 0; i < 8; ++i) ds64DataSize |= std::uint64_t{File[body + 8 + static_cast<std::size_t>(i)]} << (8 * i);
      out.Str(id).Append(Slice(File, body + 8, end));
    } else if (!IsTagChunk(File, body, end, id)) {
      out.Append(Slice(File, at, end));
    }
    at = end + (size % 2);
  }
  return out.v;
}

bool EndsWith(const Bytes8 &B, std::size_t End, std::string_view What)
{
  return End >= What.size() && std::equal(What.begin(), What.end(), B.begin() + static_cast<std::ptrdiff_t>(End - What.size()));
}

// The bytes of an MPEG file between its leading ID3v2 tag and its end tags (ID3v1, Lyrics3 v2).
Bytes8 MpegOutsideTags(const Bytes8 &File)
{
  std::size_t begin = static_cast<std::size_t>(ID3v2TagSizeFromHeader(File.data(), File.size()));
  std::size_t end = File.size();
  const auto le32 = [&](std::size_t At) {
    return static_cast<std::size_t>(File[At] | static_cast<std::uint32_t>(File[At + 1]) << 8 | static_cast<std::uint32_t>(File[At + 2]) << 16 | static_cast<std::uint32_t>(File[At + 3]) << 24);
  };
  // An APEv2 tag (with its header when the footer says so) at the end, or in front of the
  // Lyrics3 block and the ID3v1 record; some writers put the record in front of the tag.
  const auto apeTag = [&] {
    if (end - begin < 32 || !EndsWith(File, end - 24, "APETAGEX")) return;
    const std::size_t size = le32(end - 20) + ((le32(end - 12) & 0x80000000u) != 0 ? 32 : 0);
    if (size <= end - begin) end -= size;
  };
  apeTag();
  if (end - begin >= 128 && EndsWith(File, end - 125, "TAG")) end -= 128;
  if (end - begin >= 15 && EndsWith(File, end, "LYRICS200")) {
    const std::string digits(File.begin() + static_cast<std::ptrdiff_t>(end - 15), File.begin() + static_cast<std::ptrdiff_t>(end - 9));
    const std::size_t size = AllDigits(digits) ? std::stoul(digits) : 0;
    if (size + 15 <= end - begin) end -= size + 15;
  }
  apeTag();
  begin = std::min(begin, end);
  return Slice(File, begin, end).v;
}

// What a tag write must not change: for a chunked container every chunk but the ID3 chunks, for
// MPEG audio the frames between the tags.
// A FLAC file's frames: everything after the metadata blocks (behind any ID3v2 tag).
Bytes8 FlacOutsideTags(const std::string &FileName)
{
  TFlacMetadata meta;
  const Bytes8 file = ReadFileBytes(FileName);
  TMemoryStream memory{TBytes(file)};
  if (meta.Load(memory) != flOk || meta.AudioOffset() < 0) return {};
  return Bytes8(file.begin() + meta.AudioOffset(), file.end());
}

// An Ogg file's audio: from the first page with a granule position after the headers on, each
// page's serial, granule position and data (a save renumbers these pages, so their sequence
// numbers and checksums may change).
Bytes8 OggOutsideTags(const Bytes8 &File)
{
  TMemoryStream memory{TBytes(File)};
  TOggPageReader pages(memory, SkipID3v2(memory), 1 << 20);
  Bytes out;
  bool audio = false;
  for (TOggPage page; pages.Next(page);) {
    audio = audio || page.Granule > 0;
    if (!audio) continue;
    out.U32LE(page.Serial).U64LE(static_cast<std::uint64_t>(page.Granule));
    out.Append(Bytes8(page.Data().begin(), page.Data().end()));
  }
  return out.v;
}

// An MP4 file's media: the bodies of its "mdat" atoms, and every atom of "moov" but "udta" and
// free space, each chunk offset ("stco", "co64") taken as the "mdat" it points into and the
// place in that body: a save may move the media, never change it or what the tables say of it.
// Walked here on its own terms, not with the library's walker.
Bytes8 MP4OutsideTags(const Bytes8 &File)
{
  struct TBox {
    std::string Type;
    std::size_t Body = 0, End = 0;
  };
  const auto boxes = [&File](std::size_t From, std::size_t To) {
    std::vector<TBox> out;
    while (From + 8 <= To) {
      std::uint64_t size = U32At(File, From, true);
      std::size_t header = 8;
      if (size == 1 && From + 16 <= To) {
        size = std::uint64_t{U32At(File, From + 8, true)} << 32 | U32At(File, From + 12, true);
        header = 16;
      } else if (size == 0) {
        size = To - From;
      }
      if (size < header || size > To - From) break;
      out.push_back({std::string(File.begin() + static_cast<std::ptrdiff_t>(From) + 4,
                                 File.begin() + static_cast<std::ptrdiff_t>(From) + 8),
                     From + header, From + static_cast<std::size_t>(size)});
      From += static_cast<std::size_t>(size);
    }
    return out;
  };
  const std::vector<TBox> top = boxes(0, File.size());
  std::vector<TBox> mdats;
  Bytes out;
  for (const TBox &b : top)
    if (b.Type == "mdat") {
      mdats.push_back(b);
      out.Str("mdat").Append(Slice(File, b.Body, b.End));
    }
  const auto place = [&mdats](std::uint64_t Offset) {
    for (std::size_t i = 0; i < mdats.size(); ++i)
      if (Offset >= mdats[i].Body && Offset < mdats[i].End) return std::uint64_t{i} << 48 | (Offset - mdats[i].Body);
    return ~std::uint64_t{0};  // outside every mdat
  };
  const auto walk = [&](const auto &Self, std::size_t From, std::size_t To) -> void {
    for (const TBox &b : boxes(From, To)) {
      if (b.Type == "udta" || b.Type == "free" || b.Type == "skip") continue;
      out.Str(b.Type);
      if (b.Type == "trak" || b.Type == "mdia" || b.Type == "minf" || b.Type == "stbl") {
        Self(Self, b.Body, b.End);
      } else if ((b.Type == "stco" || b.Type == "co64") && b.End - b.Body >= 8) {
        const std::size_t width = b.Type == "co64" ? 8 : 4;
        const std::size_t count = U32At(File, b.Body + 4, true);
        for (std::size_t i = 0, at = b.Body + 8; i < count && at + width <= b.End; ++i, at += width) {
          const std::uint64_t v = width == 8 ? std::uint64_t{U32At(File, at, true)} << 32 | U32At(File, at + 4, true)
                                             : U32At(File, at, true);
          out.U64LE(place(v));
        }
      } else {
        out.Append(Slice(File, b.Body, b.End));
      }
    }
  };
  for (const TBox &b : top)
    if (b.Type == "moov") walk(walk, b.Body, b.End);
  return out.v;
}

Bytes8 AudioOutsideTags(const std::string &FileName)
{
  const Bytes8 file = ReadFileBytes(FileName);
  const std::int64_t id3 = [&] {
    TMemoryStream memory{TBytes(file)};
    return SkipID3v2(memory);
  }();
  const auto at = [&](std::string_view Magic) {
    return file.size() >= static_cast<std::size_t>(id3) + Magic.size() &&
           std::equal(Magic.begin(), Magic.end(), file.begin() + id3,
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
  };
  if (at("fLaC")) return FlacOutsideTags(FileName);
  if (at("OggS")) return OggOutsideTags(file);
  auto formIs = [&file](std::string_view Id, std::size_t At) { return file.size() >= 12 && EndsWith(file, At + 4, Id); };
  if (formIs("ftyp", 4)) return MP4OutsideTags(file);
  if ((formIs("RIFF", 0) || formIs("RF64", 0)) && formIs("WAVE", 8)) return ChunksOutsideTags(file, false);
  if (formIs("FORM", 0) && (formIs("AIFF", 8) || formIs("AIFC", 8))) return ChunksOutsideTags(file, true);
  // ASF: everything after the Header object (its size follows its 16-byte GUID), the data
  // object and the indexes.
  static const Bytes8 kASFHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (file.size() >= 24 && std::equal(kASFHeader.begin(), kASFHeader.end(), file.begin())) {
    std::uint64_t header = 0;
    for (int i = 0; i < 8; ++i) header |= std::uint64_t{file[16 + static_cast<std::size_t>(i)]} << (8 * i);
    return header < file.size() ? Slice(file, static_cast<std::size_t>(header), file.size()).v : Bytes8();
  }
  return MpegOutsideTags(file);
}

// --- The suite -------------------------------------------------------------------------------

// New values for every field: text outside Latin-1 (and outside the Basic Multilingual Plane),
// a track and a disc with totals, comment and lyrics of several lines.
void SetEveryField(TAudioTag &Tag)
{
  Tag.Title = "Ünïcödé title – 日本語 ♫";
  Tag.Artist = "Сергей Прокофьев";
  Tag.Album = "Zoë’s “Album” 🎵";
  Tag.Year = "2024";
  Tag.Track = "4/12";
  Tag.Genre = "Électro-Pop";
  Tag.Comment = "First comment line\nSecond line – ü, ß, €";
  Tag.Disc = "1/2";
  Tag.BPM = "96";
  Tag.AlbumArtist = "Various Ärtists";
  Tag.Composer = "Antonín Dvořák";
  Tag.OrigArtist = "Ørjan Original";
  Tag.Copyright = "© 2024 Éxample Records";
  Tag.URL = "https://example.com/music/track-4";
  Tag.EncodedBy = "corvella every-format test ✓";
  Tag.Lyrics = "Verse one ♪\nVerse two – zwei\n\nChorus: 日本語のうた";
  Tag.Modified = true;
}

// A picture other than the one the record holds.
void SetOtherPicture(TAudioTag &Tag)
{
  const bool png = Tag.CoverMime == "image/png";
  Tag.CoverData = ReadFileBytes(FixturePath(png ? "images/cover.jpg" : "images/cover.png"));
  Tag.CoverMime = png ? "image/jpeg" : "image/png";
}

void ExpectSameRecord(const TAudioTag &Got, const TAudioTag &Want)
{
  for (const TAudioTagTextField &f : AudioTagTextFields()) EXPECT_EQ(Got.*f.Member, Want.*f.Member) << f.Name;
  EXPECT_EQ(Got.CoverMime, Want.CoverMime);
  EXPECT_TRUE(Got.CoverData == Want.CoverData) << "a picture of " << Got.CoverData.size() << " bytes, "
                                               << Want.CoverData.size() << " wanted";
  EXPECT_EQ(Got.DurationSec, Want.DurationSec);
}

std::string TestName(const ::testing::TestParamInfo<TExpectedRecord> &Info)
{
  std::string name = Info.param.File;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

// Each test works on a copy of its fixture alone in a folder of its own, so that anything a
// save leaves beside the file shows.
class EveryFormat : public ::testing::TestWithParam<TExpectedRecord> {
protected:
  void SetUp() override
  {
    File = Folder.CopyFixture(GetParam().File);
    SetOldModTime(File);
    Alone = FolderEntries(Folder.Path());
  }
  void TearDown() override { TWriteFaults::Reset(); }

  TAudioTag Load()
  {
    TAudioTag tag;
    EXPECT_TRUE(Service.LoadTag(File, tag)) << Service.GetLastError();
    return tag;
  }

  // Beside the file only the service's backup, holding Original; the backup is removed.
  void ExpectOnlyTheBackupBeside(const Bytes8 &Original)
  {
    const std::string backup = TagBackupFileName(File);
    std::vector<std::string> withBackup = Alone;
    withBackup.push_back(PathFileName(backup));
    std::sort(withBackup.begin(), withBackup.end());
    EXPECT_EQ(FolderEntries(Folder.Path()), withBackup);
    if (FileExists(backup)) {
      EXPECT_TRUE(ReadFileBytes(backup) == Original) << "the backup is not the original";
      std::filesystem::remove(backup);
    }
  }

  TempDir Folder;
  std::string File;
  std::vector<std::string> Alone;
  TTagService Service;
};

TEST_P(EveryFormat, LoadsTheRecordOfExpectedJsonl)
{
  const TExpectedRecord &want = GetParam();
  SKIP_UNLESS_CHECKED(want.File, ckLoad);
  const TAudioTag tag = Load();
  for (const TFieldKey &f : FieldKeys()) {
    const std::optional<std::string> expected = Normalised(f.Key, want.Text(f.Key));
    const std::optional<std::string> loaded = Normalised(f.Key, tag.*f.Member);
    EXPECT_EQ(loaded, expected) << f.Key << ": loaded " << Shown(loaded) << ", EXPECTED.jsonl has " << Shown(expected);
  }
  EXPECT_EQ(PictureCount(File), want.Number("pictures"));
  if (want.Number("pictures") > 0) {
    EXPECT_EQ(std::optional<std::string>(tag.CoverMime), want.Text("picture_mime"));
    EXPECT_EQ(std::optional<std::string>(Sha1Hex(tag.CoverData.data(), tag.CoverData.size())), want.Text("picture_sha1"));
  } else {
    EXPECT_TRUE(tag.CoverData.empty()) << "a picture of " << tag.CoverData.size() << " bytes";
  }
}

TEST_P(EveryFormat, SaveWithoutAnEditWritesNothing)
{
  SKIP_UNLESS_CHECKED(GetParam().File, ckSaveWithoutEdit);
  const Bytes8 before = ReadFileBytes(File);
  const struct timespec time = ModTime(File);
  TAudioTag tag = Load();
  tag.Modified = true;
  TWriteFaults::Reset();
  ASSERT_TRUE(Service.SaveTag(tag)) << Service.GetLastError();
  EXPECT_EQ(TWriteFaults::OperationsSoFar(), 0);
  EXPECT_EQ(ReadFileBytes(File), before);
  EXPECT_TRUE(SameTime(ModTime(File), time));
  EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
}

TEST_P(EveryFormat, EveryFieldAndAPictureReadBackAndTheAudioStays)
{
  SKIP_UNLESS_CHECKED(GetParam().File, ckEditEveryField);
  const Bytes8 before = ReadFileBytes(File);
  const struct timespec time = ModTime(File);
  const Bytes8 audio = AudioOutsideTags(File);
  TAudioTag want = Load();
  SetEveryField(want);
  SetOtherPicture(want);

  if (const TKnownException *e = KnownException(GetParam().File, ckEditEveryField)) {
    ASSERT_EQ(e->Kind, TExceptionKind::SaveRefused);
    std::cout << "known exception, the save is refused: " << e->Reason << "\n";
    EXPECT_FALSE(Service.SaveTag(want));
    EXPECT_NE(Service.GetLastError(), "");
    EXPECT_EQ(ReadFileBytes(File), before);
    EXPECT_TRUE(SameTime(ModTime(File), time));
    // A save refused before any write leaves nothing beside the file, not even the backup.
    EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
    return;
  }

  ASSERT_TRUE(Service.SaveTag(want)) << Service.GetLastError();
  EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
  const TAudioTag back = Load();
  ExpectSameRecord(back, want);
  EXPECT_TRUE(AudioOutsideTags(File) == audio) << "the bytes outside the tags changed";
  EXPECT_EQ(PictureCount(File), std::max(1, PictureCount(FixturePath(GetParam().File))));

  // Saved once more as it reads now, the file is left alone.
  const Bytes8 saved = ReadFileBytes(File);
  TWriteFaults::Reset();
  ASSERT_TRUE(Service.SaveTag(back)) << Service.GetLastError();
  EXPECT_EQ(TWriteFaults::OperationsSoFar(), 0);
  EXPECT_EQ(ReadFileBytes(File), saved);
}

// The save the editor makes, failing at each of its write-like operations in turn: afterwards
// the file is byte-identical, with its modification time, and nothing but the service's backup
// is beside it. That backup stays beside a file whose save failed, by the service's contract;
// it must hold the original, and it goes before the next run. A failure while the backup is
// being made leaves nothing at all.
TEST_P(EveryFormat, EveryFailingWriteThroughTheServiceLeavesTheFileAsItWas)
{
  SKIP_UNLESS_CHECKED(GetParam().File, ckServiceWriteFailing);
  const Bytes8 before = ReadFileBytes(File);
  const struct timespec time = ModTime(File);
  TAudioTag want = Load();
  SetEveryField(want);
  SetOtherPicture(want);

  TWriteFailureSteps steps;
  steps.Save = [&] { return Service.SaveTag(want); };
  steps.CheckIntact = [&](int) {
    const std::string error = Service.GetLastError();
    EXPECT_NE(error, "");
    EXPECT_TRUE(ReadFileBytes(File) == before) << "the file changed: " << error;
    EXPECT_TRUE(SameTime(ModTime(File), time)) << error;
    if (error.rfind(TagServiceTexts::BackupFailed, 0) == 0) {
      EXPECT_EQ(FolderEntries(Folder.Path()), Alone) << error;
    } else {
      ExpectOnlyTheBackupBeside(before);
    }
  };
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  ASSERT_TRUE(run.Succeeded) << Service.GetLastError();
  EXPECT_GE(run.Failures, 2);  // the backup copy and at least one write of the tag
  EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
  ExpectSameRecord(Load(), want);
}

// The library's own write, as the service makes it but with no backup: here nothing at all may
// be left beside the file, and the file itself must be byte-identical after every failure.
TEST_P(EveryFormat, EveryFailingWriteOfTheLibraryLeavesTheFileAsItWas)
{
  SKIP_UNLESS_CHECKED(GetParam().File, ckLibraryWriteFailing);
  const Bytes8 before = ReadFileBytes(File);
  TAudioTag want = Load();
  SetEveryField(want);
  SetOtherPicture(want);

  TWriteFailureSteps steps;
  steps.Save = [&] {
    TTags tags;
    tags.ParseAudioAttributes = true;
    tags.ParseCoverArts = true;
    if (tags.LoadFromFile(File) != tagsOk) return false;
    TAudioTag current;
    ReadFields(tags, current);
    return WriteChangedFields(tags, current, want) && tags.SaveToFile(File, ttAutomatic) == tagsOk;
  };
  steps.CheckIntact = [&](int) {
    EXPECT_TRUE(ReadFileBytes(File) == before) << "the file changed";
    EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
  };
  const TWriteFailureRun run = RunFailingEachWriteInTurn(steps);
  ASSERT_TRUE(run.Succeeded);
  EXPECT_GE(run.Failures, 1);
  EXPECT_EQ(FolderEntries(Folder.Path()), Alone);
  ExpectSameRecord(Load(), want);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EveryFormat, ::testing::ValuesIn(ExpectedRecords()), TestName);

// The table itself: EXPECTED.jsonl reads, names files that exist, and every fixture in it has a
// row; every row covers a fixture; the exceptions name supported fixtures.
TEST(EveryFormatTable, CoversEveryFixtureOfExpectedJsonl)
{
  std::vector<TExpectedRecord> records;
  std::string error;
  ASSERT_TRUE(ReadExpectedRecords(records, error)) << error;
  ASSERT_GE(records.size(), 30u);
  std::vector<const TFormatRow *> used;
  for (const TExpectedRecord &r : records) {
    EXPECT_TRUE(FileExists(FixturePath(r.File))) << r.File;
    const TFormatRow *row = RowOf(r.File);
    EXPECT_NE(row, nullptr) << "no row of the format table covers " << r.File;
    used.push_back(row);
    for (const TFieldKey &f : FieldKeys()) EXPECT_EQ(r.Values.count(f.Key), 1u) << r.File << " has no " << f.Key;
  }
  for (const TFormatRow &row : FormatTable())
    EXPECT_NE(std::find(used.begin(), used.end(), &row), used.end()) << row.Name << " covers no fixture";
  for (const TKnownException &e : KnownExceptions()) {
    const bool supported = std::any_of(records.begin(), records.end(), [&e](const TExpectedRecord &r) {
      const TFormatRow *row = RowOf(r.File);
      return row && row->Support == TSupport::Today && ::fnmatch(e.Fixtures, r.File.c_str(), 0) == 0;
    });
    EXPECT_TRUE(supported) << e.Fixtures << " is listed as an exception but names no fixture of a supported row";
  }
}

TEST(EveryFormatTable, FlatJsonReaderAndSha1)
{
  TFlatJsonObject o;
  std::string error;
  ASSERT_TRUE(ParseFlatJsonObject(R"({"a": "x\ny\u00e9\ud83c\udfb5\"\\\/", "n": -12.5e3, "z": null, "e": ""})", o, error))
    << error;
  EXPECT_EQ(o["a"], std::optional<std::string>("x\ny\xC3\xA9\xF0\x9F\x8E\xB5\"\\/"));
  EXPECT_EQ(o["n"], std::optional<std::string>("-12.5e3"));
  EXPECT_EQ(o["z"], std::nullopt);
  EXPECT_EQ(o["e"], std::optional<std::string>(""));
  for (const char *bad : {R"({"a": {"b": 1}})", R"({"a": true})", R"({"a": 1, "a": 2})", R"({"a": "\ud800"})",
                          R"({"a": "x)", R"({"a": 1} x)", R"({"a" 1})", "[1]", R"({"a": "\q"})"})
    EXPECT_FALSE(ParseFlatJsonObject(bad, o, error)) << bad;

  const std::string abc = "abc";
  EXPECT_EQ(Sha1Hex(reinterpret_cast<const std::uint8_t *>(abc.data()), abc.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Sha1Hex(nullptr, 0), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  EXPECT_EQ(Sha1Hex(reinterpret_cast<const std::uint8_t *>(two.data()), two.size()), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST(EveryFormatTable, NormalisationAsTheInteropSuitesCompare)
{
  EXPECT_EQ(Normalised("track", std::string("03/12")), std::optional<std::string>("3/12"));
  EXPECT_EQ(Normalised("disc", std::string(" 1 / 02 ")), std::optional<std::string>("1/2"));
  EXPECT_EQ(Normalised("track", std::string("3/")), std::optional<std::string>("3"));
  EXPECT_EQ(Normalised("year", std::string("2021-05-04")), std::optional<std::string>("2021"));
  EXPECT_EQ(Normalised("genre", std::string("(17)")), std::optional<std::string>("Rock"));
  EXPECT_EQ(Normalised("genre", std::string("(17)Own")), std::optional<std::string>("Own"));
  EXPECT_EQ(Normalised("bpm", std::string("127.6")), std::optional<std::string>("128"));
  EXPECT_EQ(Normalised("comment", std::string("a\r\nb\rc \0", 9)), std::optional<std::string>("a\nb\nc"));
  EXPECT_EQ(Normalised("title", std::string(" \t")), std::nullopt);
  EXPECT_EQ(Normalised("title", std::nullopt), std::nullopt);
}

} // namespace
