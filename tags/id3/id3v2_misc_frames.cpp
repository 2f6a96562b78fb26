#include "tags/id3/id3v2_frame.h"

#include <algorithm>

#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/streams/byte_writer.h"
#include "tags/text/text.h"

std::int64_t TID3v2Frames::GetPlayCount(int FrameIndex) const
{
  if (!Frame(FrameIndex)) return -1;
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f) return 0;
  std::uint32_t v = 0;
  for (const std::uint8_t b : f->Data()) v = (v << 8) | b;
  return v;
}

std::int64_t TID3v2Frames::GetPlayCount(std::string_view FrameID)
{
  const int i = FrameExists(FrameID);
  if (i < 0) {
    AddFrame(FrameID);
    return 0;
  }
  return GetPlayCount(i);
}

bool TID3v2Frames::SetPlayCount(int FrameIndex, std::uint32_t PlayCount)
{
  TBytes out;
  ByteWriter(out).U32BE(PlayCount);
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::SetPlayCount(std::string_view FrameID, std::uint32_t PlayCount)
{
  return SetPlayCount(FrameForWriting(FrameID), PlayCount);
}

bool TID3v2Frames::GetPopularimeter(int FrameIndex, std::string &Email, std::uint8_t &Rating,
                                    std::uint64_t &PlayCounter) const
{
  Email.clear();
  Rating = 0;
  PlayCounter = 0;
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  Email = ReadID3v2Latin1(in);
  if (!in.ReadU8(Rating)) return false;
  std::uint8_t b = 0;
  while (in.ReadU8(b)) PlayCounter = (PlayCounter << 8) | b;
  return true;
}

bool TID3v2Frames::SetPopularimeter(int FrameIndex, const std::string &Email, std::uint8_t Rating,
                                    std::uint32_t PlayCounter)
{
  TBytes out;
  AppendID3v2Latin1(out, Email);
  out.push_back(Rating);
  if (PlayCounter != 0) ByteWriter(out).U32BE(PlayCounter);
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::SetPopularimeterRating(int FrameIndex, std::uint8_t Rating)
{
  const TID3v2Frame *f = Frame(FrameIndex);
  if (!f || f->Encrypted || f->Compressed) return false;
  TBytes data = f->Data();
  const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
  if (end == data.end() || end + 1 == data.end()) return false;
  *(end + 1) = Rating;
  return ReplaceData(FrameIndex, std::move(data));
}

int TID3v2Frames::FindPopularimeter(const std::string &Email) const
{
  return FindFrame("POPM", [&](int i) {
    std::string e;
    std::uint8_t r = 0;
    std::uint64_t c = 0;
    GetPopularimeter(i, e, r, c);
    return e == Email;
  });
}

int TID3v2Frames::SetPopularimeterByEmail(const std::string &Email, std::uint8_t Rating, std::uint32_t PlayCounter)
{
  int i = FindPopularimeter(Email);
  if (i < 0) i = AddFrame("POPM");
  return SetPopularimeter(i, Email, Rating, PlayCounter) ? i : -1;
}

bool TID3v2Frames::GetUFID(int FrameIndex, std::string &OwnerIdentifier, std::string &Identifier) const
{
  OwnerIdentifier.clear();
  Identifier.clear();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  OwnerIdentifier = ReadID3v2Latin1(in);
  std::string raw = in.RestAsString();
  std::erase(raw, '\0');
  Identifier = Latin1ToUtf8(raw);
  return true;
}

bool TID3v2Frames::SetUFID(int FrameIndex, const std::string &OwnerIdentifier, const std::string &Identifier)
{
  TBytes out;
  AppendID3v2Latin1(out, OwnerIdentifier);
  AppendID3v2Latin1(out, Identifier, false);
  return ReplaceData(FrameIndex, std::move(out));
}

int TID3v2Frames::FindUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, std::string &Identifier) const
{
  std::string owner;
  const int found = FindFrame("UFID", [&](int i) {
    GetUFID(i, owner, Identifier);
    return owner == OwnerIdentifier;
  });
  if (found < 0) Identifier.clear();
  return found;
}

int TID3v2Frames::SetUFIDByOwnerIdentifier(const std::string &OwnerIdentifier, const std::string &Identifier)
{
  std::string old;
  int i = FindUFIDByOwnerIdentifier(OwnerIdentifier, old);
  if (i < 0) i = AddFrame("UFID");
  return SetUFID(i, OwnerIdentifier, Identifier) ? i : -1;
}

bool TID3v2Frames::GetGEOB(int FrameIndex, std::string &MIMEType, std::string &FileName, std::string &Description,
                           TBytes &Object) const
{
  MIMEType.clear();
  FileName.clear();
  Description.clear();
  Object.clear();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  in.ReadU8(enc);
  MIMEType = ReadID3v2Latin1(in);
  bool be = false, terminated = false;
  FileName = ReadID3v2String(in, enc, be, terminated);
  Description = ReadID3v2String(in, enc, be, terminated);
  const auto rest = in.Rest();
  Object.assign(rest.begin(), rest.end());
  return true;
}

bool TID3v2Frames::SetGEOB(int FrameIndex, const std::string &MIMEType, const std::string &FileName,
                           const std::string &Description, const TBytes &Object, TID3v2TextEncoding Encoding)
{
  const std::uint8_t enc = ID3v2EncodingByte(Encoding);
  TBytes out{enc};
  AppendID3v2Latin1(out, MIMEType);
  AppendID3v2String(out, FileName, enc);
  AppendID3v2String(out, Description, enc);
  out.insert(out.end(), Object.begin(), Object.end());
  return ReplaceData(FrameIndex, std::move(out));
}

TBytes TID3v2Frames::GetBytes(int FrameIndex) const
{
  const TID3v2Frame *f = Frame(FrameIndex);
  return f ? f->Data() : TBytes();
}
