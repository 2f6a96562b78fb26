#include "cli/json_writer.h"

#include <charconv>
#include <cmath>

#include "tags/text/text.h"

std::string JsonQuote(std::string_view Value)
{
  const std::string text = IsValidUtf8(Value) ? std::string(Value) : SanitizeUtf8(Value);
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
    case '"': out += "\\\""; break;
    case '\\': out += "\\\\"; break;
    case '\b': out += "\\b"; break;
    case '\f': out += "\\f"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    default:
      if (b < 0x20 || b == 0x7F) {
        static constexpr char hex[] = "0123456789abcdef";
        out += "\\u00";
        out += hex[b >> 4];
        out += hex[b & 15];
      } else {
        out += c;
      }
    }
  }
  out += '"';
  return out;
}

void TJsonWriter::BeforeValue()
{
  if (FAfterKey) {
    FAfterKey = false;
    return;
  }
  if (!FFirst.empty()) {
    if (!FFirst.back()) FOut += ',';
    FFirst.back() = false;
  }
}

void TJsonWriter::Open(char Bracket)
{
  BeforeValue();
  FOut += Bracket;
  FFirst.push_back(true);
}

void TJsonWriter::Close(char Bracket)
{
  FOut += Bracket;
  if (!FFirst.empty()) FFirst.pop_back();
}

TJsonWriter &TJsonWriter::BeginObject() { Open('{'); return *this; }
TJsonWriter &TJsonWriter::EndObject() { Close('}'); return *this; }
TJsonWriter &TJsonWriter::BeginArray() { Open('['); return *this; }
TJsonWriter &TJsonWriter::EndArray() { Close(']'); return *this; }

TJsonWriter &TJsonWriter::Key(std::string_view Name)
{
  BeforeValue();
  FOut += JsonQuote(Name);
  FOut += ':';
  FAfterKey = true;
  return *this;
}

TJsonWriter &TJsonWriter::String(std::string_view Value)
{
  BeforeValue();
  FOut += JsonQuote(Value);
  return *this;
}

TJsonWriter &TJsonWriter::Int(std::int64_t Value)
{
  BeforeValue();
  FOut += std::to_string(Value);
  return *this;
}

TJsonWriter &TJsonWriter::Number(double Value)
{
  BeforeValue();
  if (!std::isfinite(Value)) {
    FOut += "null";
    return *this;
  }
  char buf[64];
  // The shortest form that reads back as the same double; always valid JSON for finite values.
  const auto res = std::to_chars(buf, buf + sizeof buf, Value);
  FOut.append(buf, res.ptr);
  return *this;
}

TJsonWriter &TJsonWriter::Bool(bool Value)
{
  BeforeValue();
  FOut += Value ? "true" : "false";
  return *this;
}

TJsonWriter &TJsonWriter::Null()
{
  BeforeValue();
  FOut += "null";
  return *this;
}
