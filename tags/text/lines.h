#pragma once
// Lines and name/value pair lists: the one rule every mapper uses to turn a multi-valued tag
// field into the text of an entry and back.
//
// Lines: CR LF, a lone CR and a lone LF each end a line. Text that ends with a break has no
// empty line after it, and empty text has no lines; joining puts CR LF between two lines.
//
// Pair lists ("role=name" items, as the involved-people lists of ID3v2 hold them): an item is
// split at its first "=", so a value may hold "=" itself; an item without "=" is a name with an
// empty value. Stored flat, the list is name, value, name, value, ...; as the text of an entry,
// every name and every value is a line of its own, each ended by CR LF. A name left without a
// value at the end of a flat list is no item.

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> SplitLines(std::string_view Text);
std::string JoinLines(const std::vector<std::string> &Lines);

void SplitPairItem(std::string_view Item, std::string &Name, std::string &Value);
std::string JoinPairItem(std::string_view Name, std::string_view Value);
// Items -> name, value, name, value, ...
std::vector<std::string> PairItemsToFlat(const std::vector<std::string> &Items);
// Name, value, name, value, ... -> items.
std::vector<std::string> PairItemsFromFlat(const std::vector<std::string> &Flat);
// Items -> the text of an entry, and back.
std::string PairItemsToText(const std::vector<std::string> &Items);
std::vector<std::string> PairItemsFromText(std::string_view Text);
