#include "app/cover_art.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <array>
#include <filesystem>

#include "app/editing_model.h"
#include "app/service/tag_service.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

TBytes Fixture(const std::string &Name) { return ReadFileBytes(FixturePath("images/" + Name)); }

QImage DecodeWhole(const TBytes &Data)
{
  QByteArray bytes(reinterpret_cast<const char *>(Data.data()), static_cast<qsizetype>(Data.size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  return QImageReader(&buffer).read();
}

Bytes8 FirstBytes(const TBytes &Data, std::size_t Count)
{
  return Bytes8(Data.begin(), Data.begin() + static_cast<std::ptrdiff_t>(std::min(Count, Data.size())));
}

bool StartsWithPng(const TBytes &Data) { return SniffCoverFormat(Data) == TCoverFormat::PNG; }

// A PNG whose header claims Width x Height pixels (with correct checksums), without pixels.
Bytes8 PngHeaderOnly(std::uint32_t Width, std::uint32_t Height)
{
  Bytes chunk;
  chunk.Str("IHDR").U32BE(Width).U32BE(Height).U8(8).U8(2).U8(0).U8(0).U8(0);
  const auto crc = static_cast<std::uint32_t>(crc32(0, chunk.v.data(), static_cast<uInt>(chunk.size())));
  Bytes png;
  png.U8(0x89).Str("PNG").U8(0x0D).U8(0x0A).U8(0x1A).U8(0x0A).U32BE(13).Append(chunk).U32BE(crc);
  // An empty data chunk: the reader looks for the first one before it reports the size.
  png.U32BE(0).Str("IDAT").U32BE(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>("IDAT"), 4)));
  return png.v;
}

// A 24-bit BMP file header and info header claiming Width x Height pixels, without pixels.
Bytes8 BmpHeaderOnly(std::int32_t Width, std::int32_t Height)
{
  Bytes bmp;
  bmp.Str("BM").U32LE(54).U32LE(0).U32LE(54);
  bmp.U32LE(40).U32LE(static_cast<std::uint32_t>(Width)).U32LE(static_cast<std::uint32_t>(Height));
  bmp.U16LE(1).U16LE(24).U32LE(0).U32LE(0).U32LE(2835).U32LE(2835).U32LE(0).U32LE(0);
  return bmp.v;
}

TEST(CoverFormat, RecognisedFromTheData)
{
  EXPECT_EQ(SniffCoverFormat(Fixture("cover.jpg")), TCoverFormat::JPEG);
  EXPECT_EQ(SniffCoverFormat(Fixture("cover.png")), TCoverFormat::PNG);
  EXPECT_EQ(SniffCoverFormat(Fixture("cover.bmp")), TCoverFormat::BMP);
  EXPECT_EQ(SniffCoverFormat(Bytes().Str("GIF89a").Zeros(10)), TCoverFormat::GIF);
  EXPECT_EQ(SniffCoverFormat(Bytes().Str("BM")), TCoverFormat::Unknown);
  EXPECT_EQ(SniffCoverFormat(TBytes()), TCoverFormat::Unknown);
  EXPECT_STREQ(CoverFormatMime(TCoverFormat::PNG), "image/png");
  EXPECT_STREQ(CoverFormatMime(TCoverFormat::JPEG), "image/jpeg");
}

struct LoadCase {
  const char *Fixture;
  const char *SavedAs;  // the name the user's file has (its extension says nothing)
  const char *Mime;
  bool KeepsBytes;
};

class CoverLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(CoverLoad, JpegAndPngKeepTheirBytesOthersBecomePng)
{
  const LoadCase &c = GetParam();
  TempDir dir;
  const std::string file = dir.CopyFixture(std::string("images/") + c.Fixture, c.SavedAs);
  const TBytes original = ReadFileBytes(file);

  TCoverBox box;
  QString error;
  ASSERT_TRUE(box.LoadFromFile(QString::fromStdString(file), error)) << error.toStdString();
  EXPECT_TRUE(error.isEmpty());
  EXPECT_EQ(box.Mime(), c.Mime);
  ASSERT_FALSE(box.Image().isNull());
  const QImage source = DecodeWhole(original);
  EXPECT_EQ(box.Image().size(), source.size());

  TAudioTag tag;
  box.CoverFromImage(tag);
  EXPECT_EQ(tag.CoverMime, c.Mime);
  if (c.KeepsBytes) {
    EXPECT_EQ(tag.CoverData, original);
  } else {
    ASSERT_TRUE(StartsWithPng(tag.CoverData));
    // Lossless: the stored PNG shows exactly the bitmap's pixels.
    EXPECT_EQ(DecodeWhole(tag.CoverData).convertToFormat(QImage::Format_RGB32),
              source.convertToFormat(QImage::Format_RGB32));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CoverLoad, ::testing::Values(
  LoadCase{"cover.jpg", "front.jpg", "image/jpeg", true},
  LoadCase{"cover.png", "front.png", "image/png", true},
  LoadCase{"cover.png", "named_as_jpeg.jpg", "image/png", true},
  LoadCase{"cover.bmp", "front.bmp", "image/png", false}),
  [](const auto &p) { return std::string(p.param.SavedAs).substr(0, std::string(p.param.SavedAs).find('.')) + "_" +
                              std::to_string(p.index); });

// A box holding the JPEG, to show that a refused load leaves it alone.
TCoverBox BoxWithJpeg()
{
  TCoverBox box;
  TAudioTag tag;
  tag.CoverData = Fixture("cover.jpg");
  tag.CoverMime = "image/jpeg";
  box.ShowCover(tag);
  return box;
}

struct RefusedCase {
  const char *Name;
  Bytes8 Content;
  const char *MessagePart;
};

class CoverRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(CoverRefused, WithAMessageAndTheBoxUnchanged)
{
  const RefusedCase &c = GetParam();
  TempDir dir;
  const std::string file = dir.Write(std::string(c.Name), c.Content);
  TCoverBox box = BoxWithJpeg();
  ASSERT_FALSE(box.IsEmpty());
  QString error;
  EXPECT_FALSE(box.LoadFromFile(QString::fromStdString(file), error));
  EXPECT_TRUE(error.contains(QString::fromUtf8(c.MessagePart))) << error.toStdString();
  EXPECT_TRUE(error.contains(QString::fromStdString(file))) << error.toStdString();
  EXPECT_EQ(box.Data(), Fixture("cover.jpg"));
  EXPECT_EQ(box.Mime(), "image/jpeg");
}

INSTANTIATE_TEST_SUITE_P(Table, CoverRefused, ::testing::Values(
  RefusedCase{"text.png", Bytes().Str("not a picture at all").v, "Cannot load the picture file:"},
  RefusedCase{"empty.jpg", Bytes8{}, "Cannot load the picture file:"},
  RefusedCase{"truncated.png", FirstBytes(Fixture("cover.png"), 40), "Cannot load the picture file:"},
  RefusedCase{"huge.png", PngHeaderOnly(20000, 20000), "20000 x 20000 pixels"},
  RefusedCase{"huge_bmp.bmp", BmpHeaderOnly(6000, 6000), "6000 x 6000 pixels"},
  RefusedCase{"absurd_bmp.bmp", BmpHeaderOnly(30000, 30000), ""},
  RefusedCase{"hostile.png", PngHeaderOnly(0x7FFFFFFF, 0x7FFFFFFF), ""}),
  [](const auto &p) { return std::string(p.param.Name).substr(0, std::string(p.param.Name).find('.')); });

TEST(CoverLoadLimits, AFileBeyondTheSizeLimitIsNotRead)
{
  TempDir dir;
  const std::string file = dir.Write("big.png", Bytes8(Fixture("cover.png")));
  // Sparse: the size is what counts, not what is on the disk.
  ASSERT_TRUE(QFile::resize(QString::fromStdString(file), TCoverBox::kMaxCoverFileSize + 1));
  TCoverBox box;
  QString error;
  EXPECT_FALSE(box.LoadFromFile(QString::fromStdString(file), error));
  EXPECT_TRUE(error.contains("is too large (more than 16 MB)")) << error.toStdString();
  EXPECT_TRUE(box.IsEmpty());
}

TEST(CoverLoadLimits, NeitherAFifoNorAFolderNorAMissingFileIsRead)
{
  TempDir dir;
  const std::string fifo = dir.Path() + "/pipe.jpg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string &path : {fifo, dir.Path(), dir.Path() + "/missing.jpg"}) {
    TCoverBox box;
    QString error;
    EXPECT_FALSE(box.LoadFromFile(QString::fromStdString(path), error)) << path;
    EXPECT_TRUE(error.startsWith("Cannot load the picture file:")) << error.toStdString();
    EXPECT_TRUE(box.IsEmpty());
  }
}

TEST(CoverShow, DecodableDataIsShownAndGivenBackUnchanged)
{
  TAudioTag tag;
  tag.CoverData = Fixture("cover.png");
  tag.CoverMime = "image/png";
  TCoverBox box;
  box.ShowCover(tag);
  ASSERT_FALSE(box.IsEmpty());
  EXPECT_FALSE(box.Image().isNull());
  TAudioTag out;
  box.CoverFromImage(out);
  EXPECT_EQ(out.CoverData, tag.CoverData);
  EXPECT_EQ(out.CoverMime, "image/png");

  // The MIME type plays no part in the display; a missing one is taken from the data.
  tag.CoverMime.clear();
  tag.CoverData = Fixture("cover.jpg");
  box.ShowCover(tag);
  EXPECT_FALSE(box.Image().isNull());
  EXPECT_EQ(box.Mime(), "image/jpeg");
}

TEST(CoverShow, UndecodableOrOversizedDataShowsNothingSilently)
{
  for (const Bytes8 &data : {Bytes().Str("garbage").v, PngHeaderOnly(20000, 20000), BmpHeaderOnly(-5, 7), Bytes8{}}) {
    TCoverBox box = BoxWithJpeg();
    TAudioTag tag;
    tag.CoverData = data;
    tag.CoverMime = "image/png";
    box.ShowCover(tag);
    EXPECT_TRUE(box.IsEmpty());
    EXPECT_TRUE(box.Image().isNull());
    TAudioTag out;
    out.CoverData = Fixture("cover.jpg");
    out.CoverMime = "image/jpeg";
    box.CoverFromImage(out);
    EXPECT_TRUE(out.CoverData.empty());
    EXPECT_TRUE(out.CoverMime.empty());
  }
}

TEST(CoverShow, ClearEmptiesTheBox)
{
  TCoverBox box = BoxWithJpeg();
  box.Clear();
  EXPECT_TRUE(box.IsEmpty());
  EXPECT_TRUE(box.Image().isNull());
  EXPECT_TRUE(box.Mime().empty());
}

TEST(CoverDisplay, ThePictureOrThePlaceholderFitsTheBoxKeepingItsProportions)
{
  TCoverBox box;
  const QImage wide = QImage(400, 200, QImage::Format_RGB32);
  QImage placeholder = wide;
  placeholder.fill(Qt::blue);

  QImage shown = CoverBoxImage(box, QSize(100, 100), placeholder);
  EXPECT_EQ(shown.size(), QSize(100, 50));
  EXPECT_EQ(shown.pixelColor(50, 25), QColor(Qt::blue));

  // Without a placeholder of its own the window still gets a drawn note (not just nothing).
  shown = CoverBoxImage(box, QSize(80, 60));
  ASSERT_EQ(shown.size(), QSize(80, 60));
  int opaque = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x) opaque += qAlpha(shown.pixel(x, y)) > 0 ? 1 : 0;
  EXPECT_GT(opaque, 200);

  TAudioTag tag;
  tag.CoverData = Fixture("cover.png");
  box.ShowCover(tag);
  const QSize source = box.Image().size();
  shown = CoverBoxImage(box, QSize(160, 160), placeholder, 2.0);
  EXPECT_EQ(shown.devicePixelRatio(), 2.0);
  EXPECT_EQ(shown.size(), source.scaled(320, 320, Qt::KeepAspectRatio));
  EXPECT_TRUE(CoverBoxImage(box, QSize(0, 10)).isNull());
}

TEST(CoverDisplay, LargePicturesAreDecodedSmallForTheScreen)
{
  QImage big(3000, 1500, QImage::Format_RGB32);
  big.fill(Qt::red);
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(big.save(&buffer, "PNG"));
  const TBytes data(png.begin(), png.end());
  QImage shown;
  ASSERT_TRUE(DecodeCoverForDisplay(data, TCoverBox::kMaxDisplaySide, shown));
  EXPECT_EQ(shown.size(), QSize(1024, 512));
}

// The window's picture box as the editing model sees it, over a TCoverBox.
class TCoverView : public IEditorView {
public:
  std::vector<int> Selected;
  TCoverBox Box;
  void FileListReset() override {}
  void FileListRowsAppended(int, int) override {}
  void FileListRowChanged(int) override {}
  void FileListRowRemoved(int) override {}
  void FileListRowsReordered(const std::vector<int> &) override {}
  std::vector<int> SelectedRows() const override { return Selected; }
  QString FieldText(TEditField Field) const override { return Fields[static_cast<std::size_t>(Field)]; }
  void SetFieldText(TEditField Field, const QString &Text) override { Fields[static_cast<std::size_t>(Field)] = Text; }
  void SetFieldSuggestions(TEditField, const QStringList &) override {}
  void ShowCover(const TAudioTag &Tag) override { Box.ShowCover(Tag); }
  void ClearCover() override { Box.Clear(); }
  bool LoadCoverFromFile(const QString &FileName, QString &Error) override { return Box.LoadFromFile(FileName, Error); }
  void CoverFromImage(TAudioTag &Tag) const override { Box.CoverFromImage(Tag); }
  void SetStatusText(const QString &) override {}
  void SetUndoEnabled(bool) override {}
  void ShowErrorReport(const std::vector<TErrorItem> &) override {}
  std::array<QString, kEditFieldCount> Fields;
};

class TOpenFilePrompts : public IPrompts {
public:
  QString Answer;
  std::vector<QString> Messages;
  bool MessageBox(TMessageKind, const QString &Text) override
  {
    Messages.push_back(Text);
    return true;
  }
  bool InputBox(const QString &, const QString &, QString &) override { return false; }
  bool PickFolder(const QString &, QString &) override { return false; }
  bool OpenFileDialog(const QString &, const QString &, QString &FileName) override
  {
    FileName = Answer;
    return !Answer.isEmpty();
  }
};

class CoverEditing : public ::testing::Test {
protected:
  void SetUp() override
  {
    Files = {Dir.CopyFixture("mp3/id3v24-utf8.mp3", "a.mp3"), Dir.CopyFixture("mp3/id3v1-only.mp3", "b.mp3")};
    for (const std::string &file : Files) Model.ScannerProgress(file);
    ASSERT_EQ(Model.RowCount(), 2);
  }
  void Select(std::vector<int> Rows)
  {
    View.Selected = std::move(Rows);
    Model.lvFilesSelectItem();
  }
  TAudioTag OnDisk(const std::string &File)
  {
    TAudioTag tag;
    EXPECT_TRUE(TTagService().LoadTag(File, tag));
    return tag;
  }

  TempDir Dir;
  std::vector<std::string> Files;
  TCoverView View;
  TOpenFilePrompts Prompts;
  TEditingModel Model{CreateTagService(), View, Prompts};
};

TEST_F(CoverEditing, ALoadedJpegReachesBothSelectedFilesByteForByte)
{
  Select({0, 1});
  EXPECT_TRUE(View.Box.IsEmpty());
  Prompts.Answer = QString::fromStdString(FixturePath("images/cover.jpg"));
  Model.btnLoadCoverClick();
  ASSERT_TRUE(Prompts.Messages.empty()) << Prompts.Messages.front().toStdString();
  EXPECT_EQ(Model.btnSaveClick().Saved, 2);
  for (const std::string &file : Files) {
    const TAudioTag tag = OnDisk(file);
    EXPECT_EQ(tag.CoverMime, "image/jpeg") << file;
    EXPECT_EQ(tag.CoverData, Fixture("cover.jpg")) << file;
  }
}

TEST_F(CoverEditing, ABitmapIsWrittenAsPngAndClearThenUndoBringsThePictureBack)
{
  const TBytes before = OnDisk(Files[0]).CoverData;
  ASSERT_FALSE(before.empty());

  Select({0});
  EXPECT_FALSE(View.Box.IsEmpty());
  Prompts.Answer = QString::fromStdString(FixturePath("images/cover.bmp"));
  Model.btnLoadCoverClick();
  EXPECT_EQ(Model.btnSaveClick().Saved, 1);
  TAudioTag tag = OnDisk(Files[0]);
  EXPECT_EQ(tag.CoverMime, "image/png");
  EXPECT_TRUE(StartsWithPng(tag.CoverData));

  Model.btnClearCoverClick();
  EXPECT_TRUE(View.Box.IsEmpty());
  EXPECT_EQ(Model.btnSaveClick().Saved, 1);
  EXPECT_TRUE(OnDisk(Files[0]).CoverData.empty());

  // Each button and each apply is an undo step of its own.
  Model.ActionUndoExecute();
  EXPECT_EQ(OnDisk(Files[0]).CoverData, tag.CoverData);
  Model.ActionUndoExecute();
  Model.ActionUndoExecute();
  EXPECT_EQ(OnDisk(Files[0]).CoverData, before);
}

TEST_F(CoverEditing, ARefusedFileChangesNothingAndPushesNoUndoStep)
{
  Select({0});
  const TBytes shown = View.Box.Data();
  const std::string picture = Dir.Write("huge.png", PngHeaderOnly(20000, 20000));
  Prompts.Answer = QString::fromStdString(picture);
  Model.btnLoadCoverClick();
  ASSERT_EQ(Prompts.Messages.size(), 1u);
  EXPECT_TRUE(Prompts.Messages[0].contains("too large"));
  EXPECT_EQ(View.Box.Data(), shown);
  EXPECT_TRUE(Model.UndoStack().empty());
  EXPECT_FALSE(Model.TagsAreChanged());
}

}  // namespace
