#pragma once
// TWAVTag: the native tags of RIFF WAVE and RF64 WAVE files (Microsoft RIFF, EBU Tech 3306):
// the text items of "LIST" chunks of list type "INFO" (wav_info.h), the Broadcast Wave "bext"
// chunk (EBU Tech 3285, wav_bext.h) and the "cart" chunk (AES46, wav_cart.h); it also reads the
// "EVNT" chunk (wav_evnt.h) and the audio values of "fmt ", "fact", "data" and "ds64". An ID3v2
// tag in front of the form is skipped; an ID3v2 chunk inside it belongs to the ID3v2 code and
// is never touched here.
//
// Reading is lenient and goes through the chunk walker of chunk_walker.h: the chunks are walked
// to the end of the file (the form's size is not trusted to bound them), every INFO list is read
// (its items one after another), the first "bext", "cart" and "EVNT". Sizes are clamped to the
// enclosing list and to the file. The tag is damaged (it loads what could be read, and is never
// written back) when a chunk runs past the end of the file, an INFO item past its list, a
// list, "bext" or "cart" is shorter than its fixed part, or a tag chunk is larger than
// kWAVMaxTagChunkBytes (it is not read then).
//
// Writing is strict and planned (TRewritePlan) through the form editor: only a form that
// passes CheckChunkForm, holds its "data" chunk and, for RF64, keeps its sizes in a valid ds64
// (the 32-bit size FFFFFFFF hex, the data size agreeing) is written. The new tag is one INFO
// list (it takes the place of the first old one; the others go), "bext" and "cart" (each in the
// place of the old one); a chunk that had no place goes in front of "data". Every other chunk
// stays, in its order and with its pad byte; the form's size (ds64's RIFF size for RF64) is
// corrected, and a plain RIFF that would pass 4 GiB is refused. A change whose chunks keep their
// size is made in place; tag chunks behind the audio are rewritten in place with the few bytes
// after them; anything else rebuilds the file. A tag equal to the one the content holds (items,
// bext and cart as read) plans nothing, so an untouched tag is never rewritten.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tags/audio/wave_audio.h"
#include "tags/riff/chunk_walker.h"
#include "tags/riff/wav_bext.h"
#include "tags/riff/wav_cart.h"
#include "tags/riff/wav_evnt.h"
#include "tags/riff/wav_info.h"
#include "tags/streams/stream.h"

class TReadView;

enum TWAVResult : int {
  wavOk = 0,
  wavFileNotFound = 4,   // the file does not exist or cannot be opened for reading
  wavWriteFailed = 6,    // the temporary file, a write or the swap failed; the file is as it was
  wavDamaged = 7,        // the chunk layout does not add up, or the tag was read damaged
  wavNotWAVE = 9,        // neither a RIFF WAVE nor an RF64 WAVE form
  wavSizeOverflow = 10,  // the new RIFF size (or a tag chunk's size) does not fit its 32 bits
  wavCannotOpen = 11,    // the file cannot be opened for reading and writing
  wavReadOnly = 12,      // the file is read-only
  wavFailure = 0xFFFF,   // any other failure (the file changed under the save)
};

// A tag chunk ("LIST"/"INFO", "bext", "cart", "EVNT") larger than this is not read: the tag is
// damaged.
constexpr std::int64_t kWAVMaxTagChunkBytes = 16LL * 1024 * 1024;
// Tag chunks behind the audio are rewritten in place when at most this many bytes follow the
// first of them.
constexpr std::int64_t kWAVMaxInPlaceTailBytes = 1024 * 1024;

class TWAVTag {
public:
  TWAVTag() = default;
  TWAVTag(const TWAVTag &Source) { Assign(Source); }
  TWAVTag &operator=(const TWAVTag &Source)
  {
    Assign(Source);
    return *this;
  }

  // Items, bext, cart, EVNT, the audio values and the load state reset.
  void Clear();
  // wavFileNotFound, wavNotWAVE, wavDamaged (what could be read is loaded) or wavOk.
  int LoadFromFile(const std::string &AFileName);
  int LoadFromStream(TStream &Stream);
  int Load(TReadView &View);

  // Plans writing the tag into Content (see the header comment); an empty plan when nothing
  // changed. Items with an empty value are dropped first.
  int PlanSave(TStream &Content, TRewritePlan &Plan);
  // Plans taking every INFO list, "bext" and "cart" out of Content (an empty plan when there is
  // none); every other chunk stays.
  static int PlanRemove(TStream &Content, TRewritePlan &Plan);
  int SaveToFile(const std::string &AFileName);
  int SaveToStream(TStream &Stream);
  // Records what the last planned save wrote, once it was carried out.
  void FinishSave(const std::string &AFileName);

  bool Damaged() const { return FDamaged; }
  // Whether items, bext or cart differ from what was loaded or last saved.
  bool Changed() const;
  // Whether the file carried (or the object holds) any item, bext or cart.
  bool HasTag() const { return !Frames.empty() || BEXT.Loaded || CART.Loaded || HaveBEXT() || HaveCART(); }

  // INFO items; names are compared exactly.
  int Count() const { return static_cast<int>(Frames.size()); }
  TWAVTagFrame *AddFrame(const std::string &Name);
  int AddTextFrame(const std::string &Name, const std::string &Text);
  int AddBinaryFrame(const std::string &Name, const TBytes &Data);
  bool DeleteFrame(int FrameIndex);
  // The first item of that name.
  bool DeleteFrame(const std::string &Name);
  // Every item of that name; how many went.
  int DeleteFrameByName(const std::string &Name);
  int FrameExists(const std::string &Name) const;
  int FrameTypeCount(const std::string &Name) const;
  // The first item of that name; empty when none (or not text).
  std::string GetText(const std::string &Name) const;
  // The first item of that name takes the text (its bytes stay when it holds that text already)
  // and later ones of the name go; none: one is added. An empty text deletes every item of it.
  void SetText(const std::string &Name, const std::string &Text);
  // The first item's list (name, value, name, value...); false when there is no such item.
  bool GetList(const std::string &Name, std::vector<std::string> &List) const;
  // As SetText, with a list; an empty list deletes the items.
  void SetList(const std::string &Name, const std::vector<std::string> &List);
  void RemoveEmptyFrames();
  void ReSetAlreadyParsedState();
  bool Assign(const TWAVTag &Source);

  // Sum over the items of value size (+1 when odd) + 8.
  std::int64_t CalculateTotalFramesSize() const;
  // The tag chunks as CreateTagChunks writes them, headers and pad bytes included.
  std::int64_t CalculateTagSize() const;
  bool HaveBEXT() const { return BEXT.HasContent(); }
  bool HaveCART() const { return CART.HasContent(); }
  std::int64_t CalculateBEXTSize() const { return BEXT.CalculateSize(); }
  std::int64_t CalculateCARTSize() const { return CART.CalculateSize(); }
  // The new tag chunks: the INFO list (with at least one item), "bext" (HaveBEXT), "cart"
  // (HaveCART). Written to Stream at its position; false when a write fails.
  TBytes TagChunks() const;
  bool CreateTagChunks(TStream &Stream) const;
  // Attributes.FormatTag as a codec name.
  std::string GetCodec() const;

  std::string FileName;
  bool Loaded = false;                 // a RIFF or RF64 WAVE form was read
  std::uint32_t Size = 0;              // bytes of the INFO lists, bext and cart as loaded
  std::vector<std::unique_ptr<TWAVTagFrame>> Frames;
  TBEXT BEXT;
  TCART CART;
  TWaveFmt Attributes;
  double PlayTime = 0;                 // seconds
  std::uint64_t SampleCount = 0;
  int BitRate = 0;                     // kbit/s
  std::uint64_t SampleDataStartPosition = 0;
  std::uint64_t SampleDataSize = 0;
  TEVNT EVNT;
  bool PreserveFileDateTime = false;

private:
  // What items, bext and cart held when loaded or last saved.
  struct TSnapshot {
    std::vector<TWAVTagFrame> Frames;
    TBEXT BEXT;
    TCART CART;
  };
  TSnapshot TakeSnapshot() const;
  void LoadChunks(TReadView &View, const TChunkForm &Form);
  void ReadINFOList(TReadView &View, const TChunk &List);
  void ReadAudioValues(TReadView &View, const TChunkForm &Form, const TChunk *Fmt, std::uint64_t FactSamples,
                       const TChunk *Data);
  TBytes INFOData() const;

  std::int64_t FFileSize = -1;
  std::int64_t FPlannedFileSize = -1;
  bool FDamaged = false;
  TSnapshot FLoaded;
};

int RemoveWAVTagFromFile(const std::string &FileName, bool PreserveFileDateTime);
int RemoveWAVTagFromStream(TStream &Stream);
