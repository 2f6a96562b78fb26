#include "tags/riff/wav_tag.h"

#include <algorithm>
#include <limits>

#include "tags/id3/skip_id3v2.h"
#include "tags/streams/byte_reader.h"
#include "tags/streams/file_io.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"

namespace {

constexpr std::uint32_t kRF64SizeInDs64 = 0xFFFFFFFFu;
constexpr std::int64_t kListTypeBytes = 4;
// A chunk's data must leave room for its size field's largest value.
constexpr std::int64_t kMaxChunkDataBytes = 0xFFFFFFFELL;

// The size of an ID3v2 tag in front of the form; 0 without one or when it claims more than the
// stream holds.
std::int64_t LeadingID3v2Size(TStream &Stream)
{
  TBytes header;
  if (!ReadUpTo(Stream, 0, static_cast<std::int64_t>(kID3v2HeaderSize), header)) return 0;
  const std::int64_t size = ID3v2TagSizeFromHeader(header.data(), header.size());
  return size > 0 && size <= Stream.GetSize() ? size : 0;
}

bool ReadWAVEForm(TStream &Stream, TChunkForm &Form)
{
  return ReadChunkFormHeader(Stream, LeadingID3v2Size(Stream), Form) == cfcOk &&
         (Form.Kind == cfkRIFF || Form.Kind == cfkRF64);
}

bool IsINFOList(TStream &Stream, const TChunk &Chunk)
{
  TBytes type;
  return Chunk.ID == "LIST" && Chunk.DataSize() >= kListTypeBytes && Stream.ReadAt(Chunk.DataOffset, kListTypeBytes, type) &&
         ByteReader(type).StartsWith("INFO");
}

// A chunk of the RIFF layout (32-bit little-endian size, pad byte after odd data).
TBytes RiffChunkBytes(std::string_view ID, const TBytes &Data)
{
  static const TChunkForm kRiffForm{};
  return TChunkFormEditor(kRiffForm).ChunkBytes(ID, Data);
}

// The chunks of a form that passed the strict check, sorted by what the tag does with them.
struct TWAVLayout {
  TChunkForm Form;
  int Data = -1;
  std::vector<TChunk> Infos, Bexts, Carts;
};

int ReadWritableLayout(TStream &Content, TWAVLayout &L)
{
  if (!ReadWAVEForm(Content, L.Form)) return wavNotWAVE;
  // RF64 keeps its sizes in ds64 only; a 32-bit size beside it is a second, disagreeing truth.
  if (L.Form.Kind == cfkRF64 && (L.Form.Size32 != kRF64SizeInDs64 || !L.Form.Ds64.Valid)) return wavDamaged;
  if (CheckChunkForm(Content, L.Form) != cfcOk) return wavDamaged;
  for (std::size_t i = 0; i < L.Form.Chunks.size(); ++i) {
    const TChunk &c = L.Form.Chunks[i];
    if (c.ID == "data" && L.Data < 0) L.Data = static_cast<int>(i);
    else if (IsINFOList(Content, c)) L.Infos.push_back(c);
    else if (c.ID == "bext") L.Bexts.push_back(c);
    else if (c.ID == "cart") L.Carts.push_back(c);
  }
  if (L.Data < 0) return wavDamaged;
  const TChunk &data = L.Form.Chunks[static_cast<std::size_t>(L.Data)];
  if (L.Form.Kind == cfkRF64 && data.Size != L.Form.Ds64.DataSize) return wavDamaged;
  return wavOk;
}

// The edits planned so far: whether there are any, and the first old offset from which bytes
// move (the end of the first chunk that changes size, or the place of an insertion).
struct TEditSummary {
  bool Any = false;
  std::int64_t FirstMoved = std::numeric_limits<std::int64_t>::max();
  void Moved(std::int64_t At) { FirstMoved = std::min(FirstMoved, At); }
};

// NewChunk (empty: none) takes the place of Old's first chunk and the rest of Old go; with no
// Old it goes in front of Before. A chunk whose bytes would not change is left alone.
void PlaceChunk(TStream &Content, TChunkFormEditor &Editor, const std::vector<TChunk> &Old, const TChunk &Before,
                TBytes NewChunk, TEditSummary &Sum)
{
  const auto newSize = static_cast<std::int64_t>(NewChunk.size());
  for (std::size_t i = 0; i < Old.size(); ++i) {
    const TChunk &c = Old[i];
    const std::int64_t oldSize = c.End - c.Offset;
    if (i == 0 && !NewChunk.empty()) {
      TBytes old;
      if (oldSize == newSize && Content.ReadAt(c.Offset, oldSize, old) && old == NewChunk) continue;
      if (oldSize != newSize) Sum.Moved(c.End);
      Editor.Replace(c, std::move(NewChunk));
      Sum.Any = true;
      continue;
    }
    Editor.Remove(c);
    Sum.Moved(c.End);
    Sum.Any = true;
  }
  if (Old.empty() && !NewChunk.empty()) {
    Editor.InsertBefore(Before, std::move(NewChunk));
    Sum.Moved(Before.Offset);
    Sum.Any = true;
  }
}

// The plan of the edits; tag chunks that change size behind the audio hand over the bytes that
// follow them, so that the change can be made in place.
int FinishPlan(TStream &Content, const TWAVLayout &L, const TChunkFormEditor &Editor, const TEditSummary &Sum,
               TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  if (!Sum.Any) return wavOk;
  const std::int64_t fileSize = Content.GetSize();
  switch (Editor.Plan(fileSize, Plan)) {
  case cerOk: break;
  case cerSizeOverflow: Plan = TRewritePlan(); return wavSizeOverflow;
  default: Plan = TRewritePlan(); return wavFailure;
  }
  const TChunk &data = L.Form.Chunks[static_cast<std::size_t>(L.Data)];
  if (Sum.FirstMoved >= data.End && Sum.FirstMoved <= fileSize && fileSize - Sum.FirstMoved <= kWAVMaxInPlaceTailBytes) {
    if (!Content.ReadAt(Sum.FirstMoved, fileSize - Sum.FirstMoved, Plan.KnownTail)) {
      Plan = TRewritePlan();
      return wavFailure;
    }
    Plan.KnownTailFrom = Sum.FirstMoved;
  }
  return wavOk;
}

TRewriteCodes FileCodes()
{
  return TRewriteCodes{.Ok = wavOk,
                       .FileNotFound = wavFileNotFound,
                       .CannotOpen = wavCannotOpen,
                       .ReadOnly = wavReadOnly,
                       .ReadFailed = wavFailure,
                       .WriteFailed = wavWriteFailed};
}


int ApplyOwnPlan(TStream &Stream, TRewritePlan &Plan)
{
  if (!ComposeOwnPlan(Stream.GetSize(), Plan)) return wavFailure;
  switch (ApplyPlanToStream(Stream, Plan)) {
  case rwOk: return wavOk;
  case rwReadFailed: return wavFailure;
  case rwWriteFailed: break;
  }
  return wavWriteFailed;
}

std::string IDName(std::string_view ID)
{
  std::string name;
  for (const char c : ID)
    if (c != '\0') name += c;
  return name;
}

} // namespace

// ---- loading

void TWAVTag::Clear()
{
  FileName.clear();
  Loaded = false;
  Size = 0;
  Frames.clear();
  Frames.shrink_to_fit();
  BEXT.Clear();
  CART.Clear();
  Attributes = TWaveFmt{};
  PlayTime = 0;
  SampleCount = 0;
  BitRate = 0;
  SampleDataStartPosition = 0;
  SampleDataSize = 0;
  EVNT.Clear();
  FFileSize = -1;
  FPlannedFileSize = -1;
  FDamaged = false;
  FLoaded = TSnapshot();
}

int TWAVTag::LoadFromFile(const std::string &AFileName)
{
  Clear();
  auto view = TReadView::OpenFile(AFileName);
  if (!view) return wavFileNotFound;
  const int result = Load(*view);
  if (result == wavOk || result == wavDamaged) FileName = AFileName;
  return result;
}

int TWAVTag::LoadFromStream(TStream &Stream)
{
  TPositionKeeper keep(Stream);
  TReadView view(Stream);
  return Load(view);
}

int TWAVTag::Load(TReadView &View)
{
  Clear();
  FFileSize = View.GetSize();
  TChunkForm form;
  if (!ReadWAVEForm(View, form)) return wavNotWAVE;
  Loaded = true;
  LoadChunks(View, form);
  FLoaded = TakeSnapshot();
  return FDamaged ? wavDamaged : wavOk;
}

void TWAVTag::LoadChunks(TReadView &View, const TChunkForm &Form)
{
  const std::int64_t fileSize = View.GetSize();
  // A form whose size fits the file ends there: what follows it (an appended tag of another
  // kind, junk) is not taken for chunks of the tag, nor its damage for the tag's.
  const auto inForm = [&](const TChunk &C) { return !Form.DeclaredEndFits || C.Offset < Form.End; };
  TChunkWalker walker = Form.Walker(View, fileSize);
  TChunk chunk, fmt, data;
  bool haveFmt = false, haveData = false, haveFact = false, seenBEXT = false, seenCART = false;
  std::uint64_t factSamples = 0;
  std::int64_t tagBytes = 0, readBytes = 0;
  ByteReader in;
  while (walker.Next(chunk)) {
    if (!chunk.Complete && inForm(chunk)) FDamaged = true;
    const bool tagChunk =
      inForm(chunk) && (chunk.ID == "bext" || chunk.ID == "cart" || chunk.ID == "EVNT" || IsINFOList(View, chunk));
    if (tagChunk && (chunk.DataSize() > kWAVMaxTagChunkBytes - readBytes)) {
      FDamaged = true;
      continue;
    }
    if (tagChunk) readBytes += chunk.DataSize();
    if (chunk.ID == "LIST" && tagChunk) {
      tagBytes += chunk.End - chunk.Offset;
      ReadINFOList(View, chunk);
    } else if (chunk.ID == "bext" && tagChunk && !seenBEXT) {
      seenBEXT = true;
      tagBytes += chunk.End - chunk.Offset;
      // The fixed record must be there whole; a shorter chunk is not read past.
      if (chunk.Size < static_cast<std::uint64_t>(kBEXTRecordBytes) || !View.Range(chunk.DataOffset, chunk.DataSize(), in) ||
          !BEXT.BEXTChunk.Read(in)) {
        FDamaged = true;
        continue;
      }
      BEXT.CodingHistoryBytes.assign(in.Rest().begin(), in.Rest().end());
      BEXT.Loaded = true;
    } else if (chunk.ID == "cart" && tagChunk && !seenCART) {
      seenCART = true;
      tagBytes += chunk.End - chunk.Offset;
      if (chunk.Size < static_cast<std::uint64_t>(kCARTRecordBytes) || !View.Range(chunk.DataOffset, chunk.DataSize(), in) ||
          !CART.CARTChunk.Read(in)) {
        FDamaged = true;
        continue;
      }
      CART.TagTextBytes.assign(in.Rest().begin(), in.Rest().end());
      CART.Loaded = true;
    } else if (chunk.ID == "EVNT" && tagChunk && !EVNT.Loaded) {
      // Only read, and copied unchanged on save: a malformed event list is not the tag's damage.
      if (View.Range(chunk.DataOffset, chunk.DataSize(), in)) ReadEVNT(in, EVNT);
    } else if (chunk.ID == "fmt " && !haveFmt) {
      fmt = chunk;
      haveFmt = true;
    } else if (chunk.ID == "fact" && !haveFact) {
      haveFact = true;
      std::uint32_t samples = 0;
      if (View.RangeUpTo(chunk.DataOffset, std::min<std::int64_t>(chunk.DataSize(), 4), in) && in.ReadU32LE(samples))
        factSamples = samples;
    } else if (chunk.ID == "data" && !haveData) {
      data = chunk;
      haveData = true;
      // Without a valid ds64 the audio's size is unknown, and what follows it cannot be found.
      if (Form.Kind == cfkRF64 && !Form.Ds64.Valid) break;
    }
  }
  if (walker.CountExhausted()) FDamaged = true;
  Size = static_cast<std::uint32_t>(std::min<std::int64_t>(tagBytes, std::numeric_limits<std::uint32_t>::max()));
  ReadAudioValues(View, Form, haveFmt ? &fmt : nullptr, factSamples, haveData ? &data : nullptr);
}

void TWAVTag::ReadINFOList(TReadView &View, const TChunk &List)
{
  TChunkWalker items(View, List.DataOffset + kListTypeBytes, List.DataEnd, TChunkSizeForm::csLE32);
  TChunk item;
  while (items.Next(item)) {
    // An item running past its list is cut there: it shows, but the tag is not written back.
    if (!item.Complete) FDamaged = true;
    auto frame = std::make_unique<TWAVTagFrame>(this);
    frame->Name = IDName(item.ID);
    if (!View.ReadAt(item.DataOffset, item.DataSize(), frame->Stream)) {
      FDamaged = true;
      break;
    }
    Frames.push_back(std::move(frame));
  }
  if (items.CountExhausted()) FDamaged = true;
}

void TWAVTag::ReadAudioValues(TReadView &View, const TChunkForm &Form, const TChunk *Fmt, std::uint64_t FactSamples,
                              const TChunk *Data)
{
  ByteReader in;
  if (Fmt && View.RangeUpTo(Fmt->DataOffset, std::min<std::int64_t>(Fmt->DataSize(), kWaveFmtBodyBytes), in))
    ParseWaveFmt(in, static_cast<std::uint32_t>(std::min<std::uint64_t>(Fmt->Size, 0xFFFFFFFFu)), Attributes);
  else if (Fmt)
    Attributes.fmtSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(Fmt->Size, 0xFFFFFFFFu));
  if (Data) {
    SampleDataStartPosition = static_cast<std::uint64_t>(Data->DataOffset);
    // A size that claims more than the file holds counts what is there.
    const auto present = static_cast<std::uint64_t>(View.GetSize() - Data->DataOffset);
    if (Form.Kind == cfkRF64 && Form.Ds64.Valid) {
      SampleDataSize = std::min(Form.Ds64.DataSize, present);
      SampleCount = Form.Ds64.SampleCount;
    } else {
      SampleDataSize = static_cast<std::uint64_t>(Data->DataSize());
      SampleCount = Attributes.BlockAlign > 0 ? SampleDataSize / Attributes.BlockAlign : 0;
    }
  }
  if (FactSamples > 0 && Attributes.SamplesPerSec > 0)
    PlayTime = static_cast<double>(FactSamples) / Attributes.SamplesPerSec;
  else if (Attributes.AvgBytesPerSec > 0)
    PlayTime = static_cast<double>(SampleDataSize) / Attributes.AvgBytesPerSec;
  BitRate = static_cast<int>(Attributes.AvgBytesPerSec / 125);
}

// ---- saving

TWAVTag::TSnapshot TWAVTag::TakeSnapshot() const
{
  TSnapshot s;
  for (const auto &f : Frames) {
    s.Frames.emplace_back();
    s.Frames.back().Assign(*f);
  }
  s.BEXT = BEXT;
  s.CART = CART;
  return s;
}

bool TWAVTag::Changed() const
{
  const auto same = [](const TWAVTagFrame &A, const std::unique_ptr<TWAVTagFrame> &B) { return A == *B; };
  return !std::equal(FLoaded.Frames.begin(), FLoaded.Frames.end(), Frames.begin(), Frames.end(), same) ||
         !FLoaded.BEXT.SameContent(BEXT) || !FLoaded.CART.SameContent(CART);
}

TBytes TWAVTag::INFOData() const
{
  TBytes data;
  if (Frames.empty()) return data;
  data.reserve(static_cast<std::size_t>(kListTypeBytes + CalculateTotalFramesSize()));
  data.insert(data.end(), {'I', 'N', 'F', 'O'});
  for (const auto &f : Frames) f->AppendTo(data);
  return data;
}

TBytes TWAVTag::TagChunks() const
{
  TBytes out;
  const auto append = [&](std::string_view ID, const TBytes &Data) {
    const TBytes chunk = RiffChunkBytes(ID, Data);
    out.insert(out.end(), chunk.begin(), chunk.end());
  };
  if (!Frames.empty()) append("LIST", INFOData());
  if (HaveBEXT()) append("bext", BEXT.BuildData());
  if (HaveCART()) append("cart", CART.BuildData());
  return out;
}

bool TWAVTag::CreateTagChunks(TStream &Stream) const { return Stream.WriteBytes(TagChunks()); }

int TWAVTag::PlanSave(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  FPlannedFileSize = Content.GetSize();
  // The tag the content holds now: when it is this one, there is nothing to write.
  TWAVTag current;
  {
    TReadView view(Content);
    if (current.Load(view) == wavNotWAVE) return wavNotWAVE;
  }
  const auto sameFrames = [](const std::unique_ptr<TWAVTagFrame> &A, const std::unique_ptr<TWAVTagFrame> &B) { return *A == *B; };
  if (std::equal(Frames.begin(), Frames.end(), current.Frames.begin(), current.Frames.end(), sameFrames) &&
      BEXT.SameContent(current.BEXT) && CART.SameContent(current.CART))
    return wavOk;
  // A damaged tag, ours or the one in the content, is never written over.
  if (FDamaged || current.Damaged()) return wavDamaged;
  TWAVLayout layout;
  if (const int code = ReadWritableLayout(Content, layout); code != wavOk) return code;

  RemoveEmptyFrames();
  const TBytes info = INFOData();
  const TBytes bext = HaveBEXT() ? BEXT.BuildData() : TBytes();
  const TBytes cart = HaveCART() ? CART.BuildData() : TBytes();
  for (const TBytes *data : {&info, &bext, &cart})
    if (static_cast<std::int64_t>(data->size()) > kMaxChunkDataBytes) return wavSizeOverflow;

  TChunkFormEditor editor(layout.Form);
  const TChunk &data = layout.Form.Chunks[static_cast<std::size_t>(layout.Data)];
  const auto first = [](const std::vector<TChunk> &Chunks) {
    return Chunks.empty() ? std::vector<TChunk>() : std::vector<TChunk>{Chunks.front()};
  };
  TEditSummary sum;
  // Later "bext" and "cart" chunks (a file should hold one of each) stay as they are.
  PlaceChunk(Content, editor, first(layout.Bexts), data, bext.empty() ? TBytes() : editor.ChunkBytes("bext", bext), sum);
  PlaceChunk(Content, editor, first(layout.Carts), data, cart.empty() ? TBytes() : editor.ChunkBytes("cart", cart), sum);
  PlaceChunk(Content, editor, layout.Infos, data, info.empty() ? TBytes() : editor.ChunkBytes("LIST", info), sum);
  const int code = FinishPlan(Content, layout, editor, sum, Plan);
  if (code == wavOk && !Plan.ChangesNothing()) FPlannedFileSize = Plan.RebuiltSize();
  return code;
}

int TWAVTag::PlanRemove(TStream &Content, TRewritePlan &Plan)
{
  Plan = TRewritePlan();
  TWAVLayout layout;
  if (const int code = ReadWritableLayout(Content, layout); code != wavOk) return code;
  TChunkFormEditor editor(layout.Form);
  TEditSummary sum;
  const TChunk &data = layout.Form.Chunks[static_cast<std::size_t>(layout.Data)];
  for (const std::vector<TChunk> *chunks : {&layout.Infos, &layout.Bexts, &layout.Carts})
    PlaceChunk(Content, editor, *chunks, data, TBytes(), sum);
  return FinishPlan(Content, layout, editor, sum, Plan);
}

int TWAVTag::SaveToFile(const std::string &AFileName)
{
  const int result = RewriteFile(AFileName, PreserveFileDateTime, FileCodes(), [&](TStream &View, TRewritePlan &Plan) -> int {
    const int code = PlanSave(View, Plan);
    if (code != wavOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? wavOk : wavFailure;
  });
  if (result == wavOk) FinishSave(AFileName);
  return result;
}

int TWAVTag::SaveToStream(TStream &Stream)
{
  TRewritePlan plan;
  int code = PlanSave(Stream, plan);
  if (code == wavOk) code = ApplyOwnPlan(Stream, plan);
  if (code == wavOk) FinishSave(std::string());
  return code;
}

void TWAVTag::FinishSave(const std::string &AFileName)
{
  if (!AFileName.empty()) FileName = AFileName;
  // What was written: the versions a new chunk gets, the parts that were there to write.
  if (HaveBEXT() && BEXT.BEXTChunk.Version == 0) BEXT.BEXTChunk.Version = 1;
  if (HaveCART() && CART.GetVersion().empty()) CART.SetVersion("0101");
  BEXT.Loaded = HaveBEXT();
  CART.Loaded = HaveCART();
  Loaded = true;
  FFileSize = FPlannedFileSize;
  Size = static_cast<std::uint32_t>(std::min<std::int64_t>(CalculateTagSize(), std::numeric_limits<std::uint32_t>::max()));
  FLoaded = TakeSnapshot();
}

int RemoveWAVTagFromFile(const std::string &FileName, bool PreserveFileDateTime)
{
  return RewriteFile(FileName, PreserveFileDateTime, FileCodes(), [](TStream &View, TRewritePlan &Plan) -> int {
    const int code = TWAVTag::PlanRemove(View, Plan);
    if (code != wavOk) return code;
    return ComposeOwnPlan(View.GetSize(), Plan) ? wavOk : wavFailure;
  });
}

int RemoveWAVTagFromStream(TStream &Stream)
{
  TRewritePlan plan;
  const int code = TWAVTag::PlanRemove(Stream, plan);
  return code == wavOk ? ApplyOwnPlan(Stream, plan) : code;
}

// ---- items

TWAVTagFrame *TWAVTag::AddFrame(const std::string &Name)
{
  Frames.push_back(std::make_unique<TWAVTagFrame>(this));
  Frames.back()->Name = Name;
  return Frames.back().get();
}

int TWAVTag::AddTextFrame(const std::string &Name, const std::string &Text)
{
  AddFrame(Name)->SetText(Text);
  return Count() - 1;
}

int TWAVTag::AddBinaryFrame(const std::string &Name, const TBytes &Data)
{
  TWAVTagFrame *f = AddFrame(Name);
  f->Format = TWAVTagFrameFormat::ffBinary;
  f->Stream = Data;
  return Count() - 1;
}

bool TWAVTag::DeleteFrame(int FrameIndex)
{
  if (FrameIndex < 0 || FrameIndex >= Count()) return false;
  Frames.erase(Frames.begin() + FrameIndex);
  return true;
}

bool TWAVTag::DeleteFrame(const std::string &Name) { return DeleteFrame(FrameExists(Name)); }

int TWAVTag::DeleteFrameByName(const std::string &Name)
{
  return static_cast<int>(std::erase_if(Frames, [&](const auto &f) { return f->Name == Name; }));
}

int TWAVTag::FrameExists(const std::string &Name) const
{
  for (int i = 0; i < Count(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->Name == Name) return i;
  return -1;
}

int TWAVTag::FrameTypeCount(const std::string &Name) const
{
  return static_cast<int>(std::count_if(Frames.begin(), Frames.end(), [&](const auto &f) { return f->Name == Name; }));
}

std::string TWAVTag::GetText(const std::string &Name) const
{
  const int i = FrameExists(Name);
  return i < 0 ? std::string() : Frames[static_cast<std::size_t>(i)]->GetText();
}

void TWAVTag::SetText(const std::string &Name, const std::string &Text)
{
  if (Text.empty()) {
    DeleteFrameByName(Name);
    return;
  }
  const int first = FrameExists(Name);
  if (first < 0) {
    AddTextFrame(Name, Text);
    return;
  }
  for (int i = Count() - 1; i > first; --i)
    if (Frames[static_cast<std::size_t>(i)]->Name == Name) DeleteFrame(i);
  TWAVTagFrame &f = *Frames[static_cast<std::size_t>(first)];
  // The bytes as read stay when they hold the text already (another encoding is no change).
  if (f.Format != TWAVTagFrameFormat::ffText || f.GetText() != Text) f.SetText(Text);
}

bool TWAVTag::GetList(const std::string &Name, std::vector<std::string> &List) const
{
  const int i = FrameExists(Name);
  List = i < 0 ? std::vector<std::string>() : Frames[static_cast<std::size_t>(i)]->GetList();
  return i >= 0;
}

void TWAVTag::SetList(const std::string &Name, const std::vector<std::string> &List)
{
  TWAVTagFrame wanted;
  wanted.SetList(List);
  if (wanted.Stream.empty()) {
    DeleteFrameByName(Name);
    return;
  }
  const int first = FrameExists(Name);
  if (first < 0) {
    AddFrame(Name)->SetList(List);
    return;
  }
  for (int i = Count() - 1; i > first; --i)
    if (Frames[static_cast<std::size_t>(i)]->Name == Name) DeleteFrame(i);
  TWAVTagFrame &f = *Frames[static_cast<std::size_t>(first)];
  if (f.Format != TWAVTagFrameFormat::ffText || f.GetList() != wanted.GetList()) f.SetList(List);
}

void TWAVTag::RemoveEmptyFrames()
{
  std::erase_if(Frames, [](const auto &f) { return f->Stream.empty(); });
}

void TWAVTag::ReSetAlreadyParsedState()
{
  for (auto &f : Frames) f->AlreadyParsed = false;
}

bool TWAVTag::Assign(const TWAVTag &Source)
{
  if (&Source == this) return true;
  FileName = Source.FileName;
  Loaded = Source.Loaded;
  Size = Source.Size;
  Frames.clear();
  for (const auto &f : Source.Frames) AddFrame(f->Name)->Assign(*f);
  BEXT = Source.BEXT;
  CART = Source.CART;
  Attributes = Source.Attributes;
  PlayTime = Source.PlayTime;
  SampleCount = Source.SampleCount;
  BitRate = Source.BitRate;
  SampleDataStartPosition = Source.SampleDataStartPosition;
  SampleDataSize = Source.SampleDataSize;
  EVNT = Source.EVNT;
  PreserveFileDateTime = Source.PreserveFileDateTime;
  FFileSize = Source.FFileSize;
  FPlannedFileSize = Source.FPlannedFileSize;
  FDamaged = Source.FDamaged;
  FLoaded = Source.FLoaded;
  return true;
}

std::int64_t TWAVTag::CalculateTotalFramesSize() const
{
  std::int64_t n = 0;
  for (const auto &f : Frames) n += f->StoredSize();
  return n;
}

std::int64_t TWAVTag::CalculateTagSize() const { return static_cast<std::int64_t>(TagChunks().size()); }

std::string TWAVTag::GetCodec() const
{
  switch (Attributes.FormatTag) {
  case 1: return "Windows PCM";
  case 2: return "Microsoft ADPCM";
  case 3: return "PCM Float or IEEE Float";
  case 6: return "A-LAW";
  case 7: return "MU-LAW";
  case 17: return "DVI/IMA ADPCM";
  case 85: return "MPEG Layer III";
  case 0xFFFE: return "EXTENSIBLE";
  default: return "Unknown";
  }
}
