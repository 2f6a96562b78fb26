#include "tags/riff/wav_evnt.h"

namespace {

constexpr std::uint16_t kTokenEvent = 3;
constexpr std::uint16_t kBookmarkEvent = 4;
// Bytes skipped after an event's data once the position is on a multiple of 4.
constexpr std::uint64_t kAfterDataBytes = 2;

} // namespace

bool ReadEVNT(ByteReader In, TEVNT &Out)
{
  Out.Clear();
  Out.Loaded = true;
  while (In.Remaining() >= kSPEventRecordBytes) {
    TSPEVENT e;
    In.ReadU16LE(e.EventID);
    In.ReadU16LE(e.ParamType);
    In.ReadU32LE(e.StreamNumber);
    In.ReadU64LE(e.AudioStreamOffset);
    In.ReadU32LE(e.wParam);
    In.ReadU32LE(e.lParam);
    if ((e.EventID == kTokenEvent || e.EventID == kBookmarkEvent) && e.wParam != 0) {
      if (!In.ReadBytes(e.wParam, e.EventID == kTokenEvent ? e.TOKENDATA : e.BOOKMARK)) return false;
      const std::uint64_t aligned = (In.Position() + 3) / 4 * 4;
      // The filler of the last event may be cut by the chunk's end: nothing is read there.
      if (!In.Skip(aligned - In.Position() + kAfterDataBytes)) In.Seek(In.Size());
    }
    Out.SPEVENTS.push_back(std::move(e));
  }
  return In.AtEnd();
}
