#pragma once
// What the tests look at in a loaded container.

#include <string>
#include <vector>

#include "tags/tag_container.h"

// The values of the entries named exactly Name, in list order.
std::vector<std::string> EntryValues(const TTags &Tags, const std::string &Name);
