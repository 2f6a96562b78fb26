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
#include "tags/streams/file_io.h"

namespace {

// A file change described before anything is written. In place: one region of the file is
// overwritten and the size stays. Rebuild: the new content is the pieces in order, each either
// new bytes or a range of the old content.
struct TPiece {
  bool Literal = false;
  std::int64_t From = 0;
  std::int64_t Count = 0;
  TBytes Bytes;
};

struct TRewritePlan {
  bool InPlace = false;
  std::int64_t PatchOffset = 0;
  TBytes Patch;
  std::vector<TPiece> Pieces;
};

struct TPatchField {
  std::int64_t Offset;
  TBytes Bytes;
};

constexpr std::int64_t kCopyBlock = 1 << 20;

TBytes EncodeUInt(std::uint64_t V, int Bytes, bool BigEndian)
{
  TBytes out(static_cast<std::size_t>(Bytes));
  for (int i = 0; i < Bytes; ++i) {
    const int shift = 8 * (BigEndian ? Bytes - 1 - i : i);
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(V >> shift);
  }
  return out;
}

void AddLiteral(TRewritePlan &Plan, TBytes Bytes)
{
  if (Bytes.empty()) return;
  TPiece p;
  p.Literal = true;
  p.Bytes = std::move(Bytes);
  Plan.Pieces.push_back(std::move(p));
}

// The old bytes From..To, with the given fields (sorted, inside the range) replaced.
void AddCopy(TRewritePlan &Plan, std::int64_t From, std::int64_t To, std::vector<TPatchField> Fields = {})
{
  std::sort(Fields.begin(), Fields.end(), [](const auto &a, const auto &b) { return a.Offset < b.Offset; });
  std::int64_t pos = From;
  for (auto &f : Fields) {
    if (f.Offset < pos || f.Offset + static_cast<std::int64_t>(f.Bytes.size()) > To) continue;
    if (f.Offset > pos) Plan.Pieces.push_back(TPiece{false, pos, f.Offset - pos, {}});
    pos = f.Offset + static_cast<std::int64_t>(f.Bytes.size());
    AddLiteral(Plan, std::move(f.Bytes));
  }
  if (To > pos) Plan.Pieces.push_back(TPiece{false, pos, To - pos, {}});
}

std::int64_t PlanSize(const TRewritePlan &Plan)
{
  std::int64_t n = 0;
  for (const auto &p : Plan.Pieces) n += p.Literal ? static_cast<std::int64_t>(p.Bytes.size()) : p.Count;
  return n;
}

bool WritePieces(TStream &Source, const TRewritePlan &Plan, TStream &Dest)
{
  TBytes buf;
  for (const auto &p : Plan.Pieces) {
    if (p.Literal) {
      if (!Dest.WriteBytes(p.Bytes)) return false;
      continue;
    }
    for (std::int64_t done = 0; done < p.Count;) {
      const std::int64_t n = std::min(kCopyBlock, p.Count - done);
      if (!Source.ReadAt(p.From + done, n, buf) || !Dest.WriteBytes(buf)) return false;
      done += n;
    }
  }
  return true;
}

int ApplyPlanToStream(TStream &Stream, const TRewritePlan &Plan)
{
  if (Plan.InPlace) {
    if (!Stream.SetPosition(Plan.PatchOffset) || !Stream.WriteBytes(Plan.Patch)) return id3v2WriteError;
    return id3v2Ok;
  }
  TMemoryStream built;
  if (!WritePieces(Stream, Plan, built)) return id3v2UpdateError;
  if (!Stream.SetPosition(0) || !Stream.WriteBytes(built.Data()) || !Stream.SetSize(PlanSize(Plan)))
    return id3v2WriteError;
  return id3v2Ok;
}

// In place: the old bytes of the region are kept and written back when the new ones or the
// flush to disk fail, so the file ends as it was.
int ApplyPlanInPlace(TFileStream &File, const TRewritePlan &Plan)
{
  TBytes old;
  if (!File.ReadAt(Plan.PatchOffset, static_cast<std::int64_t>(Plan.Patch.size()), old)) return id3v2UpdateError;
  if (File.SetPosition(Plan.PatchOffset) && File.WriteBytes(Plan.Patch) && File.Sync()) return id3v2Ok;
  for (int attempt = 0; attempt < 2; ++attempt)
    if (File.SetPosition(Plan.PatchOffset) && File.WriteBytes(old) && File.Sync()) break;
  return id3v2WriteError;
}

int ApplyPlanByRebuild(const std::string &FileName, TFileStream &Source, const TRewritePlan &Plan)
{
  auto temp = TTempFile::CreateBeside(FileName);
  if (!temp) return id3v2WriteError;
  if (!WritePieces(Source, Plan, temp->Stream())) return id3v2WriteError;
  if (!temp->Commit(FileName)) return id3v2WriteError;
  return id3v2Ok;
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
  TBytes out{'I', 'D', '3', static_cast<std::uint8_t>(T.Version), T.Revision, T.HeaderFlags};
  for (int shift = 21; shift >= 0; shift -= 7) out.push_back(static_cast<std::uint8_t>((bodySize >> shift) & 0x7F));
  out.insert(out.end(), T.Body.begin(), T.Body.end());
  out.resize(out.size() + static_cast<std::size_t>(Padding), 0);
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
    Plan.InPlace = true;
    Plan.PatchOffset = 0;
    Plan.Patch = TagBytes(T, oldSize - T.Size());
    return id3v2Ok;
  }
  std::int64_t padding = 0;
  if (!RebuildPadding(T, PaddingToWrite, false, padding)) return id3v2SizeOverflow;
  AddLiteral(Plan, TagBytes(T, padding));
  AddCopy(Plan, oldSize, fileSize);
  return id3v2Ok;
}

// The form's size field after its content grew by Delta bytes.
bool FormSizeField(const TID3v2ContainerLayout &L, std::int64_t Delta, TPatchField &Out)
{
  const auto value = static_cast<std::int64_t>(L.FormSizeValue) + Delta;
  if (value < 0) return false;
  if (L.FormSizeBytes == 4 && value > 0xFFFFFFFFll) return false;
  Out = {L.FormSizeOffset, EncodeUInt(static_cast<std::uint64_t>(value), L.FormSizeBytes, L.FormSizeBigEndian)};
  return true;
}

TBytes ChunkHeader(const TID3v2ContainerLayout &L, const std::string &ID, std::uint64_t Size)
{
  TBytes h(ID.begin(), ID.end());
  h.resize(4, ' ');
  const TBytes size = L.Kind == sftDFF ? EncodeUInt(Size, 8, true) : EncodeUInt(Size, 4, L.Kind == sftAIFF);
  h.insert(h.end(), size.begin(), size.end());
  return h;
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
  AddCopy(Plan, 0, tagPos,
          {{L.FormSizeOffset, EncodeUInt(static_cast<std::uint64_t>(newSize), 8, false)},
           {L.FormSizeOffset + 8, EncodeUInt(static_cast<std::uint64_t>(tagPos), 8, false)}});
  AddLiteral(Plan, tag);
  AddCopy(Plan, tagPos + oldTag, fileSize);
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
      Plan.InPlace = true;
      Plan.PatchOffset = L.ChunkDataOffset;
      Plan.Patch = TagBytes(T, oldTag - T.Size());
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
  TBytes chunk = TagBytes(T, padding);
  const auto dataSize = static_cast<std::uint64_t>(chunk.size());
  const std::string id = L.ChunkFound ? L.ChunkID : (L.Kind == sftWAVE || L.Kind == sftRF64 ? "id3 " : "ID3 ");
  TBytes header = ChunkHeader(L, id, dataSize);
  chunk.insert(chunk.begin(), header.begin(), header.end());
  if (dataSize % 2) chunk.push_back(0);

  // A damaged ID3 chunk is replaced where it stands; otherwise the new chunk ends the form.
  std::int64_t cutFrom = L.FormEnd, cutTo = L.FormEnd;
  TBytes lead;
  if (L.ChunkFound) {
    cutFrom = L.ChunkOffset;
    cutTo = L.ChunkEnd;
  } else if ((L.FormEnd % 2) != 0) {
    lead.push_back(0);
  }
  const std::int64_t delta = static_cast<std::int64_t>(lead.size() + chunk.size()) - (cutTo - cutFrom);
  TPatchField sizeField;
  if (!FormSizeField(L, delta, sizeField)) return id3v2SizeOverflow;
  AddCopy(Plan, 0, cutFrom, {sizeField});
  AddLiteral(Plan, lead);
  AddLiteral(Plan, chunk);
  AddCopy(Plan, cutTo, fileSize);
  return id3v2Ok;
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

int PlanStrip(TStream &S, TRewritePlan &Plan)
{
  const std::int64_t fileSize = S.GetSize();
  if (fileSize <= 0) return id3v2Failure;
  TBytes magic;
  if (S.ReadAt(0, 3, magic) && std::memcmp(magic.data(), "ID3", 3) == 0) {
    const std::int64_t size = TagSizeAt(S, 0);
    if (size <= 0 || size > fileSize) return id3v2Failure;
    AddCopy(Plan, size, fileSize);
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
    AddCopy(Plan, 0, L.ChunkDataOffset,
            {{L.FormSizeOffset, EncodeUInt(static_cast<std::uint64_t>(newSize), 8, false)},
             {L.FormSizeOffset + 8, EncodeUInt(0, 8, false)}});
    AddCopy(Plan, L.ChunkDataOffset + tag, fileSize);
    return id3v2Ok;
  }
  TPatchField sizeField;
  if (!FormSizeField(L, -(L.ChunkEnd - L.ChunkOffset), sizeField)) return id3v2Failure;
  AddCopy(Plan, 0, L.ChunkOffset, {sizeField});
  AddCopy(Plan, L.ChunkEnd, fileSize);
  return id3v2Ok;
}

// Runs a plan on a file: refuses read-only files, keeps the modification time when asked.
int ApplyPlanToFile(const std::string &FileName, TFileStream &File, const TRewritePlan &Plan)
{
  return Plan.InPlace ? ApplyPlanInPlace(File, Plan) : ApplyPlanByRebuild(FileName, File, Plan);
}

class TModTimeKeeper {
public:
  TModTimeKeeper(const std::string &FileName, bool Keep) : FFileName(FileName)
  {
    FKeep = Keep && GetFileModTime(FileName, FTime);
  }
  ~TModTimeKeeper()
  {
    if (FKeep && FileExists(FFileName)) SetFileModTime(FFileName, FTime);
  }
  TModTimeKeeper(const TModTimeKeeper &) = delete;
  TModTimeKeeper &operator=(const TModTimeKeeper &) = delete;

private:
  std::string FFileName;
  struct timespec FTime {};
  bool FKeep = false;
};

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

int TID3v2Tag::SaveToFile(const std::string &FileName, bool Buffered)
{
  (void)Buffered;
  TModTimeKeeper keeper(FileName, PreserveFileDateTime);
  return SaveToFileChecked(FileName);
}

int TID3v2Tag::SaveToFileChecked(const std::string &FileName)
{
  // Pictures left in the file at load are written too: without their bytes there is no save.
  if (!LoadDeferredFrames()) return id3v2UpdateError;
  const int version = TargetVersion();
  if (version != 3 && version != 4) return id3v2BadVersion;
  TNewTag t;
  t.Version = version;
  if (!BuildTagBody(version, t.Body, t.HeaderFlags)) return id3v2WriteError;
  // With nothing left to write (frames without data, or only frames the version cannot hold)
  // the old tag goes, so that clearing every field is saved too.
  if (t.Body.empty()) return StripID3v2FromFile(FileName, false);
  if (IsReadOnlyFile(FileName)) return id3v2ReadOnly;
  if (static_cast<std::int64_t>(t.Body.size()) > kID3v2MaxBodySize) return id3v2SizeOverflow;

  if (!FileExists(FileName)) {
    std::int64_t padding = 0;
    RebuildPadding(t, PaddingToWrite, false, padding);
    const int rc = CreateFileWithTag(FileName, TagBytes(t, padding));
    if (rc == id3v2Ok) {
      MajorVersion = static_cast<std::uint8_t>(version);
      PaddingSize = static_cast<std::uint32_t>(padding);
    }
    return rc;
  }
  auto file = TFileStream::Open(FileName, TFileMode::fmOpenReadWrite);
  if (!file) return id3v2FileNotFound;
  TRewritePlan plan;
  int rc = PlanSave(*file, t, PaddingToWrite, plan);
  if (rc != id3v2Ok) return rc;
  rc = ApplyPlanToFile(FileName, *file, plan);
  if (rc == id3v2Ok) {
    MajorVersion = static_cast<std::uint8_t>(version);
    MinorVersion = 0;
    Unsynchronised = (t.HeaderFlags & 0x80) != 0;
  }
  return rc;
}

int TID3v2Tag::SaveToStream(TStream &Stream, bool Buffered)
{
  (void)Buffered;
  // Pictures left in the file at load are written too: without their bytes there is no save.
  if (!LoadDeferredFrames()) return id3v2UpdateError;
  const int version = TargetVersion();
  if (version != 3 && version != 4) return id3v2BadVersion;
  TNewTag t;
  t.Version = version;
  if (!BuildTagBody(version, t.Body, t.HeaderFlags)) return id3v2WriteError;
  if (t.Body.empty()) return StripID3v2FromStream(Stream);
  if (static_cast<std::int64_t>(t.Body.size()) > kID3v2MaxBodySize) return id3v2SizeOverflow;
  TRewritePlan plan;
  int rc = PlanSave(Stream, t, PaddingToWrite, plan);
  if (rc != id3v2Ok) return rc;
  rc = ApplyPlanToStream(Stream, plan);
  if (rc == id3v2Ok) {
    MajorVersion = static_cast<std::uint8_t>(version);
    MinorVersion = 0;
  }
  return rc;
}

// --- removal -----------------------------------------------------------------------------------

int StripID3v2FromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  if (!FileExists(FileName)) return id3v2FileNotFound;
  TModTimeKeeper keeper(FileName, PreserveFileDateTime);
  if (IsReadOnlyFile(FileName)) return id3v2ReadOnly;
  auto file = TFileStream::Open(FileName, TFileMode::fmOpenRead);
  if (!file) return id3v2FileNotFound;
  TRewritePlan plan;
  const int rc = PlanStrip(*file, plan);
  if (rc != id3v2Ok) return rc;
  return ApplyPlanByRebuild(FileName, *file, plan);
}

int StripID3v2FromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int rc = PlanStrip(Stream, plan);
  if (rc != id3v2Ok) return rc;
  return ApplyPlanToStream(Stream, plan);
}
