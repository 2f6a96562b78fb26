#pragma once
// Dates of ID3v2 tags in their two forms: the time stamp of version 2.4 (ID3v2.4.0 structure
// section 4, "yyyy-MM-ddTHH:mm:ss" or any leading part of it, kept in TDRC, TDOR, ...) and the
// frames of version 2.3 that hold its parts (ID3v2.3.0 native frames 4.2.1: TYER "yyyy", TDAT
// "DDMM", TIME "HHMM"). Every part is checked: digits only, month 01-12, day 01-31, hour
// 00-23, minute and second 00-59; a part that fails ends the stamp there.

#include <string>
#include <string_view>

struct TID3v2TimeStamp {
  std::string Year, Month, Day, Hour, Minute, Second;
};

// The parts of a time stamp, from its first character, as far as they are well-formed. A blank
// between the date and the time is taken for the "T" of the standard form. All parts are empty
// when Text does not start with four digits.
TID3v2TimeStamp SplitID3v2TimeStamp(std::string_view Text);
// The stamp of those parts as far as they go: "2021", "2021-05", "2021-05-04T10:30".
std::string ID3v2TimeStampText(const TID3v2TimeStamp &Stamp);
// The texts of the 2.3 day-month and time frames for Stamp ("0405", "1030"); empty when the
// stamp does not reach the day, respectively the minute.
std::string ID3v2DayMonthText(const TID3v2TimeStamp &Stamp);
std::string ID3v2HourMinuteText(const TID3v2TimeStamp &Stamp);
// The time stamp that a 2.3 tag's year, day-month and time texts give together: the year with
// the day when DayMonth is a valid "DDMM", with the time when that is there too and HourMinute
// is a valid "HHMM". Empty when Year is not four digits.
std::string ID3v2TimeStampFromParts(std::string_view Year, std::string_view DayMonth, std::string_view HourMinute);
