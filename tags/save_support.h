#pragma once
// What a caller asks before it writes tags into a file, so that a save that cannot be
// written at all is refused before anything (a backup copy, say) is made.

#include <string>

class TTags;

// Whether an automatic save of Tags into FileName has a native format to write it with: one
// of the tags loaded from that file, else a format its content or, failing that, its extension
// picks (the rounds of TTags::SaveToFile). False for a file whose formats are all still
// without a writer. Uses Tags.ContainerType when the load detected it, else reads the file.
bool CanSaveTagsToFile(const TTags &Tags, const std::string &FileName);
