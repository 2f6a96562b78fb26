#include "tags/riff/wav_text.h"

#include <algorithm>

#include "tags/text/text.h"

std::string DecodeWAVText(std::string_view Bytes) { return IsValidUtf8(Bytes) ? std::string(Bytes) : AnsiToUtf8(Bytes); }

std::string DecodeWAVText(std::span<const std::uint8_t> Bytes)
{
  return DecodeWAVText(std::string_view(reinterpret_cast<const char *>(Bytes.data()), Bytes.size()));
}

std::string_view WithoutTrailingZeros(std::span<const std::uint8_t> Bytes)
{
  std::size_t n = Bytes.size();
  while (n > 0 && Bytes[n - 1] == 0) --n;
  return std::string_view(reinterpret_cast<const char *>(Bytes.data()), n);
}

std::string DecodeTerminatedWAVText(std::span<const std::uint8_t> Bytes) { return DecodeWAVText(WithoutTrailingZeros(Bytes)); }

std::string EncodeWAVText(std::string_view Text) { return std::string(Text); }

std::string ReadFixedText(std::span<const std::uint8_t> Field)
{
  const auto zero = std::find(Field.begin(), Field.end(), std::uint8_t{0});
  return DecodeWAVText(Field.first(static_cast<std::size_t>(zero - Field.begin())));
}

void WriteFixedText(std::span<std::uint8_t> Field, std::string_view Text)
{
  std::fill(Field.begin(), Field.end(), std::uint8_t{0});
  Text = Text.substr(0, Text.find('\0'));
  std::string stored = EncodeWAVText(Text);
  if (stored.size() > Field.size()) stored = Utf8LeftBytes(stored, Field.size());
  std::copy(stored.begin(), stored.end(), Field.begin());
}
