#include "tags/picture/picture_format.h"

#include <gtest/gtest.h>

#include <cctype>

#include "tests/support/container_bytes.h"
#include "tests/support/test_support.h"

namespace {

TEST(PictureFormat, Sniffing)
{
  struct Case { Bytes8 bytes; TTagPictureFormat want; };
  const Case cases[] = {
    {Bytes().U8(0xFF).U8(0xD8).U8(0xFF), tpfJPEG}, {Bytes().U8(0x89).Str("PNG"), tpfPNG},
    {Bytes().Str("GIF8"), tpfGIF},                 {Bytes().Str("BM").U8(0), tpfBMP},
    {Bytes().Str("II*").U8(0), tpfTIFF},           {Bytes().Str("MM").U8(0).Str("*"), tpfTIFF},
    {Bytes().U8(0xFF).U8(0xD8), tpfUnknown},       {Bytes().Str("abcd"), tpfUnknown},
  };
  for (const Case &c : cases) EXPECT_EQ(PicturePointerType(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size())), c.want);
  EXPECT_EQ(PicturePointerType(nullptr, 10), tpfUnknown);
  EXPECT_EQ(PictureStreamType(nullptr), tpfUnknown);
  EXPECT_EQ(MIMETypeToPictureFormat("IMAGE/JPG"), tpfJPEG);
  EXPECT_EQ(MIMETypeToPictureFormat("image/webp"), tpfUnknown);
}

TEST(PictureFormat, MIMETypesRoundTrip)
{
  for (TTagPictureFormat f : {tpfJPEG, tpfPNG, tpfBMP, tpfGIF}) EXPECT_EQ(MIMETypeToPictureFormat(PictureFormatMIMEType(f)), f);
  EXPECT_EQ(PictureFormatMIMEType(tpfTIFF), "image/tiff");
  EXPECT_EQ(PictureFormatMIMEType(tpfUnknown), "");
  const Bytes8 png = Bytes().U8(0x89).Str("PNG");
  EXPECT_EQ(SniffPictureMIMEType(png.data(), png.size()), "image/png");
  EXPECT_EQ(SniffPictureMIMEType(nullptr, 0), "");
}

} // namespace
