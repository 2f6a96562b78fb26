#include "tags/text/number_total.h"

bool SplitNumberTotal(std::string_view Value, std::string &Number, std::string &Total)
{
  const std::size_t slash = Value.find('/');
  Number = std::string(Value.substr(0, slash));
  Total = slash == std::string_view::npos ? std::string() : std::string(Value.substr(slash + 1));
  return slash != std::string_view::npos;
}

std::string JoinNumberTotal(std::string_view Number, std::string_view Total)
{
  std::string text(Number);
  if (!Total.empty() && Number.find('/') == std::string_view::npos) {
    text += '/';
    text += Total;
  }
  return text;
}
