#include "tags/id3/id3v2_frame.h"

#include "tags/id3/id3v2_frame_content.h"
#include "tags/id3/id3v2_tag.h"
#include "tags/id3/skip_id3v2.h"
#include "tags/streams/file_io.h"

bool TID3v2Frames::GetCoverPictureInfo(int FrameIndex, TBytes &Picture, std::string &MIMEType,
                                       std::string &Description, std::uint8_t &CoverType) const
{
  Picture.clear();
  MIMEType.clear();
  Description.clear();
  CoverType = 0;
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f || f->Data().empty()) return false;
  ByteReader in(f->Data());
  std::uint8_t enc = 0;
  if (!in.ReadU8(enc)) return false;
  MIMEType = ReadID3v2Latin1(in);
  if (!in.ReadU8(CoverType)) return false;
  bool be = false, terminated = false;
  Description = ReadID3v2String(in, enc, be, terminated);
  const auto rest = in.Rest();
  Picture.assign(rest.begin(), rest.end());
  return true;
}

bool TID3v2Frames::GetCoverPictureLocation(int FrameIndex, std::string &MIMEType, std::string &Description,
                                           std::uint8_t &CoverType, TBytes &PictureHead, TFileRange &PictureRange) const
{
  MIMEType.clear();
  Description.clear();
  CoverType = 0;
  PictureHead.clear();
  PictureRange = TFileRange();
  const TID3v2Frame *f = ContentFrame(FrameIndex);
  if (!f) return false;
  if (f->IsDeferred()) {
    ByteReader in(f->ResidentData());
    std::uint8_t enc = 0;
    bool be = false, terminated = false;
    if (in.ReadU8(enc)) {
      MIMEType = ReadID3v2Latin1(in);
      if (in.ReadU8(CoverType)) Description = ReadID3v2String(in, enc, be, terminated);
    }
    // The fields end inside the bytes held: the picture is the rest of the frame's data.
    if (terminated) {
      const auto head = in.Rest();
      const auto fieldBytes = static_cast<std::int64_t>(in.Position());
      PictureHead.assign(head.begin(), head.end());
      PictureRange = f->Deferred;
      PictureRange.Offset += fieldBytes;
      PictureRange.Size -= fieldBytes;
      return true;
    }
  }
  if (!GetCoverPictureInfo(FrameIndex, PictureHead, MIMEType, Description, CoverType)) return false;
  return true;
}

bool TID3v2Frames::GetCoverPictureStream(int FrameIndex, TStream &PictureStream, std::string &MIMEType,
                                         std::string &Description, std::uint8_t &CoverType) const
{
  TBytes picture;
  if (!GetCoverPictureInfo(FrameIndex, picture, MIMEType, Description, CoverType)) return false;
  if (!PictureStream.WriteBytes(picture)) return false;
  PictureStream.Seek(0, TSeekOrigin::soBeginning);
  return true;
}

bool TID3v2Frames::SetCoverPictureFromBytes(int FrameIndex, const std::string &Description, const TBytes &Picture,
                                            const std::string &MIMEType, std::uint8_t CoverType)
{
  const std::uint8_t enc = ID3v2EncodingByte(Root ? Root->APICTextEncodingToWrite : teUnicode);
  TBytes out{enc};
  AppendID3v2Latin1(out, MIMEType);
  out.push_back(CoverType);
  AppendID3v2String(out, Description, enc);
  out.insert(out.end(), Picture.begin(), Picture.end());
  return ReplaceData(FrameIndex, std::move(out));
}

bool TID3v2Frames::SetCoverPictureFromStream(int FrameIndex, const std::string &Description, TStream &PictureStream,
                                             const std::string &MIMEType, std::uint8_t CoverType)
{
  const std::int64_t size = PictureStream.GetSize();
  if (size < 0 || size > kID3v2MaxBodySize) return false;
  TBytes picture;
  if (!PictureStream.ReadAt(0, size, picture)) return false;
  return SetCoverPictureFromBytes(FrameIndex, Description, picture, MIMEType, CoverType);
}

bool TID3v2Frames::SetCoverPictureFromFile(int FrameIndex, const std::string &Description,
                                           const std::string &FileName, const std::string &MIMEType,
                                           std::uint8_t CoverType)
{
  const std::int64_t size = FileSizeOf(FileName);
  if (size < 0 || size > kID3v2MaxBodySize) return false;
  TBytes picture;
  if (!ReadWholeFile(FileName, picture)) return false;
  return SetCoverPictureFromBytes(FrameIndex, Description, picture, MIMEType, CoverType);
}

int TID3v2Frames::GetFrameIndexOfCoverArtIndex(int CoverArtIndex) const
{
  int n = 0;
  for (int i = 0; i < FrameCount(); ++i)
    if (Frames[static_cast<std::size_t>(i)]->IsID("APIC") && n++ == CoverArtIndex) return i;
  return -1;
}
