// Just enough JSON for the tool's output: quoted strings and a writer of nested objects.
#pragma once

#include <cstdint>
#include <string>

namespace kqcp_tool {

// text as a JSON string; bytes that are not printable ASCII become \u00XX.
std::string JsonQuote(const std::string& text);

// Builds one JSON document; commas are placed by the writer. Distinct names for each kind of
// value, so that no literal converts to the wrong one.
class JsonWriter {
 public:
  JsonWriter& BeginObject(const char* key = nullptr);
  JsonWriter& EndObject();
  JsonWriter& BeginArray(const char* key = nullptr);
  JsonWriter& EndArray();
  JsonWriter& Text(const char* key, const std::string& value);
  JsonWriter& Number(const char* key, std::uint64_t value);
  JsonWriter& Flag(const char* key, bool value);
  JsonWriter& Value(const std::string& value);
  const std::string& Document() const { return text_; }

 private:
  void Key(const char* key);
  std::string text_;
  bool first_ = true;
};

}  // namespace kqcp_tool
