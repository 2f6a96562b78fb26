#include "tags/id3/id3v2_dates.h"

#include <cstdint>

#include "tags/text/text.h"

namespace {

// Text[Pos, Pos + Digits) when those are digits of a number from Low to High; else empty.
std::string Field(std::string_view Text, std::size_t Pos, std::size_t Digits, std::int64_t Low, std::int64_t High)
{
  if (Text.size() < Pos + Digits) return {};
  const std::string_view s = Text.substr(Pos, Digits);
  std::int64_t v = 0;
  if (!ParseFixedDigits(s, v) || v < Low || v > High) return {};
  return std::string(s);
}

bool At(std::string_view Text, std::size_t Pos, char C) { return Text.size() > Pos && Text[Pos] == C; }

} // namespace

TID3v2TimeStamp SplitID3v2TimeStamp(std::string_view Text)
{
  TID3v2TimeStamp s;
  s.Year = Field(Text, 0, 4, 0, 9999);
  if (s.Year.empty()) return s;
  if (At(Text, 4, '-')) s.Month = Field(Text, 5, 2, 1, 12);
  if (!s.Month.empty() && At(Text, 7, '-')) s.Day = Field(Text, 8, 2, 1, 31);
  if (!s.Day.empty() && (At(Text, 10, 'T') || At(Text, 10, ' '))) s.Hour = Field(Text, 11, 2, 0, 23);
  if (!s.Hour.empty() && At(Text, 13, ':')) s.Minute = Field(Text, 14, 2, 0, 59);
  if (!s.Minute.empty() && At(Text, 16, ':')) s.Second = Field(Text, 17, 2, 0, 59);
  return s;
}

std::string ID3v2TimeStampText(const TID3v2TimeStamp &Stamp)
{
  std::string t = Stamp.Year;
  if (t.empty() || Stamp.Month.empty()) return t;
  t += "-" + Stamp.Month;
  if (Stamp.Day.empty()) return t;
  t += "-" + Stamp.Day;
  // The standard form has no stamp with an hour alone.
  if (Stamp.Hour.empty() || Stamp.Minute.empty()) return t;
  t += "T" + Stamp.Hour + ":" + Stamp.Minute;
  if (!Stamp.Second.empty()) t += ":" + Stamp.Second;
  return t;
}

std::string ID3v2DayMonthText(const TID3v2TimeStamp &Stamp)
{
  return Stamp.Day.empty() ? std::string() : Stamp.Day + Stamp.Month;
}

std::string ID3v2HourMinuteText(const TID3v2TimeStamp &Stamp)
{
  return Stamp.Day.empty() || Stamp.Minute.empty() ? std::string() : Stamp.Hour + Stamp.Minute;
}

std::string ID3v2TimeStampFromParts(std::string_view Year, std::string_view DayMonth, std::string_view HourMinute)
{
  TID3v2TimeStamp s;
  s.Year = Year.size() == 4 ? Field(Year, 0, 4, 0, 9999) : std::string();
  if (s.Year.empty()) return {};
  if (DayMonth.size() == 4) {
    s.Day = Field(DayMonth, 0, 2, 1, 31);
    s.Month = Field(DayMonth, 2, 2, 1, 12);
    if (s.Day.empty() || s.Month.empty()) {
      s.Day.clear();
      s.Month.clear();
    }
  }
  if (!s.Day.empty() && HourMinute.size() == 4) {
    s.Hour = Field(HourMinute, 0, 2, 0, 23);
    s.Minute = Field(HourMinute, 2, 2, 0, 59);
  }
  return ID3v2TimeStampText(s);
}
