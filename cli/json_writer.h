#pragma once
// TJsonWriter: builds one compact JSON text (RFC 8259) value by value. Commas and colons are
// placed by the writer; strings are escaped (quote, backslash, every control character, DEL)
// and bytes that are not valid UTF-8 become U+FFFD, so the output is always valid JSON.
// Non-finite numbers are written as null. Nesting is the caller's: each Begin has its End.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TJsonWriter {
public:
  TJsonWriter &BeginObject();
  TJsonWriter &EndObject();
  TJsonWriter &BeginArray();
  TJsonWriter &EndArray();
  // The name of the next member of the current object.
  TJsonWriter &Key(std::string_view Name);
  TJsonWriter &String(std::string_view Value);
  TJsonWriter &Int(std::int64_t Value);
  TJsonWriter &Number(double Value);
  TJsonWriter &Bool(bool Value);
  TJsonWriter &Null();

  const std::string &Text() const { return FOut; }

private:
  void BeforeValue();
  void Open(char Bracket);
  void Close(char Bracket);

  std::string FOut;
  // One entry per open object or array: true until its first member.
  std::vector<bool> FFirst;
  bool FAfterKey = false;
};

// Value as a quoted and escaped JSON string.
std::string JsonQuote(std::string_view Value);
