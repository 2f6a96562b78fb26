#include "tags/detect/signature.h"

#include <algorithm>

#include "tags/asf/asf_guids.h"

bool SignatureAt(std::span<const std::uint8_t> Head, std::size_t Pos, std::string_view Magic)
{
  return Pos + Magic.size() <= Head.size() &&
         std::equal(Magic.begin(), Magic.end(), Head.begin() + static_cast<std::ptrdiff_t>(Pos),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

TAudioContainerType SignatureType(std::span<const std::uint8_t> Head)
{
  if (SignatureAt(Head, 0, "RIFF")) return actWAV;
  if (SignatureAt(Head, 0, "RF64")) return actRF64;
  if (SignatureAt(Head, 0, "MAC")) return actMonkey;
  if (SignatureAt(Head, 0, "OFR ")) return actOptimFROG;
  if (SignatureAt(Head, 0, "MP+") || SignatureAt(Head, 0, "MPC")) return actMusepack;
  if (SignatureAt(Head, 0, "fLaC")) return actFLAC;
  if (SignatureAt(Head, 0, "DSD ")) return actDSF;
  if (SignatureAt(Head, 0, "FRM8") && SignatureAt(Head, 12, "DSD ")) return actDSDIFF;
  if (SignatureAt(Head, 0, "FORM") && SignatureAt(Head, 8, "AIFF")) return actAIFF;
  if (SignatureAt(Head, 0, "FORM") && SignatureAt(Head, 8, "AIFC")) return actAIFC;
  if (SignatureAt(Head, 4, "ftyp")) return actMP4;
  if (Head.size() >= kASFHeaderObject.size() && std::equal(kASFHeaderObject.begin(), kASFHeaderObject.end(), Head.begin()))
    return actASF;
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
  case actDSDIFF:
  case actMP4:
  case actASF: return true;
  default: return SignatureAt(Head, 0, "OggS") || SignatureAt(Head, 0, "wvpk");
  }
}
