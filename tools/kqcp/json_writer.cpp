// JSON quoting and the nesting writer.
#include "json_writer.h"

#include <cstdio>

namespace kqcp_tool {

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Names come from other processes' mappings: never let one break the document.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void JsonWriter::Key(const char* key) {
  if (!first_) text_ += ',';
  first_ = false;
  if (key) text_ += JsonQuote(key) + ':';
}

JsonWriter& JsonWriter::BeginObject(const char* key) {
  Key(key);
  text_ += '{';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  text_ += '}';
  first_ = false;
  return *this;
}

JsonWriter& JsonWriter::BeginArray(const char* key) {
  Key(key);
  text_ += '[';
  first_ = true;
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  text_ += ']';
  first_ = false;
  return *this;
}

JsonWriter& JsonWriter::Text(const char* key, const std::string& value) {
  Key(key);
  text_ += JsonQuote(value);
  return *this;
}

JsonWriter& JsonWriter::Number(const char* key, std::uint64_t value) {
  Key(key);
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Flag(const char* key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Value(const std::string& value) {
  Key(nullptr);
  text_ += JsonQuote(value);
  return *this;
}

}  // namespace kqcp_tool
