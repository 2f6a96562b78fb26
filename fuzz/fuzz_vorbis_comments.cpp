// Fuzz target: the Vorbis comment codec, the picture structure and base64 over any bytes.
// Properties: a comment body read whole (in either layout) builds back to exactly the bytes it
// was read from, and an edit survives a build and a second read; a damaged body is never built;
// a picture structure read whole builds back to the same bytes; text that decodes as base64
// encodes to text that decodes to the same bytes.
// So that the fixtures replayed as seeds reach the codecs with real data, the blocks of a FLAC
// file and the comment packet of an Ogg Vorbis or Opus file inside the input are tried too.

#include <algorithm>
#include <string_view>

#include "fuzz/fuzz_entry.h"
#include "tags/text/text.h"
#include "tags/vorbis/base64.h"
#include "tags/vorbis/picture_block.h"
#include "tags/vorbis/vorbis_comments.h"

namespace {

void CheckBase64(std::span<const std::uint8_t> Input);

void CheckComments(std::span<const std::uint8_t> Input, TVorbisCommentLayout Layout)
{
  TVorbisComments comments;
  const int damage = comments.Parse(Input, Layout);
  FuzzRequire(comments.Count() <= Input.size() / 4);
  TBytes out;
  if (damage != vcdNone) {
    FuzzRequire(comments.Build(out) == vcbDamaged && out.empty());
    return;
  }
  FuzzRequire(comments.Build(out) == vcbOk);
  FuzzRequire(out.size() == Input.size() && std::equal(out.begin(), out.end(), Input.begin()));
  for (const TVorbisCommentEntry &e : comments.Entries())
    if (e.HasSeparator && SameText(e.Name, kMetadataBlockPictureName))
      CheckBase64({reinterpret_cast<const std::uint8_t *>(e.Value.data()), e.Value.size()});

  const std::string firstName = comments.Count() > 0 && comments.Entries()[0].HasSeparator && !comments.Entries()[0].Name.empty()
                                  ? comments.Entries()[0].Name : std::string("TITLE");
  FuzzRequire(comments.SetValues(firstName, {"one", "", "three"}));
  FuzzRequire(comments.Build(out) == vcbOk);
  TVorbisComments again;
  FuzzRequire(again.Parse(out, Layout) == vcdNone);
  FuzzRequire(again.Entries() == comments.Entries());
  FuzzRequire(again.Values(firstName) == (std::vector<std::string>{"one", "", "three"}));
}

void CheckPicture(std::span<const std::uint8_t> Input)
{
  TPictureBlock picture;
  if (ParsePictureBlock(Input, picture) != pbrOk) return;
  TBytes out;
  FuzzRequire(BuildPictureBlock(picture, out, kMaxOggPictureStructure) == pbrOk);
  FuzzRequire(out.size() == Input.size() && std::equal(out.begin(), out.end(), Input.begin()));
  const int flac = BuildPictureBlock(picture, out);
  FuzzRequire(flac == (Input.size() > kMaxFlacBlockBody ? pbrTooLarge : pbrOk));
}

void CheckBase64(std::span<const std::uint8_t> Input)
{
  const std::string_view text(reinterpret_cast<const char *>(Input.data()), Input.size());
  TBytes decoded;
  if (!Base64Decode(text, decoded)) {
    FuzzRequire(decoded.empty());
    return;
  }
  FuzzRequire(decoded.size() <= Input.size() / 4 * 3 + 2);
  TBytes again;
  FuzzRequire(Base64Decode(Base64Encode(decoded), again) && again == decoded);
  TPictureBlock picture;
  const int rc = DecodeMetadataBlockPicture(text, picture);
  FuzzRequire(rc == pbrOk || rc == pbrTruncated);
}

// The rest of Input after the first Signature; empty when there is none.
std::span<const std::uint8_t> After(std::span<const std::uint8_t> Input, std::string_view Signature)
{
  const auto at = std::search(Input.begin(), Input.end(), Signature.begin(), Signature.end(),
                              [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  if (at == Input.end()) return {};
  return Input.subspan(static_cast<std::size_t>(at - Input.begin()) + Signature.size());
}

void CheckEmbedded(std::span<const std::uint8_t> Input)
{
  if (const auto vorbis = After(Input, std::string_view("\x03vorbis", 7)); !vorbis.empty()) CheckComments(vorbis, vclFramed);
  if (const auto opus = After(Input, "OpusTags"); !opus.empty()) CheckComments(opus, vclPlain);
  std::span<const std::uint8_t> flac = After(Input, "fLaC");
  for (bool last = flac.empty(); !last && flac.size() >= 4;) {
    last = (flac[0] & 0x80) != 0;
    const int type = flac[0] & 0x7F;
    const std::size_t len = static_cast<std::size_t>(flac[1]) << 16 | static_cast<std::size_t>(flac[2]) << 8 | flac[3];
    if (len > flac.size() - 4) break;
    if (type == 4) CheckComments(flac.subspan(4, len), vclPlain);
    if (type == 6) CheckPicture(flac.subspan(4, len));
    flac = flac.subspan(4 + len);
  }
}

} // namespace

int FuzzVorbisComments(const std::uint8_t *Data, std::size_t Size)
{
  const std::span<const std::uint8_t> input(Data, Size);
  CheckComments(input, vclPlain);
  CheckComments(input, vclFramed);
  CheckPicture(input);
  CheckBase64(input);
  CheckEmbedded(input);
  return 0;
}

CORVELLA_FUZZ_TARGET("fuzz_vorbis_comments", FuzzVorbisComments)
