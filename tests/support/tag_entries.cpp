#include "tests/support/tag_entries.h"

std::vector<std::string> EntryValues(const TTags &Tags, const std::string &Name)
{
  std::vector<std::string> values;
  for (const auto &t : Tags.Tags)
    if (t->Name == Name) values.push_back(t->Value);
  return values;
}
