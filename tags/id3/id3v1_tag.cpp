#include "tags/id3/id3v1_tag.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "tags/ogg/ogg_page.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/text/text.h"

namespace {
constexpr std::int64_t kRecordSize = 128;
constexpr std::size_t kTitleOffset = 3, kArtistOffset = 33, kAlbumOffset = 63, kYearOffset = 93, kCommentOffset = 97;
constexpr std::size_t kTitleWidth = 30, kArtistWidth = 30, kAlbumWidth = 30, kYearWidth = 4, kCommentWidth = 30;
constexpr std::size_t kZeroBeforeTrack = 125, kTrackOffset = 126, kGenreOffset = 127;
constexpr std::size_t kCommentWidthWithTrack = kZeroBeforeTrack - kCommentOffset;
constexpr std::uint8_t kNoGenre = 255;

constexpr std::string_view kLyricsBegin = "LYRICSBEGIN";
constexpr std::string_view kLyricsEnd = "LYRICS200";
constexpr std::int64_t kLyricsSizeDigits = 6;
constexpr std::int64_t kLyricsFieldDigits = 5;
// The size digits and the end marker that follow the block size.
constexpr std::int64_t kLyricsFooterSize = kLyricsSizeDigits + 9;
constexpr std::size_t kLyricsFieldIDSize = 3;

enum class TLyricsBlockState { lbsNone, lbsBadDigits, lbsDamaged, lbsFound };

struct TLyricsBlockPos {
  std::int64_t Start = 0;      // offset of "LYRICSBEGIN"
  std::int64_t BlockSize = 0;  // "LYRICSBEGIN" through the last field
};

// Looks for a Lyrics3 v2.00 block whose end marker ends at End. Only a block whose size fits
// between the start of the stream and its footer, and which begins with "LYRICSBEGIN", counts.
TLyricsBlockState LocateLyricsBlock(TStream &Stream, std::int64_t End, TLyricsBlockPos &Pos)
{
  if (End < kLyricsFooterSize + static_cast<std::int64_t>(kLyricsBegin.size())) return TLyricsBlockState::lbsNone;
  TBytes footer;
  if (!Stream.ReadAt(End - kLyricsFooterSize, kLyricsFooterSize, footer)) return TLyricsBlockState::lbsNone;
  ByteReader in(footer);
  std::string digits;
  in.ReadString(kLyricsSizeDigits, digits);
  if (!in.Expect(kLyricsEnd)) return TLyricsBlockState::lbsNone;
  std::int64_t blockSize = 0;
  if (!ParseFixedDigits(digits, blockSize)) return TLyricsBlockState::lbsBadDigits;
  const std::int64_t room = End - kLyricsFooterSize;
  if (blockSize < static_cast<std::int64_t>(kLyricsBegin.size()) || blockSize > room) return TLyricsBlockState::lbsDamaged;
  TBytes begin;
  if (!Stream.ReadAt(room - blockSize, static_cast<std::int64_t>(kLyricsBegin.size()), begin) ||
      !ByteReader(begin).StartsWith(kLyricsBegin))
    return TLyricsBlockState::lbsDamaged;
  Pos.Start = room - blockSize;
  Pos.BlockSize = blockSize;
  return TLyricsBlockState::lbsFound;
}

// Whether the 128 bytes at Start, the last of the stream, could be a record that begins with
// "TAG": not when they lie inside an Ogg page, nor when an APEv2 footer ends the stream (the
// bytes are then the end of that tag, whose text may hold "TAG" at that place).
bool RecordPlaceIsFree(TStream &Stream, std::int64_t Start)
{
  TBytes footer;
  if (Stream.ReadAt(Start + kRecordSize - 32, 8, footer) && ByteReader(footer).StartsWith("APETAGEX")) return false;
  return !InsideOggPage(Stream, Start);
}

// Whether the last 128 bytes are an ID3v1 record.
bool RecordAtEnd(TStream &Stream, std::int64_t Size)
{
  TBytes magic;
  return Size >= kRecordSize && Stream.ReadAt(Size - kRecordSize, 3, magic) && ByteReader(magic).StartsWith("TAG") &&
         RecordPlaceIsFree(Stream, Size - kRecordSize);
}

// Plans the removal of the record (with a valid Lyrics3 block in front of it): the stream is
// cut where they begin. id3v1NoTag when the last 128 bytes are no record.
int PlanStrip(TStream &Stream, TRewritePlan &Plan)
{
  const std::int64_t size = Stream.GetSize();
  if (!RecordAtEnd(Stream, size)) return id3v1NoTag;
  // A "LYRICS200" whose block cannot be delimited is left alone; only the record goes then.
  std::int64_t cut = size - kRecordSize;
  TLyricsBlockPos pos;
  if (LocateLyricsBlock(Stream, cut, pos) == TLyricsBlockState::lbsFound) cut = pos.Start;
  Plan.SetInPlace(cut, {}, true);
  return id3v1Ok;
}

} // namespace

std::int64_t TrailingTagsStart(TStream &Stream)
{
  const std::int64_t size = Stream.GetSize();
  if (size < 0) return 0;
  std::int64_t start = RecordAtEnd(Stream, size) ? size - kRecordSize : size;
  TLyricsBlockPos pos;
  if (LocateLyricsBlock(Stream, start, pos) == TLyricsBlockState::lbsFound) start = pos.Start;
  return start;
}

namespace {

// The tail is rewritten in place: the old tail is kept and put back when a write, the
// truncation or the flush fails, so a failed save leaves the stream as it was.
int ApplyTail(TStream &Stream, const TRewritePlan &Plan, int ReadFailure)
{
  switch (ApplyPlanInPlace(Stream, Plan)) {
  case rwOk: return id3v1Ok;
  case rwReadFailed: return ReadFailure;
  case rwWriteFailed: break;
  }
  return id3v1WriteError;
}

// A tail change of a file: a missing file is FileNotFound, a plan that cannot be carried out
// from the old tail ReadFailure.
TRewriteCodes TailCodes(int FileNotFound, int ReadFailure)
{
  return TRewriteCodes{.Ok = id3v1Ok,
                       .FileNotFound = FileNotFound,
                       .CannotOpen = id3v1FileNotFound,
                       .ReadOnly = id3v1ReadOnly,
                       .ReadFailed = ReadFailure,
                       .WriteFailed = id3v1WriteError};
}

std::string TextUpToZero(std::string Raw)
{
  const auto zero = Raw.find('\0');
  if (zero != std::string::npos) Raw.resize(zero);
  return Raw;
}

void PutField(TBytes &Record, std::size_t Offset, std::size_t Width, const std::string &Bytes)
{
  std::copy_n(Bytes.begin(), std::min(Width, Bytes.size()), Record.begin() + static_cast<std::ptrdiff_t>(Offset));
}
} // namespace

int TID3LyricsFrame::Index() const
{
  if (!Parent) return -1;
  const auto &list = Parent->LyricsFrames;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == this) return static_cast<int>(i);
  return -1;
}

TID3v1Tag::TID3v1Tag() { Clear(); }

TID3v1Tag::~TID3v1Tag() { Clear(); }

void TID3v1Tag::Clear()
{
  SourceFileName.clear();
  Title.clear();
  Artist.clear();
  Album.clear();
  Year.clear();
  Comment.clear();
  Genre.clear();
  TrackString.clear();
  Loaded = false;
  Revision1 = false;
  Track = 0;
  LyricsFrames.clear();
  FLyricsTagSize = 0;
  FFileSize = 0;
  FLoadedLyricsBlock.clear();
  FLoadedLyricsBuilt.clear();
}

std::string TID3v1Tag::DecodeText(std::string_view Bytes) const
{
  return ReturnANSIText ? AnsiToUtf8(Bytes) : Latin1ToUtf8(Bytes);
}

std::string TID3v1Tag::EncodeText(std::string_view Text) const
{
  return SetANSIText ? Utf8ToAnsi(Text) : Utf8ToLatin1(Text);
}

int TID3v1Tag::LoadFromFile(const std::string &FileName)
{
  Clear();
  if (!FileExists(FileName)) return id3v1FileNotFound;
  auto file = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!file) return id3v1NoTag;
  const int result = LoadFromStream(*file);
  if (result == id3v1Ok) SourceFileName = FileName;
  return result;
}

int TID3v1Tag::LoadFromMemory(const void *MemoryAddress, std::int64_t Size)
{
  if (!MemoryAddress || Size <= 0) {
    Clear();
    return id3v1NoTag;
  }
  TReadMemoryStream block(MemoryAddress, Size);
  return LoadFromStream(block);
}

int TID3v1Tag::LoadFromStream(TStream &TagStream)
{
  Clear();
  const std::int64_t size = TagStream.GetSize();
  if (size < 0) return id3v1NoTag;
  FFileSize = size;

  // A stream shorter than a record is read from its start and zero-filled, as a short record.
  const std::int64_t start = std::max<std::int64_t>(0, size - kRecordSize);
  TBytes record;
  if (!TagStream.ReadAt(start, size - start, record)) return id3v1NoTag;
  record.resize(static_cast<std::size_t>(kRecordSize), 0);
  if (!ByteReader(record).StartsWith("TAG")) return id3v1NoTag;
  if (size > kRecordSize && !RecordPlaceIsFree(TagStream, start)) return id3v1NoTag;

  ParseRecord(record);
  if (size > kRecordSize && LoadLyricsTag(TagStream) == id3v1ReadError) {
    Clear();
    return id3v1ReadError;
  }
  Loaded = true;
  return id3v1Ok;
}

void TID3v1Tag::ParseRecord(const TBytes &Record)
{
  ByteReader in(Record);
  in.Seek(kTitleOffset);
  const auto field = [&](std::size_t Width) {
    std::string raw;
    in.ReadString(Width, raw);
    return DecodeText(TextUpToZero(std::move(raw)));
  };
  Title = field(kTitleWidth);
  Artist = field(kArtistWidth);
  Album = field(kAlbumWidth);
  Year = field(kYearWidth);
  Comment = field(kCommentWidth);

  const std::uint8_t genre = Record[kGenreOffset];
  if (const char *name = ID3GenreName(genre)) Genre = name;
  else if (TreatUnknownGenresAsOther) Genre = ID3GenreName(12);
  else if (genre != kNoGenre) Genre = std::to_string(genre);

  if (TrimText) {
    for (std::string *text : {&Title, &Artist, &Album, &Year, &Comment, &Genre}) *text = TrimBlanks(*text);
  }

  Revision1 = Record[kZeroBeforeTrack] == 0;
  if (Revision1) {
    Track = Record[kTrackOffset];
    TrackString = std::to_string(Track);
  }
}

int TID3v1Tag::LoadLyricsTag(TStream &TagStream)
{
  const std::int64_t size = TagStream.GetSize();
  if (size <= kRecordSize) return id3v1NoTag;
  TLyricsBlockPos pos;
  switch (LocateLyricsBlock(TagStream, size - kRecordSize, pos)) {
  case TLyricsBlockState::lbsFound: break;
  case TLyricsBlockState::lbsBadDigits: return id3v1ReadError;
  default: return id3v1NoTag;
  }
  TBytes block;
  if (!TagStream.ReadAt(pos.Start, pos.BlockSize, block)) return id3v1NoTag;
  ByteReader in(block);
  in.Skip(kLyricsBegin.size());

  // Parsed completely before anything is kept, so a damaged block adds nothing.
  struct TRawField { std::string ID, Data; };
  std::vector<TRawField> fields;
  while (!in.AtEnd()) {
    TRawField f;
    std::string digits;
    std::int64_t length = 0;
    if (!in.ReadString(kLyricsFieldIDSize, f.ID) || !in.ReadString(kLyricsFieldDigits, digits)) return id3v1NoTag;
    if (!ParseFixedDigits(digits, length)) return id3v1ReadError;
    if (!in.ReadString(static_cast<std::uint64_t>(length), f.Data)) return id3v1NoTag;
    fields.push_back(std::move(f));
  }

  for (const TRawField &raw : fields) {
    TID3LyricsFrame *frame = AddLyricsFrame(DecodeText(raw.ID));
    frame->Data = DecodeText(raw.Data);
    if (raw.ID == "IND") {
      LyricsHasTimeStamp = raw.Data.size() > 1 && raw.Data[1] == '1';
      InhibitTracksForRandomSelection = raw.Data.size() > 2 && raw.Data[2] == '1';
      continue;
    }
    // The record holds at most 30 bytes; the extended field replaces a text it was cut from.
    std::string *target = raw.ID == "EAL" ? &Album : raw.ID == "EAR" ? &Artist : raw.ID == "ETT" ? &Title : nullptr;
    if (target && (target->empty() || frame->Data.find(*target) != std::string::npos)) *target = frame->Data;
  }
  FLyricsTagSize = static_cast<std::int32_t>(pos.BlockSize + kLyricsFooterSize);
  // The block as read, and as this object would write it now: while the two builds agree the
  // lyrics did not change, and the block is written back as it was read.
  TBytes loaded;
  if (TagStream.ReadAt(pos.Start, FLyricsTagSize, loaded) && BuildLyricsBlock(FLoadedLyricsBuilt))
    FLoadedLyricsBlock = std::move(loaded);
  return id3v1Ok;
}

std::uint8_t TID3v1Tag::GenreIndexToSave() const
{
  std::int64_t number = 0;
  if (TryParseInt64(Genre, number)) return number >= 0 && number <= 255 ? static_cast<std::uint8_t>(number) : kNoGenre;
  const int index = ID3GenreIndex(Genre == "Psychadelic" ? std::string("Psychedelic") : Genre);
  return index >= 0 ? static_cast<std::uint8_t>(index) : kNoGenre;
}

TBytes TID3v1Tag::BuildRecord() const
{
  TBytes record(static_cast<std::size_t>(kRecordSize), 0);
  std::memcpy(record.data(), "TAG", 3);
  PutField(record, kTitleOffset, kTitleWidth, EncodeText(Title));
  PutField(record, kArtistOffset, kArtistWidth, EncodeText(Artist));
  PutField(record, kAlbumOffset, kAlbumWidth, EncodeText(Album));
  PutField(record, kYearOffset, kYearWidth, EncodeText(Year));
  // With a track the record is of the 1.1 form: the comment gives up its last two bytes to the
  // zero byte and the track, rather than the track being lost to a long comment. Without one
  // the comment has all 30 bytes (the 1.0 form).
  PutField(record, kCommentOffset, Track != 0 ? kCommentWidthWithTrack : kCommentWidth, EncodeText(Comment));
  if (Track != 0) record[kTrackOffset] = Track;
  record[kGenreOffset] = GenreIndexToSave();
  return record;
}

bool TID3v1Tag::BuildLyricsBlock(TBytes &Block) const
{
  std::string fields;
  bool hasLyrics = false;
  for (const auto &frame : LyricsFrames) {
    if (frame->Data.empty() || frame->ID == "IND") continue;
    const std::string &value = frame->ID == "EAL" ? Album : frame->ID == "EAR" ? Artist : frame->ID == "ETT" ? Title : frame->Data;
    const std::string bytes = EncodeText(value);
    if (static_cast<std::int64_t>(bytes.size()) > kLyrics3MaxFieldBytes) return false;
    // Every field ID takes exactly three bytes, or the fields behind it would be misread.
    std::string id = EncodeText(frame->ID);
    id.resize(kLyricsFieldIDSize, ' ');
    fields += id + ZeroPad(bytes.size(), static_cast<int>(kLyricsFieldDigits)) + bytes;
    if (static_cast<std::int64_t>(fields.size()) > kLyrics3MaxBlockBytes) return false;
    hasLyrics = hasLyrics || frame->ID == "LYR";
  }
  std::string block(kLyricsBegin);
  block += "IND00003";
  block += hasLyrics ? '1' : '0';
  block += LyricsHasTimeStamp ? '1' : '0';
  block += InhibitTracksForRandomSelection ? '1' : '0';
  block += fields;
  if (static_cast<std::int64_t>(block.size()) > kLyrics3MaxBlockBytes) return false;
  block += ZeroPad(block.size(), static_cast<int>(kLyricsSizeDigits));
  block += kLyricsEnd;
  Block.assign(block.begin(), block.end());
  return true;
}

int TID3v1Tag::SaveToStream(TStream &TagStream, bool WriteLyricsTag)
{
  TRewritePlan plan;
  const int result = PlanSave(TagStream, WriteLyricsTag, plan);
  return result == id3v1Ok ? ApplyTail(TagStream, plan, id3v1ReadError) : result;
}

int TID3v1Tag::PlanSave(TStream &TagStream, bool WriteLyricsTag, TRewritePlan &Plan) const
{
  const std::int64_t size = TagStream.GetSize();
  if (size < 0) return id3v1ReadError;
  // An old tail that cannot be read is no reason to append a second record after it.
  TBytes probe;
  if (size >= kRecordSize && !TagStream.ReadAt(size - kRecordSize, 3, probe)) return id3v1ReadError;
  std::int64_t tailStart = RecordAtEnd(TagStream, size) ? size - kRecordSize : size;

  TBytes tail;
  if (WriteLyricsTag) {
    // The old block goes with the record, or alone when it ends the stream without one.
    TLyricsBlockPos pos;
    if (LocateLyricsBlock(TagStream, tailStart, pos) == TLyricsBlockState::lbsFound) tailStart = pos.Start;
    if (!BuildLyricsBlock(tail)) return id3v1WriteError;
    if (!FLoadedLyricsBlock.empty() && tail == FLoadedLyricsBuilt) tail = FLoadedLyricsBlock;
  }
  const TBytes record = BuildRecord();
  tail.insert(tail.end(), record.begin(), record.end());
  Plan.SetInPlace(tailStart, std::move(tail), true);
  return id3v1Ok;
}

int TID3v1Tag::LyricsTagSaveToStream(TStream &TagStream)
{
  TBytes block;
  if (!BuildLyricsBlock(block)) return id3v1NoTag;
  const std::int64_t size = TagStream.GetSize();
  if (size < 0) return id3v1NoTag;
  TLyricsBlockPos pos;
  const std::int64_t start = LocateLyricsBlock(TagStream, size, pos) == TLyricsBlockState::lbsFound ? pos.Start : size;
  TRewritePlan plan;
  plan.SetInPlace(start, std::move(block), true);
  return ApplyPlanInPlace(TagStream, plan) == rwOk ? id3v1Ok : id3v1NoTag;
}

int TID3v1Tag::SaveToFile(const std::string &FileName, bool WriteLyricsTag)
{
  // A tag alone is no audio file: a missing file is never created.
  const int result = RewriteFile(FileName, PreserveFileDateTime, TailCodes(id3v1FileNotFound, id3v1ReadError),
                                 [&](TStream &View, TRewritePlan &Plan) { return PlanSave(View, WriteLyricsTag, Plan); });
  if (result == id3v1Ok) SourceFileName = FileName;
  return result;
}

TID3LyricsFrame *TID3v1Tag::AddLyricsFrame(const std::string &ID)
{
  auto frame = std::make_unique<TID3LyricsFrame>();
  frame->Parent = this;
  frame->ID = ID;
  LyricsFrames.push_back(std::move(frame));
  return LyricsFrames.back().get();
}

TID3LyricsFrame *TID3v1Tag::FindLyricsFrame(const std::string &ID)
{
  for (const auto &frame : LyricsFrames)
    if (frame->ID == ID) return frame.get();
  return nullptr;
}

TID3LyricsFrame *TID3v1Tag::SetLyricsFrame(const std::string &ID, const std::string &Value)
{
  TID3LyricsFrame *frame = FindLyricsFrame(ID);
  if (!frame) frame = AddLyricsFrame(ID);
  frame->Data = Value;
  return frame;
}

bool TID3v1Tag::DeleteLyricsFrame(int Index)
{
  if (Index < 0 || Index >= static_cast<int>(LyricsFrames.size())) return false;
  LyricsFrames.erase(LyricsFrames.begin() + Index);
  return true;
}

bool TID3v1Tag::DeleteLyricsFrame(const std::string &ID)
{
  const TID3LyricsFrame *frame = FindLyricsFrame(ID);
  return frame && DeleteLyricsFrame(frame->Index());
}

std::string TID3v1Tag::GetLyrics() const
{
  for (auto it = LyricsFrames.rbegin(); it != LyricsFrames.rend(); ++it)
    if ((*it)->ID == "LYR") return (*it)->Data;
  return {};
}

void TID3v1Tag::SetLyrics(const std::string &Text)
{
  if (TID3LyricsFrame *frame = FindLyricsFrame("LYR")) {
    if (Text.empty()) DeleteLyricsFrame(frame->Index());
    else frame->Data = Text;
  } else if (!Text.empty()) {
    AddLyricsFrame("LYR")->Data = Text;
  }
}

bool TID3v1Tag::Assign(const TID3v1Tag &Source)
{
  if (&Source == this) return true;
  Clear();
  SourceFileName = Source.SourceFileName;
  Loaded = Source.Loaded;
  Revision1 = Source.Revision1;
  Title = Source.Title;
  Artist = Source.Artist;
  Album = Source.Album;
  Year = Source.Year;
  Comment = Source.Comment;
  Track = Source.Track;
  Genre = Source.Genre;
  for (const auto &frame : Source.LyricsFrames) AddLyricsFrame(frame->ID)->Data = frame->Data;
  LyricsHasTimeStamp = Source.LyricsHasTimeStamp;
  InhibitTracksForRandomSelection = Source.InhibitTracksForRandomSelection;
  FLoadedLyricsBlock = Source.FLoadedLyricsBlock;
  FLoadedLyricsBuilt = Source.FLoadedLyricsBuilt;
  return true;
}

int StripID3v1FromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int result = PlanStrip(Stream, plan);
  return result == id3v1Ok ? ApplyTail(Stream, plan, id3v1WriteError) : result;
}

int StripID3v1FromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  return RewriteFile(FileName, PreserveFileDateTime, TailCodes(id3v1NoTag, id3v1WriteError), PlanStrip);
}

int PlanID3v1Strip(TStream &Stream, TRewritePlan &Plan) { return PlanStrip(Stream, Plan);
}
