#include "tags/save_support.h"

#include <algorithm>
#include <span>

#include "tags/detect/content_type.h"
#include "tags/detect/extensions.h"
#include "tags/native_format.h"
#include "tags/text/text.h"

namespace {

bool Lists(std::span<const TAudioContainerType> List, TAudioContainerType Type)
{
  return std::find(List.begin(), List.end(), Type) != List.end();
}

} // namespace

bool CanSaveTagsToFile(const TTags &Tags, const std::string &FileName)
{
  const auto formats = NativeFormats();
  const auto writable = [](const TNativeFormat *f) { return f->SaveToFile != nullptr; };
  const bool loadedFromFile = !Tags.FileName.empty() && SameText(FileName, Tags.FileName);
  if (loadedFromFile &&
      std::any_of(formats.begin(), formats.end(),
                  [&](const TNativeFormat *f) { return writable(f) && f->IsLoaded && f->IsLoaded(Tags); }))
    return true;
  const TAudioContainerType content =
    Tags.DetectContainerType && loadedFromFile ? Tags.ContainerType : GetAudioContainerType(FileName);
  if (std::any_of(formats.begin(), formats.end(), [&](const TNativeFormat *f) {
        return writable(f) && (Lists(f->ContentTypes, content) || Lists(f->FileOnlyContentTypes, content));
      }))
    return true;
  const TTagTypes wanted = GetTagTypesByExtension(FileName);
  return std::any_of(formats.begin(), formats.end(),
                     [&](const TNativeFormat *f) { return writable(f) && (wanted & TagTypeBit(f->Type)); });
}
