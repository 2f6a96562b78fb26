#include "tags/native_format.h"

std::span<const TNativeFormat *const> NativeFormats()
{
  // Load, save and removal order.
  static const TNativeFormat *const kRows[] = {&kAPEv2Format, &kFlacFormat, &kID3v1Format, &kID3v2Format, &kMP4Format, &kOggFormat, &kWAVFormat, &kWMAFormat};
  return kRows;
}
