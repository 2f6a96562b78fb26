#pragma once
// The signatures that start an audio file behind any ID3v2 tag, read from its first 16 bytes
// alone. Content sniffing (content_type.h) starts with them, and the MPEG frame search skips a
// file whose format never holds MPEG frames (a byte run in its data that looks like a frame sync
// would give false properties).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

enum TAudioContainerType : int {
  actUnknown = 0, actMonkey = 1, actFLAC = 2, actOggFLAC = 3, actMPEG = 4, actMP4 = 5, actOpus = 6,
  actVorbis = 7, actTheora = 8, actWAV = 9, actRF64 = 10, actAIFF = 11, actAIFC = 12, actDSDIFF = 13,
  actDSF = 14, actOptimFROG = 15, actMusepack = 16, actWavPack = 17,
  // An ASF file (Windows Media), recognised by its Header object's GUID.
  actASF = 18,
};

// The bytes SignatureType and HasNonMPEGSignature look at.
constexpr std::size_t kSignatureBytes = 16;

// Whether Magic stands at Pos of Head.
bool SignatureAt(std::span<const std::uint8_t> Head, std::size_t Pos, std::string_view Magic);

// The kind whose signature starts Head: RIFF, RF64, Monkey's Audio, OptimFROG, Musepack, FLAC,
// DSF, DSDIFF, AIFF, AIFC or MP4; actUnknown for anything else (an Ogg page included: its codec
// is told by the page's first packet).
TAudioContainerType SignatureType(std::span<const std::uint8_t> Head);

// True when Head starts with the signature of a format whose audio is never a bare stream of
// MPEG frames: FLAC, Monkey's Audio, Musepack, OptimFROG, DSF, DSDIFF, an Ogg page ("OggS"), a
// WavPack block ("wvpk"), or MP4 ("ftyp"), whose audio, MPEG or not, lies in media data that
// its own sample tables describe and its own reader reads. RIFF, RF64 and AIFF are left out:
// they can carry MPEG frames as their data.
bool HasNonMPEGSignature(std::span<const std::uint8_t> Head);
