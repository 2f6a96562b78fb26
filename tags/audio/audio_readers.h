#pragma once
// The audio properties of the file kinds that carry ID3v2 tags: MPEG audio, RIFF WAVE and RF64,
// AIFF and AIFC, DSF and DSDIFF. The ID3v2 tag object calls ReadID3v2AudioInfo once it knows
// the file kind and keeps the TID3v2AudioInfo it fills; the readers of each kind are in
// mpeg_audio.h, wave_audio.h, aiff_audio.h and dsd_audio.h beside this file.
//
// Invariants: every structure is read through ByteReader from a bounded window of the stream;
// no size field is trusted; sample counts and sizes are 64-bit; no value is divided by zero
// (a missing rate, bit rate or play time yields 0); table indexes from the file are checked.
// The readers never throw and leave the stream position where it was on entry.

#include <cstdint>

#include "tags/audio/aiff_audio.h"
#include "tags/audio/dsd_audio.h"
#include "tags/audio/mpeg_audio.h"
#include "tags/audio/wave_audio.h"
#include "tags/streams/stream.h"

enum TSourceFileType { sftUnknown, sftMPEG, sftWAVE, sftRF64, sftAIFF, sftDSF, sftDFF };

// Options the ID3v2 tag object passes down (its own option fields of the same names).
struct TID3v2AudioOptions {
  // False: only recognise the kind (the MPEG frame search still runs); read no properties.
  bool ParseAudioAttributes = true;
  // How far the ID3v2 object searched for a tag at the start; kept for completeness of the
  // option set, the readers here do not use it.
  std::uint32_t BeginningSearchLength = 0;
  // Attempts of the MPEG frame search beyond the first.
  std::uint32_t MPEGSearchLength = kDefaultMPEGSearchLength;
  // Take the play time from the tag's "TLEN" frame (milliseconds, TLENMilliseconds > 0) when
  // the reader has none of its own, and always for MPEG audio.
  bool UseTLENForPlaytime = false;
  std::int64_t TLENMilliseconds = 0;
  // Size of an APEv2 tag at the end of the stream; -1 measures it from the stream.
  std::int64_t APEv2TagSize = -1;
  // Size of an ID3v1 tag with its Lyrics3 block at the end; -1 measures it from the stream.
  std::int64_t ID3v1TagSize = -1;
};

// What the ID3v2 tag object keeps of the audio stream. PlayTime, SampleCount and BitRate are
// filled for every kind (for DSF and DSDIFF they repeat DSFInfo's and DFFInfo's values).
struct TID3v2AudioInfo {
  TSourceFileType SourceFileType = sftUnknown;
  double PlayTime = 0;                // seconds
  std::int64_t FileSize = 0;          // the stream's size
  std::int64_t SampleCount = 0;
  int BitRate = 0;                    // kbit/s
  std::int64_t APEv2TagSize = 0;      // the APEv2 size used for MPEG audio
  std::int64_t ID3v1TagSize = 0;      // the ID3v1 + Lyrics3 size used for MPEG audio
  TMPEGHeader MPEGInfo;
  TWaveFmt WAVInfo;
  TAIFFInformation AIFFInfo;
  TDSFInfo DSFInfo;
  TDFFInfo DFFInfo;

  // The values audio-property consumers read, by kind; 0 when the kind has none.
  int SamplesPerSec() const;
  int Channels() const;              // MPEG: 1 mono, 2 the stereo modes, 0 unknown mode
  int BitsPerSample() const;         // MPEG: 0, the format has none; DSDIFF: 1
  // Length of one MPEG frame in seconds (0.026 when the samples per frame are unknown); 0 for
  // every other kind.
  double FramePlayTime() const;
};

// Reads the audio properties of the stream once its kind is known.
//
// TagStart and TagSize, by kind:
// - sftUnknown or sftMPEG: TagStart is the offset of the ID3v2 tag at the start (the stream
//   position where the tag was looked for when there is none), TagSize its whole size with
//   header and footer (0 without a tag). The audio begins after it: the frame search starts at
//   TagStart + TagSize. With sftUnknown, finding a valid frame pair sets sftMPEG.
// - sftWAVE, sftRF64, sftAIFF, sftDSF, sftDFF: the container's first byte ("RIFF", "RF64",
//   "FORM", "DSD ", "FRM8") is at TagStart + TagSize. TagSize is 0 unless an ID3v2 tag stands in
//   front of the container; an ID3v2 tag inside the container does not matter here.
//
// Out is reset first. Returns true when the kind was confirmed and, with ParseAudioAttributes,
// its header was read; false otherwise (Out.SourceFileType stays sftUnknown for a failed MPEG
// search, and is Kind for a container whose header could not be read).
bool ReadID3v2AudioInfo(TStream &Stream, TSourceFileType Kind, std::int64_t TagStart, std::int64_t TagSize,
                        const TID3v2AudioOptions &Options, TID3v2AudioInfo &Out);
