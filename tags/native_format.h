#pragma once
// TNativeFormat: one native tag format as the container sees it. Every step of TTags that walks
// "every native" (load, map, save, remove, delete an entry, clear, assign, size, the audio
// values) walks the rows of NativeFormats(), so a new format is one row, defined at the end of
// its names_*.cpp file and declared at the end of this header, and one entry in
// native_formats.cpp that puts it in the order.
//
// Rows are constant data written with designated initialisers; a field left out means "this
// format has no such step" (a hook left null, an empty list). Hooks never throw out of the
// container: it calls each inside its own guard.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "tags/audio/audio_attributes.h"
#include "tags/detect/content_type.h"
#include "tags/streams/read_view.h"
#include "tags/streams/rewrite_plan.h"
#include "tags/streams/stream.h"
#include "tags/tag_container.h"
#include "tags/tag_type.h"

// A native result code and the container code it becomes; codes a row does not list become
// tagsUnsupported.
struct TNativeCode {
  int Native = 0;
  TTagsResult Container = tagsUnsupported;
};

// Whether the mapper runs when the container is asked for pictures only (OnlyParseCoverArts).
enum class TPicturesOnlyLoad { ploMapped, ploSkipped };
// Whether a successful automatic save of this native makes the file count as tagged (so that
// the content and extension rounds are not needed).
enum class TAutomaticSave { asTagsTheFile, asDoesNotTagTheFile };

// The part of the file a loaded native takes at its start and at its end (the header readers
// leave both out of the audio).
struct TTagExtent {
  std::int64_t AtStart = 0;
  std::int64_t AtEnd = 0;
};

struct TNativeFormat {
  TTagType Type = ttNone;

  // Loading: Load reads the native from the view (positioned at 0) and says whether it found a
  // tag; MapToEntries copies the loaded native into entries and pictures.
  bool (*Load)(TTags &, TReadView &) = nullptr;
  bool (*IsLoaded)(const TTags &) = nullptr;
  void (*MapToEntries)(TTags &) = nullptr;
  TPicturesOnlyLoad PicturesOnly = TPicturesOnlyLoad::ploMapped;
  TTagExtent (*Extent)(const TTags &) = nullptr;

  // Saving: prepare the native from the entries and plan its change against the content of a
  // file or stream (positioned at 0), without writing; the native's own code. The container
  // carries out the plans of every native it saves together, and then calls FinishSave of each
  // (with the file's name, empty for a stream) so that the native records what it wrote.
  int (*PlanSave)(TTags &, TStream &Content, TRewritePlan &Plan) = nullptr;
  void (*FinishSave)(TTags &, const std::string &FileName) = nullptr;
  TAutomaticSave AutomaticSave = TAutomaticSave::asTagsTheFile;
  // When set, a successful automatic save tags the file only when this native holds every entry
  // and picture of the container; otherwise the rounds after it add the natives that can.
  bool (*HoldsEverything)(const TTags &) = nullptr;
  // The content types that pick this native when none of a file's loaded tags took the values;
  // the second list only for a file, not for a stream.
  std::span<const TAudioContainerType> ContentTypes = {};
  std::span<const TAudioContainerType> FileOnlyContentTypes = {};
  // Run before this native is saved because of a file's content (not its loaded tags).
  void (*BeforeContentSave)(TTags &) = nullptr;

  // Removal: the plan that takes this native's tag out of the content; the native codes that
  // only say "no such tag here".
  int (*PlanRemove)(TStream &Content, TRewritePlan &Plan) = nullptr;
  std::span<const int> NothingToRemove = {};

  std::span<const TNativeCode> Codes = {};

  // The native object: the native side of deleting an entry (its upper-cased name and the
  // entry), emptying, copying from another container's object, and the size of the loaded tag.
  void (*DeleteEntry)(TTags &, const std::string &UpperName, const TTag &) = nullptr;
  void (*Clear)(TTags &) = nullptr;
  bool (*Assign)(TTags &, const TTags &Source) = nullptr;
  std::int64_t (*Size)(const TTags &) = nullptr;

  // What the native object knows of the audio (TSourceAudioAttributes): a value for its slot in
  // the load priority (nullopt: ask the next slot), and a play time with its place in the fixed
  // play-time order (nullopt: none).
  std::optional<std::int64_t> (*AudioValue)(const TTags &, TAudioValue) = nullptr;
  std::optional<TNativePlayTime> (*PlayTime)(const TTags &) = nullptr;
};

// An audio value of a native reader, where 0 means "not known here" (ask the next slot).
inline std::optional<std::int64_t> NonZero(std::int64_t V) { return V != 0 ? std::optional<std::int64_t>(V) : std::nullopt; }

// The rows in load, save and removal order (native_formats.cpp).
std::span<const TNativeFormat *const> NativeFormats();

extern const TNativeFormat kAPEv2Format;  // names_apev2.cpp
extern const TNativeFormat kFlacFormat;   // names_flac.cpp
extern const TNativeFormat kID3v1Format;  // names_id3v1.cpp
extern const TNativeFormat kID3v2Format;  // names_id3v2.cpp
extern const TNativeFormat kMP4Format;    // names_mp4.cpp
extern const TNativeFormat kOggFormat;    // names_ogg.cpp
extern const TNativeFormat kWAVFormat;    // names_wav.cpp
extern const TNativeFormat kWMAFormat;    // names_wma.cpp
