#include "tags/text/lines.h"

namespace {
const char *const kCRLF = "\r\n";
}

std::vector<std::string> SplitLines(std::string_view Text)
{
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c != '\r' && c != '\n') {
      line.push_back(c);
      continue;
    }
    lines.push_back(std::move(line));
    line.clear();
    if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

std::string JoinLines(const std::vector<std::string> &Lines)
{
  std::string text;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    if (i > 0) text += kCRLF;
    text += Lines[i];
  }
  return text;
}

void SplitPairItem(std::string_view Item, std::string &Name, std::string &Value)
{
  const std::size_t eq = Item.find('=');
  Name = std::string(Item.substr(0, eq));
  Value = eq == std::string_view::npos ? std::string() : std::string(Item.substr(eq + 1));
}

std::string JoinPairItem(std::string_view Name, std::string_view Value)
{
  std::string item(Name);
  item += '=';
  item += Value;
  return item;
}

std::vector<std::string> PairItemsToFlat(const std::vector<std::string> &Items)
{
  std::vector<std::string> flat;
  flat.reserve(Items.size() * 2);
  for (const std::string &item : Items) {
    std::string name, value;
    SplitPairItem(item, name, value);
    flat.push_back(std::move(name));
    flat.push_back(std::move(value));
  }
  return flat;
}

std::vector<std::string> PairItemsFromFlat(const std::vector<std::string> &Flat)
{
  std::vector<std::string> items;
  for (std::size_t i = 0; i + 1 < Flat.size(); i += 2) items.push_back(JoinPairItem(Flat[i], Flat[i + 1]));
  return items;
}

std::string PairItemsToText(const std::vector<std::string> &Items)
{
  std::string text;
  for (const std::string &line : PairItemsToFlat(Items)) {
    text += line;
    text += kCRLF;
  }
  return text;
}

std::vector<std::string> PairItemsFromText(std::string_view Text) { return PairItemsFromFlat(SplitLines(Text)); }
