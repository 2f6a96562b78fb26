#pragma once
// Content sniffing: what kind of audio file a stream holds, judged by its first bytes behind an
// optional ID3v2 tag (RIFF, RF64, AIFF/AIFC, DSF, DSDIFF, FLAC, Ogg with its first codec, MP4,
// Monkey's Audio, OptimFROG, Musepack), then by the WavPack and Musepack header readers, then by
// an MPEG audio frame sync within the first bytes. Only bounded windows of the stream are read;
// nothing throws. The save dispatch picks the natives of a file by this kind when none of its
// loaded tags took the values.

#include <string>

#include "tags/detect/signature.h"
#include "tags/streams/stream.h"

const char *AudioContainerTypeName(TAudioContainerType T);  // "actMPEG", ...

// actUnknown when the file cannot be opened for reading.
TAudioContainerType GetAudioContainerType(const std::string &FileName);
// An MPEG stream is left positioned on its frame sync; others where the last read left it.
TAudioContainerType GetAudioContainerTypeFromStream(TStream &Stream);
