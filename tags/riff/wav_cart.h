#pragma once
// The "cart" chunk of broadcast cart-chunk WAVE files (AES46-2002): a fixed record of 2048
// bytes (TAG_CART: version, texts, the level reference, eight post timers, reserved bytes, a URL)
// followed by free tag text. Numbers are little-endian.
//
// Invariants as for "bext" (wav_bext.h): the record is held field by field and written back
// exactly, the reserved bytes included; text fields are read up to their first zero byte and
// written cut to their field.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tags/streams/byte_reader.h"
#include "tags/streams/stream.h"

constexpr std::int64_t kCARTRecordBytes = 2048;
constexpr int kCARTPostTimers = 8;

struct TAG_CART_TIMER {
  std::array<std::uint8_t, 4> Usage{};
  std::uint32_t Value = 0;
  bool operator==(const TAG_CART_TIMER &) const = default;
};

struct TAG_CART {
  std::array<std::uint8_t, 4> Version{};
  std::array<std::uint8_t, 64> Title{};
  std::array<std::uint8_t, 64> Artist{};
  std::array<std::uint8_t, 64> CutID{};
  std::array<std::uint8_t, 64> ClientID{};
  std::array<std::uint8_t, 64> Category{};
  std::array<std::uint8_t, 64> Classification{};
  std::array<std::uint8_t, 64> OutCue{};
  std::array<std::uint8_t, 10> StartDate{};
  std::array<std::uint8_t, 8> StartTime{};
  std::array<std::uint8_t, 10> EndDate{};
  std::array<std::uint8_t, 8> EndTime{};
  std::array<std::uint8_t, 64> ProducerAppID{};
  std::array<std::uint8_t, 64> ProducerAppVersion{};
  std::array<std::uint8_t, 64> UserDef{};
  std::uint32_t dwLevelReference = 0;
  std::array<TAG_CART_TIMER, kCARTPostTimers> PostTimer{};
  std::array<std::uint8_t, 276> Reserved{};
  std::array<std::uint8_t, 1024> URL{};

  bool operator==(const TAG_CART &) const = default;
  // Reads the 2048 bytes; false (In unmoved) when fewer remain.
  bool Read(ByteReader &In);
  void AppendTo(TBytes &Out) const;
};

// A post timer as text and number: the usage (four characters, e.g. "MRK ", "SEC1") and the
// sample offset.
struct TCART_TIMER {
  std::string Usage;
  std::uint32_t Value = 0;
  bool operator==(const TCART_TIMER &) const = default;
};

class TCART {
public:
  TAG_CART CARTChunk;
  TBytes TagTextBytes;
  bool Loaded = false;

  void Clear();
  void Assign(const TCART &Source) { *this = Source; }
  bool SameContent(const TCART &Other) const { return CARTChunk == Other.CARTChunk && TagTextBytes == Other.TagTextBytes; }
  // The tag text is not empty or a byte of the record is not zero.
  bool HasContent() const;
  // 2048 + the tag text, + 1 when it does not end with a zero byte, rounded up to even.
  std::int64_t CalculateSize() const;
  // The chunk's data: the record (an empty version written as "0101"), the tag text, a zero
  // byte when it does not end with one, and a zero byte to make the size even.
  TBytes BuildData() const;

  std::string GetVersion() const;
  void SetVersion(std::string_view Text);
  std::string GetTitle() const;
  void SetTitle(std::string_view Text);
  std::string GetArtist() const;
  void SetArtist(std::string_view Text);
  std::string GetCutID() const;
  void SetCutID(std::string_view Text);
  std::string GetClientID() const;
  void SetClientID(std::string_view Text);
  std::string GetCategory() const;
  void SetCategory(std::string_view Text);
  std::string GetClassification() const;
  void SetClassification(std::string_view Text);
  std::string GetOutCue() const;
  void SetOutCue(std::string_view Text);
  std::string GetStartDate() const;
  void SetStartDate(std::string_view Text);
  std::string GetStartTime() const;
  void SetStartTime(std::string_view Text);
  std::string GetEndDate() const;
  void SetEndDate(std::string_view Text);
  std::string GetEndTime() const;
  void SetEndTime(std::string_view Text);
  std::string GetProducerAppID() const;
  void SetProducerAppID(std::string_view Text);
  std::string GetProducerAppVersion() const;
  void SetProducerAppVersion(std::string_view Text);
  std::string GetUserDef() const;
  void SetUserDef(std::string_view Text);
  std::string GetReserved() const;
  void SetReserved(std::string_view Text);
  std::string GetURL() const;
  void SetURL(std::string_view Text);
  std::uint32_t GetLevelReference() const { return CARTChunk.dwLevelReference; }
  void SetLevelReference(std::uint32_t Value) { CARTChunk.dwLevelReference = Value; }
  // The tag text without its trailing zero bytes, decoded.
  std::string GetTagText() const;
  void SetTagText(std::string_view Text);

  // Timer Index (0 to 7); false for another index.
  bool GetPostTimer(int Index, TCART_TIMER &Timer) const;
  bool SetPostTimer(int Index, const TCART_TIMER &Timer);
  bool ClearPostTimer(int Index);
  // The eight timers as the 64 bytes of the record, and back (fewer bytes leave the rest zero).
  TBytes GetPostTimers() const;
  void SetPostTimers(std::span<const std::uint8_t> Bytes);
};
