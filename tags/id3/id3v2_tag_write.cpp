#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

#include <zlib.h>

#include "tags/id3/id3v2_container.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/id3/id3v2_unsync.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/buffered_stream.h"
#include "tags/streams/byte_writer.h"
#include "tags/streams/file_io.h"
#include "tags/streams/mtime_keeper.h"
#include "tags/streams/rewrite_plan.h"

namespace {

int ID3v2Code(TRewriteResult Result)
{
  switch (Result) {
  case rwOk: return id3v2Ok;
  case rwReadFailed: return id3v2UpdateError;
  case rwWriteFailed: break;
  }
  return id3v2WriteError;
}

// A new file that holds only the tag: created exclusively, removed again on any failure.
int CreateFileWithTag(const std::string &FileName, const TBytes &Tag)
{
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return id3v2FileNotFound;
  TFileStream out(fd, true);
  const bool ok = out.WriteBytes(Tag) && out.Sync() && out.Close();
  if (!ok) {
    out.Close();
    ::unlink(FileName.c_str());
    return id3v2WriteError;
  }
  return id3v2Ok;
}

// The tag at Offset: its whole size, or 0 when none starts there.
std::int64_t TagSizeAt(TStream &S, std::int64_t Offset)
{
  TBytes h;
  TID3v2HeaderFields f;
  if (!S.ReadAt(Offset, kID3v2HeaderSize, h) || !ParseID3v2Header(h.data(), h.size(), f)) return 0;
  return f.TotalSize;
}

struct TNewTag {
  TBytes Body;              // header flags decided, frames as written (unsynchronised when asked)
  std::uint8_t HeaderFlags = 0;
  int Version = 3;
  std::uint8_t Revision = 0;
  std::int64_t Size() const { return static_cast<std::int64_t>(kID3v2HeaderSize + Body.size()); }
};

TBytes TagBytes(const TNewTag &T, std::int64_t Padding)
{
  const std::int64_t bodySize = static_cast<std::int64_t>(T.Body.size()) + Padding;
  TBytes out;
  ByteWriter(out)
    .Str("ID3")
    .U8(static_cast<std::uint8_t>(T.Version))
    .U8(T.Revision)
    .U8(T.HeaderFlags)
    .Synchsafe32(static_cast<std::uint32_t>(bodySize))
    .Append(T.Body)
    .Zeros(static_cast<std::size_t>(Padding));
  return out;
}

// Padding for a rebuilt tag: the wanted amount, cut so the body stays within the 28-bit size,
// plus one byte when Even asks for an even total (a chunk without a pad byte).
bool RebuildPadding(const TNewTag &T, std::int64_t Wanted, bool Even, std::int64_t &Padding)
{
  const std::int64_t body = static_cast<std::int64_t>(T.Body.size());
  if (body > kID3v2MaxBodySize) return false;
  Padding = std::min(Wanted, kID3v2MaxBodySize - body);
  if (Even && (T.Size() + Padding) % 2 != 0) {
    if (body + Padding < kID3v2MaxBodySize) ++Padding;
    else if (Padding > 0) --Padding;
    else return false;
  }
  return true;
}

// Whether the new tag may replace an old one of OldSize bytes in place.
bool FitsInPlace(const TNewTag &T, std::int64_t OldSize, std::int64_t PaddingToWrite)
{
  return OldSize >= T.Size() && OldSize - T.Size() <= PaddingToWrite &&
         OldSize - static_cast<std::int64_t>(kID3v2HeaderSize) <= kID3v2MaxBodySize;
}

int PlanPlainSave(TStream &S, const TNewTag &T, std::int64_t PaddingToWrite, TRewritePlan &Plan)
{
  const std::int64_t fileSize = S.GetSize();
  std::int64_t oldSize = 0;
  TBytes magic;
  if (S.ReadAt(0, 3, magic) && std::memcmp(magic.data(), "ID3", 3) == 0) {
    oldSize = TagSizeAt(S, 0);
    // A header that claims more than the file holds cannot be told from audio: refuse rather
    // than overwrite what may be sound data.
    if (oldSize <= 0 || oldSize > fileSize) return id3v2UpdateError;
  }
  if (oldSize > 0 && FitsInPlace(T, oldSize, PaddingToWrite)) {
    Plan.SetInPlace(0, TagBytes(T, oldSize - T.Size()));
    return id3v2Ok;
  }
  std::int64_t padding = 0;
  if (!RebuildPadding(T, PaddingToWrite, false, padding)) return id3v2SizeOverflow;
  Plan.AddLiteral(TagBytes(T, padding));
  Plan.AddCopy(oldSize, fileSize);
  return id3v2Ok;
}

int ChunkEditCode(int Result, int Otherwise)
{
  return Result == cerOk ? id3v2Ok : Otherwise;
}

int PlanDSFSave(TStream &S, const TID3v2ContainerLayout &L, const TNewTag &T, TRewritePlan &Plan)
{
  const std::int64_t fileSize = S.GetSize();
  const std::int64_t tagPos = L.ChunkFound ? L.ChunkDataOffset : fileSize;
  std::int64_t oldTag = 0;
  if (L.ChunkFound) {
    oldTag = TagSizeAt(S, tagPos);
    // A tag that claims to run past the end is taken to end there.
    if (oldTag <= 0 || oldTag > fileSize - tagPos) oldTag = fileSize - tagPos;
  }
  if (T.Body.size() > static_cast<std::size_t>(kID3v2MaxBodySize)) return id3v2SizeOverflow;
  const TBytes tag = TagBytes(T, 0);
  const std::int64_t newSize = fileSize - oldTag + static_cast<std::int64_t>(tag.size());
  Plan.AddCopy(0, tagPos,
               {{L.FormSizeOffset, EncodeUInt(static_cast<std::uint64_t>(newSize), 8, false)},
                {L.FormSizeOffset + 8, EncodeUInt(static_cast<std::uint64_t>(tagPos), 8, false)}});
  Plan.AddLiteral(tag);
  Plan.AddCopy(tagPos + oldTag, fileSize);
  return id3v2Ok;
}

int PlanChunkSave(TStream &S, const TID3v2ContainerLayout &L, const TNewTag &T, std::int64_t PaddingToWrite,
                  TRewritePlan &Plan)
{
  const std::int64_t fileSize = S.GetSize();
  const bool dff = L.Kind == sftDFF;
  if (L.ChunkFound && !dff) {
    const std::int64_t oldTag = TagSizeAt(S, L.ChunkDataOffset);
    if (oldTag > 0 && oldTag <= L.ChunkDataSize && FitsInPlace(T, oldTag, PaddingToWrite)) {
      Plan.SetInPlace(L.ChunkDataOffset, TagBytes(T, oldTag - T.Size()));
      return id3v2Ok;
    }
  }
  // A new or resized chunk: its data is exactly the tag, made even so no pad byte is needed
  // (DSDIFF takes no padding and gets a pad byte when odd).
  std::int64_t padding = 0;
  if (dff) {
    if (T.Body.size() > static_cast<std::size_t>(kID3v2MaxBodySize)) return id3v2SizeOverflow;
  } else if (!RebuildPadding(T, PaddingToWrite, true, padding)) {
    return id3v2SizeOverflow;
  }
  // A damaged ID3 chunk is replaced where it stands; otherwise the new chunk ends the form.
  TChunkFormEditor editor(L.Form);
  const std::string id = L.ChunkFound ? L.ChunkID : (L.Kind == sftWAVE || L.Kind == sftRF64 ? "id3 " : "ID3 ");
  TBytes chunk = editor.ChunkBytes(id, TagBytes(T, padding));
  if (L.ChunkFound) editor.Replace(L.Form.Chunks[static_cast<std::size_t>(L.ChunkIndex)], std::move(chunk));
  else editor.Append(std::move(chunk));
  return ChunkEditCode(editor.Plan(fileSize, Plan), id3v2SizeOverflow);
}

int PlanSave(TStream &S, const TNewTag &T, std::int64_t PaddingToWrite, TRewritePlan &Plan)
{
  TID3v2ContainerLayout layout;
  const int check = ReadID3v2ContainerLayout(S, 0, true, layout);
  if (check == ccNotContainer) return PlanPlainSave(S, T, PaddingToWrite, Plan);
  if (check != ccOk) return check;
  if (layout.Kind == sftDSF) return PlanDSFSave(S, layout, T, Plan);
  return PlanChunkSave(S, layout, T, PaddingToWrite, Plan);
}

// The end of the tags that stand one behind the other at the start of the stream: a writer that
// put its tag in front of an old one left both, and a reader that skips the first sees the
// second. A header that claims more than the stream holds ends the run (what follows cannot be
// told from audio); 0 when the first one does so.
std::int64_t EndOfLeadingTags(TStream &S, std::int64_t FileSize)
{
  std::int64_t end = 0;
  for (int n = 0; n < kMaxStackedID3v2Tags; ++n) {
    TBytes magic;
    if (!S.ReadAt(end, 3, magic) || magic.size() < 3 || std::memcmp(magic.data(), "ID3", 3) != 0) break;
    const std::int64_t size = TagSizeAt(S, end);
    if (size <= 0 || size > FileSize - end) break;
    end += size;
  }
  return end;
}

int PlanStrip(TStream &S, TRewritePlan &Plan)
{
  const std::int64_t fileSize = S.GetSize();
  if (fileSize <= 0) return id3v2Failure;
  TBytes magic;
  if (S.ReadAt(0, 3, magic) && std::memcmp(magic.data(), "ID3", 3) == 0) {
    const std::int64_t end = EndOfLeadingTags(S, fileSize);
    if (end <= 0) return id3v2Failure;
    Plan.AddCopy(end, fileSize);
    return id3v2Ok;
  }
  TID3v2ContainerLayout L;
  const int check = ReadID3v2ContainerLayout(S, 0, true, L);
  if (check == ccNotContainer) return id3v2NoFrames;
  if (check != ccOk) return check;
  if (!L.ChunkFound) return id3v2NoTag;
  if (L.Kind == sftDSF) {
    std::int64_t tag = TagSizeAt(S, L.ChunkDataOffset);
    if (tag <= 0 || tag > fileSize - L.ChunkDataOffset) tag = fileSize - L.ChunkDataOffset;
    const std::int64_t newSize = fileSize - tag;
    Plan.AddCopy(0, L.ChunkDataOffset,
                 {{L.FormSizeOffset, EncodeUInt(static_cast<std::uint64_t>(newSize), 8, false)},
                  {L.FormSizeOffset + 8, EncodeUInt(0, 8, false)}});
    Plan.AddCopy(L.ChunkDataOffset + tag, fileSize);
    return id3v2Ok;
  }
  TChunkFormEditor editor(L.Form);
  editor.Remove(L.Form.Chunks[static_cast<std::size_t>(L.ChunkIndex)]);
  return ChunkEditCode(editor.Plan(fileSize, Plan), id3v2Failure);
}

} // namespace

// --- TID3v2Tag writing -------------------------------------------------------------------------

int TID3v2Tag::TargetVersion() const
{
  if (WriteVersion == sfid3v23) return 3;
  if (WriteVersion == sfid3v24) return 4;
  return MajorVersion == 2 ? 3 : MajorVersion;
}

bool TID3v2Tag::BuildTagBody(int Version, TBytes &Body, std::uint8_t &HeaderFlags)
{
  Body.clear();
  if (!SerializeFrames(Body, Version)) return false;
  HeaderFlags = Experimental ? 0x20 : 0;
  if (Version == 3 && Unsynchronised) {
    Body = ApplyID3v2Unsynchronisation(Body);
    HeaderFlags |= 0x80;
  } else if (Version == 4 && !Frames.empty() &&
             std::all_of(Frames.begin(), Frames.end(), [](const auto &f) { return f->Unsynchronised; })) {
    // The header flag of 2.4 says that every frame is unsynchronised; it is set only when true.
    HeaderFlags |= 0x80;
  }
  return true;
}

std::int64_t TID3v2Tag::CalculateTagSize(std::int64_t APaddingSize)
{
  TBytes body;
  std::uint8_t flags = 0;
  if (!BuildTagBody(TargetVersion(), body, flags)) return 0;
  return static_cast<std::int64_t>(kID3v2HeaderSize + body.size()) + APaddingSize;
}

std::uint32_t TID3v2Tag::CalculateTagCRC32()
{
  TBytes body;
  if (!SerializeFrames(body, TargetVersion())) return 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t done = 0; done < body.size();) {
    const std::size_t n = std::min<std::size_t>(body.size() - done, std::numeric_limits<uInt>::max());
    crc = crc32(crc, body.data() + done, static_cast<uInt>(n));
    done += n;
  }
  return static_cast<std::uint32_t>(crc);
}

bool TID3v2Tag::LoadDeferredFrames()
{
  for (auto &f : Frames)
    if (!f->LoadDeferredData()) return false;
  return true;
}

int TID3v2Tag::WriteAllFrames(TStream &Stream)
{
  TBytes body;
  if (!SerializeFrames(body, TargetVersion())) return id3v2WriteError;
  return Stream.WriteBytes(body) ? id3v2Ok : id3v2WriteError;
}

int TID3v2Tag::SaveTagToStream(TStream &Stream, std::uint32_t PaddingSizeToWrite)
{
  const int version = TargetVersion();
  if (version != 3 && version != 4) return id3v2BadVersion;
  TNewTag t;
  t.Version = version;
  t.Revision = 0;
  if (!BuildTagBody(version, t.Body, t.HeaderFlags)) return id3v2WriteError;
  if (static_cast<std::int64_t>(t.Body.size()) + PaddingSizeToWrite > kID3v2MaxBodySize) return id3v2SizeOverflow;
  const TBytes bytes = TagBytes(t, PaddingSizeToWrite);
  if (!Stream.WriteBytes(bytes)) return id3v2WriteError;
  MajorVersion = static_cast<std::uint8_t>(version);
  MinorVersion = 0;
  PaddingSize = PaddingSizeToWrite;
  Size = static_cast<std::uint32_t>(bytes.size());
  std::memcpy(CodedSize, bytes.data() + 6, 4);
  return id3v2Ok;
}

int TID3v2Tag::PrepareSave(int &Version, TBytes &Body, std::uint8_t &HeaderFlags)
{
  // Pictures left in the file at load are written too: without their bytes there is no save.
  if (!LoadDeferredFrames()) return id3v2UpdateError;
  Version = TargetVersion();
  if (Version != 3 && Version != 4) return id3v2BadVersion;
  return BuildTagBody(Version, Body, HeaderFlags) ? id3v2Ok : id3v2WriteError;
}

int TID3v2Tag::SaveToFile(const std::string &FileName, bool Buffered)
{
  (void)Buffered;
  return SaveToFileChecked(FileName);
}

int TID3v2Tag::PlanSaveInto(TStream &Stream, TRewritePlan &Plan)
{
  FPlanned = TPlannedSave{};
  TNewTag t;
  if (const int rc = PrepareSave(t.Version, t.Body, t.HeaderFlags); rc != id3v2Ok) return rc;
  // With nothing left to write (frames without data, or only frames the version cannot hold)
  // the old tag goes, so that clearing every field is saved too.
  if (t.Body.empty()) {
    FPlanned.Strip = true;
    return PlanStrip(Stream, Plan);
  }
  if (static_cast<std::int64_t>(t.Body.size()) > kID3v2MaxBodySize) return id3v2SizeOverflow;
  FPlanned.Version = t.Version;
  FPlanned.HeaderFlags = t.HeaderFlags;
  return PlanSave(Stream, t, PaddingToWrite, Plan);
}

void TID3v2Tag::FinishSave()
{
  if (FPlanned.Strip) return;
  MajorVersion = static_cast<std::uint8_t>(FPlanned.Version);
  MinorVersion = 0;
  Unsynchronised = (FPlanned.HeaderFlags & 0x80) != 0;
}

namespace {
constexpr TRewriteCodes kID3v2RewriteCodes{
  .Ok = id3v2Ok,
  .FileNotFound = id3v2FileNotFound,
  .CannotOpen = id3v2FileNotFound,
  .ReadOnly = id3v2ReadOnly,
  .ReadFailed = id3v2UpdateError,
  .WriteFailed = id3v2WriteError,
};
} // namespace

int TID3v2Tag::SaveToFileChecked(const std::string &FileName)
{
  TFileFacts facts;
  if (!StatFile(FileName, facts) || !facts.Exists) {
    // A missing file gets a file of its own that holds only the tag.
    TNewTag t;
    if (const int rc = PrepareSave(t.Version, t.Body, t.HeaderFlags); rc != id3v2Ok) return rc;
    if (t.Body.empty()) return id3v2FileNotFound;
    std::int64_t padding = 0;
    if (!RebuildPadding(t, PaddingToWrite, false, padding)) return id3v2SizeOverflow;
    const int rc = CreateFileWithTag(FileName, TagBytes(t, padding));
    if (rc == id3v2Ok) {
      MajorVersion = static_cast<std::uint8_t>(t.Version);
      PaddingSize = static_cast<std::uint32_t>(padding);
    }
    return rc;
  }
  const int rc = RewriteFile(FileName, PreserveFileDateTime, kID3v2RewriteCodes,
                             [&](TStream &View, TRewritePlan &Plan) { return PlanSaveInto(View, Plan); });
  if (rc == id3v2Ok) FinishSave();
  return rc;
}

int TID3v2Tag::SaveToStream(TStream &Stream, bool Buffered)
{
  (void)Buffered;
  TRewritePlan plan;
  int rc = PlanSaveInto(Stream, plan);
  if (rc != id3v2Ok) return rc;
  rc = ID3v2Code(ApplyPlanToStream(Stream, plan));
  if (rc == id3v2Ok) FinishSave();
  return rc;
}

// --- removal -----------------------------------------------------------------------------------

int PlanID3v2Strip(TStream &Stream, TRewritePlan &Plan) { return PlanStrip(Stream, Plan); }

int StripID3v2FromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  return RewriteFile(FileName, PreserveFileDateTime, kID3v2RewriteCodes, PlanStrip);
}

int StripID3v2FromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int rc = PlanStrip(Stream, plan);
  if (rc != id3v2Ok) return rc;
  return ID3v2Code(ApplyPlanToStream(Stream, plan));
}
