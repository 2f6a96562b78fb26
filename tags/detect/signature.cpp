#include "tags/detect/signature.h"

#include <algorithm>
#include <string_view>

namespace {

bool MagicAt(std::span<const std::uint8_t> Head, std::size_t Pos, std::string_view Magic)
{
  return Pos + Magic.size() <= Head.size() &&
         std::equal(Magic.begin(), Magic.end(), Head.begin() + static_cast<std::ptrdiff_t>(Pos),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

} // namespace

TAudioContainerType SignatureType(std::span<const std::uint8_t> Head)
{
  if (MagicAt(Head, 0, "RIFF")) return actWAV;
  if (MagicAt(Head, 0, "RF64")) return actRF64;
  if (MagicAt(Head, 0, "MAC")) return actMonkey;
  if (MagicAt(Head, 0, "OFR ")) return actOptimFROG;
  if (MagicAt(Head, 0, "MP+") || MagicAt(Head, 0, "MPC")) return actMusepack;
  if (MagicAt(Head, 0, "fLaC")) return actFLAC;
  if (MagicAt(Head, 0, "DSD ")) return actDSF;
  if (MagicAt(Head, 0, "FRM8") && MagicAt(Head, 12, "DSD ")) return actDSDIFF;
  if (MagicAt(Head, 0, "FORM") && MagicAt(Head, 8, "AIFF")) return actAIFF;
  if (MagicAt(Head, 0, "FORM") && MagicAt(Head, 8, "AIFC")) return actAIFC;
  if (MagicAt(Head, 4, "ftyp")) return actMP4;
  return actUnknown;
}

bool HasNonMPEGSignature(std::span<const std::uint8_t> Head)
{
  switch (SignatureType(Head)) {
  case actFLAC:
  case actMonkey:
  case actMusepack:
  case actOptimFROG:
  case actDSF:
  case actDSDIFF: return true;
  default: return MagicAt(Head, 0, "OggS") || MagicAt(Head, 0, "wvpk");
  }
}
