#pragma once
// TCoverBox: the cover picture box of the main window as data: the picture it holds (the exact
// bytes that a save writes into the selected records, with their MIME type) and a decoded copy
// for the screen, or nothing, in which case the window shows the music-note placeholder.
//
// Invariants:
// - The box is empty, or Data() is a JPEG or PNG picture that decoded and Image() is not null.
//   A JPEG or PNG file is kept byte for byte (never re-encoded); any other image format Qt can
//   read (BMP, GIF, ...) is converted once to PNG and stored as "image/png".
// - Nothing larger than kMaxCoverFileSize bytes is read and nothing beyond kMaxCoverPixels
//   pixels is decoded: such a file is refused with a message, such record data is shown as no
//   picture. Image() is at most kMaxDisplaySide pixels on its longer side.
// - A failed load leaves the box as it was.
//
// Decoding and encoding use Qt's image readers (QImage needs Qt Gui but no GUI application).

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <string>

#include "app/service/audio_tag.h"

// The picture formats recognised from the data itself.
enum class TCoverFormat : std::uint8_t { Unknown, JPEG, PNG, BMP, GIF };

// The format by the data's signature (JPEG FF D8 FF, PNG's eight-byte signature, BMP "BM",
// GIF "GIF8"); Unknown for anything else.
TCoverFormat SniffCoverFormat(const std::uint8_t *Data, std::size_t Size);
inline TCoverFormat SniffCoverFormat(const TBytes &Data) { return SniffCoverFormat(Data.data(), Data.size()); }
// "image/jpeg", "image/png", "image/bmp", "image/gif"; empty for Unknown.
const char *CoverFormatMime(TCoverFormat Format);

// Decodes picture bytes for the screen, the format recognised from the data. A picture larger
// than MaxSide on its longer side is decoded scaled down to it (keeping its proportions). False
// (and Image null) for data that does not decode or has more than TCoverBox::kMaxCoverPixels.
bool DecodeCoverForDisplay(const TBytes &Data, int MaxSide, QImage &Image);

class TCoverBox {
public:
  // Limits on a picture file the user loads and on picture data that is decoded.
  static constexpr std::int64_t kMaxCoverFileSize = 16 * 1024 * 1024;
  static constexpr std::int64_t kMaxCoverPixels = 25'000'000;
  static constexpr int kMaxDisplaySide = 1024;

  bool IsEmpty() const { return FData.empty(); }
  const TBytes &Data() const { return FData; }
  const std::string &Mime() const { return FMime; }
  // The decoded picture for the screen; null when the box is empty.
  const QImage &Image() const { return FImage; }

  // Shows a record's picture: the box takes it when it decodes and is emptied otherwise
  // (silently). The record's CoverMime plays no part in the display; it is kept with the bytes
  // (or, when empty, taken from the data) so that the box gives back what it was given.
  void ShowCover(const TAudioTag &Tag);
  // Empties the box.
  void Clear();
  // Loads a picture file chosen by the user. False with a message for the user, the box then
  // unchanged, when the file cannot be read or decoded, is larger than kMaxCoverFileSize or has
  // more than kMaxCoverPixels pixels.
  bool LoadFromFile(const QString &FileName, QString &Error);
  // Puts the box's picture into Tag (CoverData and CoverMime), or empties both when the box is
  // empty.
  void CoverFromImage(TAudioTag &Tag) const;

private:
  TBytes FData;
  std::string FMime;
  QImage FImage;
};

// The image the window puts into its picture box of size BoxSize (in device-independent
// pixels): the box's picture, or the placeholder when the box is empty, scaled to fit while
// keeping its proportions, at the given device pixel ratio.
// A null Placeholder is replaced by a drawn music note. A null result only for an empty size.
QImage CoverBoxImage(const TCoverBox &Box, const QSize &BoxSize, const QImage &Placeholder = QImage(),
                     qreal DevicePixelRatio = 1.0);
// A music note drawn on a transparent background, for a window without its own placeholder.
QImage DrawMusicNotePlaceholder(const QSize &Size);
