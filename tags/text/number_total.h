#pragma once
// A track or disc number with its total in one text, "3/12": the form ID3v2 stores and the
// tag record shows, while other formats and the generic entries keep the two apart (TRACKNUMBER
// and TOTALTRACKS). The text is split at its first "/"; neither part is checked to be a number,
// so whatever a file holds survives the round trip.

#include <string>
#include <string_view>

// Number := the text before the first "/", Total := the text after it; without a "/", Number
// := Value and Total is empty. True when Value holds a "/".
bool SplitNumberTotal(std::string_view Value, std::string &Number, std::string &Total);
// Number with "/" and Total added, unless Total is empty or Number already holds a total.
std::string JoinNumberTotal(std::string_view Number, std::string_view Total);
