#include "tags/riff/wav_info.h"

#include <algorithm>

#include "tags/riff/wav_text.h"
#include "tags/streams/byte_writer.h"

namespace {

constexpr std::string_view kLineBreak = "\r\n";

} // namespace

void TWAVTagFrame::Clear()
{
  Name.clear();
  Format = TWAVTagFrameFormat::ffText;
  Stream.clear();
  AlreadyParsed = false;
}

void TWAVTagFrame::Assign(const TWAVTagFrame &Source)
{
  if (&Source == this) return;
  Name = Source.Name;
  Format = Source.Format;
  Stream = Source.Stream;
  AlreadyParsed = Source.AlreadyParsed;
}

std::string TWAVTagFrame::GetText() const
{
  if (Format != TWAVTagFrameFormat::ffText) return std::string();
  return DecodeTerminatedWAVText(Stream);
}

void TWAVTagFrame::SetText(std::string_view Text)
{
  Format = TWAVTagFrameFormat::ffText;
  Stream.clear();
  if (Text.empty()) return;
  const std::string stored = EncodeWAVText(Text);
  Stream.assign(stored.begin(), stored.end());
  Stream.push_back(0);
}

std::vector<std::string> TWAVTagFrame::GetList() const
{
  std::vector<std::string> lines;
  if (Format != TWAVTagFrameFormat::ffText) return lines;
  const std::string_view all = WithoutTrailingZeros(Stream);
  std::size_t pos = 0;
  while (pos < all.size()) {
    const std::size_t br = all.find(kLineBreak, pos);
    const std::size_t end = br == std::string_view::npos ? all.size() : br;
    lines.push_back(DecodeWAVText(all.substr(pos, end - pos)));
    pos = br == std::string_view::npos ? all.size() : br + kLineBreak.size();
  }
  if (lines.size() % 2 != 0) lines.pop_back();
  return lines;
}

void TWAVTagFrame::SetList(const std::vector<std::string> &List)
{
  Format = TWAVTagFrameFormat::ffText;
  Stream.clear();
  const std::size_t paired = List.size() - List.size() % 2;
  if (paired == 0) return;
  ByteWriter w(Stream);
  for (std::size_t i = 0; i < paired; ++i) w.Str(EncodeWAVText(List[i])).Str(kLineBreak);
  w.U8(0);
}

void TWAVTagFrame::AppendTo(TBytes &Out) const
{
  std::string id = Name.substr(0, 4);
  id.resize(4, ' ');
  ByteWriter w(Out);
  w.Str(id).U32LE(static_cast<std::uint32_t>(Stream.size())).Append(Stream);
  if (Stream.size() % 2 != 0) w.U8(0);
}

std::int64_t TWAVTagFrame::StoredSize() const
{
  const auto size = static_cast<std::int64_t>(Stream.size());
  return kWAVInfoItemHeaderBytes + size + (size & 1);
}
