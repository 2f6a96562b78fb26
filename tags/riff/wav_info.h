#pragma once
// One item of a RIFF "LIST" chunk of list type "INFO" (Microsoft RIFF, the INFO list): a
// sub-chunk whose 4-character id names the item ("INAM", "IART", ...) and whose data is the
// value, for text a string ended by a zero byte. The item keeps the value bytes exactly as
// stored (terminator included); the pad byte that follows an odd value in the file is not part
// of the value and is written as zero.
//
// Text is read from the value without its trailing zero bytes (a value stored without a
// terminator keeps its last character) and decoded by the rules of wav_text.h; text is written
// with one zero byte after it. A list is stored as lines ended by CR LF, name and value taking
// turns, with one zero byte after the last line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tags/streams/stream.h"

class TWAVTag;

enum class TWAVTagFrameFormat { ffUnknown = 0, ffText = 1, ffBinary = 2 };

// Bytes an INFO sub-chunk's header takes: the id and the 32-bit size.
constexpr std::int64_t kWAVInfoItemHeaderBytes = 8;

class TWAVTagFrame {
public:
  explicit TWAVTagFrame(TWAVTag *AParent = nullptr) : Parent(AParent) {}

  void Clear();
  // Copies name, format and value (not the owner).
  void Assign(const TWAVTagFrame &Source);

  // Text items only (empty otherwise): the value without its trailing zero bytes, decoded.
  std::string GetText() const;
  // Makes this a text item holding Text and a zero byte; an empty text leaves the value empty.
  void SetText(std::string_view Text);
  // The value's lines (split at CR LF, each decoded), taken in pairs: name, value, name, value...
  // A last line without a partner is dropped.
  std::vector<std::string> GetList() const;
  // Name, value, name, value... each followed by CR LF, then one zero byte; a last name without
  // a value is dropped. An empty list leaves the value empty.
  void SetList(const std::vector<std::string> &List);

  // The bytes of the sub-chunk as written: the id (cut or padded with spaces to 4 bytes), the
  // size, the value and a zero pad byte after an odd value.
  void AppendTo(TBytes &Out) const;
  std::int64_t StoredSize() const;

  bool operator==(const TWAVTagFrame &Other) const
  {
    return Name == Other.Name && Format == Other.Format && Stream == Other.Stream;
  }

  std::string Name;                                     // the id's non-zero bytes
  TWAVTagFrameFormat Format = TWAVTagFrameFormat::ffText;
  TBytes Stream;                                        // the value as stored, without the pad byte
  TWAVTag *Parent = nullptr;
  bool AlreadyParsed = false;
};
