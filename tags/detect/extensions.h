#pragma once
// The extension table: which native tag formats a file of a given extension gets when neither
// its loaded tags nor its content decided (the last step of an automatic save). Extensions are
// compared after ASCII upper-casing; a file with no extension, or one the table does not name,
// gets APEv2.

#include <string>

#include "tags/tag_type.h"

TTagTypes GetTagTypesByExtension(const std::string &FileName);
// The extension of the file name's last path element with its dot, upper-cased; empty if none.
std::string ExtensionOf(const std::string &FileName);
