#pragma once
// tests/data/EXPECTED.jsonl: one flat JSON object a line, what mature readers read from each
// fixture (the sixteen fields, the picture count and the first picture's MIME type and SHA-1),
// read with a small parser of its own: string, number and null values, the escapes of JSON
// (\uXXXX with surrogate pairs as UTF-8). Also the SHA-1 the lines give pictures by.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

using TFlatJsonObject = std::map<std::string, std::optional<std::string>, std::less<>>;

// Parses one object whose values are strings, numbers (kept as written) or null (nullopt).
// False with Error set for anything else: nesting, true/false, a repeated key, bad escapes,
// text after the object.
bool ParseFlatJsonObject(std::string_view Text, TFlatJsonObject &Out, std::string &Error);

struct TExpectedRecord {
  std::string File;  // relative to tests/data, as "mp3/notags.mp3"
  int Line = 0;      // 1-based line in EXPECTED.jsonl
  TFlatJsonObject Values;

  // The value of Key; nullopt when it is null or absent.
  std::optional<std::string> Text(std::string_view Key) const;
  // A whole number, -1 when absent, null or not a number.
  long long Number(std::string_view Key) const;
};

// GoogleTest prints a record as its file.
void PrintTo(const TExpectedRecord &Record, std::ostream *Out);

// Every line of tests/data/EXPECTED.jsonl in file order (blank lines skipped). False with
// Error (naming the line) when the file cannot be read or a line is not a flat object with a
// "file" string.
bool ReadExpectedRecords(std::vector<TExpectedRecord> &Out, std::string &Error);

// The SHA-1 of the bytes, as 40 lower-case hexadecimal digits (FIPS 180-4).
std::string Sha1Hex(const std::uint8_t *Data, std::size_t Size);
