#include "app/cover_art.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cstring>

#include "app/localization.h"

namespace {

constexpr std::uint8_t kJpegSignature[] = {0xFF, 0xD8, 0xFF};
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

template <std::size_t N>
bool StartsWith(const std::uint8_t *Data, std::size_t Size, const std::uint8_t (&Signature)[N])
{
  return Size >= N && std::memcmp(Data, Signature, N) == 0;
}

QString NewLine() { return QStringLiteral("\r\n"); }

QString CannotLoadMessage(const QString &FileName, const QString &Reason)
{
  return Translate("Cannot load the picture file:") + NewLine() + FileName + NewLine() + Reason;
}

bool TooManyPixels(const QSize &Size)
{
  return static_cast<std::int64_t>(Size.width()) * Size.height() > TCoverBox::kMaxCoverPixels;
}

// A reader over bytes that outlive it; the format is taken from the content.
struct TBytesReader {
  explicit TBytesReader(const TBytes &Data)
      : Bytes(QByteArray::fromRawData(reinterpret_cast<const char *>(Data.data()),
                                      static_cast<qsizetype>(Data.size()))),
        Buffer(&Bytes)
  {
    Buffer.open(QIODevice::ReadOnly);
    Reader.setDevice(&Buffer);
    Reader.setDecideFormatFromContent(true);
    Reader.setAutoTransform(true);
  }
  QByteArray Bytes;
  QBuffer Buffer;
  QImageReader Reader;
};

// Decodes with the reader, scaled down to MaxSide when larger (MaxSide <= 0: full size).
// The header's size is checked before decoding so that a hostile size never allocates.
enum class TDecodeResult { Ok, TooLarge, Failed };

TDecodeResult DecodeWith(QImageReader &Reader, int MaxSide, QImage &Image, QSize &FullSize)
{
  Image = QImage();
  FullSize = Reader.size();
  if (FullSize.isValid() && TooManyPixels(FullSize)) return TDecodeResult::TooLarge;
  if (FullSize.isValid() && MaxSide > 0 && std::max(FullSize.width(), FullSize.height()) > MaxSide)
    Reader.setScaledSize(FullSize.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio));
  if (!Reader.read(&Image) || Image.isNull()) {
    Image = QImage();
    return TDecodeResult::Failed;
  }
  if (!FullSize.isValid()) {
    // The reader could not tell the size beforehand: judge the decoded picture instead.
    FullSize = Image.size();
    if (TooManyPixels(FullSize)) {
      Image = QImage();
      return TDecodeResult::TooLarge;
    }
    if (MaxSide > 0 && std::max(Image.width(), Image.height()) > MaxSide)
      Image = Image.scaled(MaxSide, MaxSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return TDecodeResult::Ok;
}

QImage FitInto(const QImage &Image, const QSize &PixelSize)
{
  if (Image.isNull()) return QImage();
  return Image.scaled(PixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

TCoverFormat SniffCoverFormat(const std::uint8_t *Data, std::size_t Size)
{
  if (!Data) return TCoverFormat::Unknown;
  if (StartsWith(Data, Size, kJpegSignature)) return TCoverFormat::JPEG;
  if (StartsWith(Data, Size, kPngSignature)) return TCoverFormat::PNG;
  if (Size >= 4 && std::memcmp(Data, "GIF8", 4) == 0) return TCoverFormat::GIF;
  // "BM" alone is a weak signature; a bitmap file header is 14 bytes before the image header.
  if (Size >= 18 && Data[0] == 'B' && Data[1] == 'M') return TCoverFormat::BMP;
  return TCoverFormat::Unknown;
}

const char *CoverFormatMime(TCoverFormat Format)
{
  switch (Format) {
  case TCoverFormat::JPEG: return "image/jpeg";
  case TCoverFormat::PNG: return "image/png";
  case TCoverFormat::BMP: return "image/bmp";
  case TCoverFormat::GIF: return "image/gif";
  case TCoverFormat::Unknown: break;
  }
  return "";
}

bool DecodeCoverForDisplay(const TBytes &Data, int MaxSide, QImage &Image)
{
  Image = QImage();
  if (Data.empty()) return false;
  TBytesReader reader(Data);
  QSize fullSize;
  return DecodeWith(reader.Reader, MaxSide, Image, fullSize) == TDecodeResult::Ok;
}

void TCoverBox::ShowCover(const TAudioTag &Tag)
{
  Clear();
  QImage image;
  if (!DecodeCoverForDisplay(Tag.CoverData, kMaxDisplaySide, image)) return;
  FData = Tag.CoverData;
  FMime = Tag.CoverMime.empty() ? CoverFormatMime(SniffCoverFormat(FData)) : Tag.CoverMime;
  FImage = std::move(image);
}

void TCoverBox::Clear()
{
  TBytes().swap(FData);
  FMime.clear();
  FImage = QImage();
}

bool TCoverBox::LoadFromFile(const QString &FileName, QString &Error)
{
  Error.clear();
  const QFileInfo info(FileName);
  const QString shownName = info.absoluteFilePath();
  const QString tooLarge = TranslateFormat("The picture file %s is too large (more than %d MB).", shownName,
                                           kMaxCoverFileSize / (1024 * 1024));
  if (info.exists() && !info.isFile()) {
    // A folder, FIFO or device: reading it could block or never end.
    Error = CannotLoadMessage(shownName, Translate("Not a regular file."));
    return false;
  }
  QFile file(FileName);
  if (!file.open(QIODevice::ReadOnly)) {
    Error = CannotLoadMessage(shownName, file.errorString());
    return false;
  }
  if (file.size() > kMaxCoverFileSize) {
    Error = tooLarge;
    return false;
  }
  const QByteArray raw = file.read(kMaxCoverFileSize + 1);
  if (raw.size() > kMaxCoverFileSize) {
    Error = tooLarge;
    return false;
  }
  // A read that broke off part-way is refused too: a cut JPEG still decodes, half grey.
  if (file.error() != QFileDevice::NoError || raw.isEmpty()) {
    Error = CannotLoadMessage(shownName, file.error() != QFileDevice::NoError ? file.errorString()
                                                                              : Translate("The file is empty."));
    return false;
  }
  TBytes bytes(reinterpret_cast<const std::uint8_t *>(raw.constData()),
               reinterpret_cast<const std::uint8_t *>(raw.constData()) + raw.size());

  const TCoverFormat format = SniffCoverFormat(bytes);
  const bool keepBytes = format == TCoverFormat::JPEG || format == TCoverFormat::PNG;
  TBytesReader reader(bytes);
  QImage decoded;
  QSize fullSize;
  // JPEG and PNG are stored as they are, so only the screen copy is decoded; anything else
  // is decoded whole to be written as PNG.
  const TDecodeResult result = DecodeWith(reader.Reader, keepBytes ? kMaxDisplaySide : 0, decoded, fullSize);
  if (result == TDecodeResult::TooLarge) {
    Error = TranslateFormat("The picture %s is too large: %d x %d pixels (at most %d million pixels).", shownName,
                            fullSize.width(), fullSize.height(), kMaxCoverPixels / 1'000'000);
    return false;
  }
  if (result == TDecodeResult::Failed) {
    Error = CannotLoadMessage(shownName, reader.Reader.errorString());
    return false;
  }

  if (keepBytes) {
    FData = std::move(bytes);
    FMime = CoverFormatMime(format);
    FImage = std::move(decoded);
    return true;
  }

  QByteArray png;
  QBuffer pngBuffer(&png);
  pngBuffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&pngBuffer, "png");
  if (!writer.write(decoded)) {
    Error = CannotLoadMessage(shownName, writer.errorString());
    return false;
  }
  FData.assign(reinterpret_cast<const std::uint8_t *>(png.constData()),
               reinterpret_cast<const std::uint8_t *>(png.constData()) + png.size());
  FMime = CoverFormatMime(TCoverFormat::PNG);
  if (std::max(decoded.width(), decoded.height()) > kMaxDisplaySide)
    decoded = decoded.scaled(kMaxDisplaySide, kMaxDisplaySide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  FImage = std::move(decoded);
  return true;
}

void TCoverBox::CoverFromImage(TAudioTag &Tag) const
{
  if (IsEmpty()) {
    Tag.CoverMime.clear();
    TBytes().swap(Tag.CoverData);
    return;
  }
  Tag.CoverData = FData;
  Tag.CoverMime = FMime;
}

QImage DrawMusicNotePlaceholder(const QSize &Size)
{
  if (Size.isEmpty()) return QImage();
  QImage image(Size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  // A beamed pair of eighth notes in a square centred in the image.
  const qreal side = std::min(Size.width(), Size.height()) * 0.7;
  const qreal left = (Size.width() - side) / 2;
  const qreal top = (Size.height() - side) / 2;
  const auto at = [&](qreal x, qreal y) { return QPointF(left + x * side, top + y * side); };

  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x64, 0x95, 0xED));
  QPainterPath path;
  const qreal headW = 0.26 * side;
  const qreal headH = 0.18 * side;
  const qreal stem = 0.06 * side;
  for (const qreal x : {0.08, 0.66}) {
    const QPointF centre = at(x + 0.13, 0.82);
    QPainterPath head;
    head.addEllipse(QPointF(0, 0), headW / 2, headH / 2);
    QTransform turn;
    turn.translate(centre.x(), centre.y());
    turn.rotate(-20);
    path.addPath(turn.map(head));
    const QPointF stemBottom = at(x + 0.25, 0.80);
    path.addRect(QRectF(stemBottom.x() - stem, top + 0.12 * side, stem, stemBottom.y() - top - 0.12 * side));
  }
  QPainterPath beam;
  beam.moveTo(at(0.33 - 0.06, 0.12));
  beam.lineTo(at(0.91, 0.02));
  beam.lineTo(at(0.91, 0.16));
  beam.lineTo(at(0.33 - 0.06, 0.26));
  beam.closeSubpath();
  path.addPath(beam);
  path.setFillRule(Qt::WindingFill);
  painter.drawPath(path);
  painter.end();
  return image;
}

QImage CoverBoxImage(const TCoverBox &Box, const QSize &BoxSize, const QImage &Placeholder, qreal DevicePixelRatio)
{
  if (BoxSize.isEmpty()) return QImage();
  const qreal ratio = DevicePixelRatio > 0 ? DevicePixelRatio : 1.0;
  const QSize pixels(std::max(1, qRound(BoxSize.width() * ratio)), std::max(1, qRound(BoxSize.height() * ratio)));
  QImage result;
  if (!Box.IsEmpty())
    result = FitInto(Box.Image(), pixels);
  else if (!Placeholder.isNull())
    result = FitInto(Placeholder, pixels);
  else
    result = DrawMusicNotePlaceholder(pixels);
  result.setDevicePixelRatio(ratio);
  return result;
}
