// The error of the database cache's SQLite access layer: a numeric code and a message
// "<code name>[<code>]: <text>". The cache catches it and answers with a result code.
#pragma once

#include <string>

namespace Vantor::KQCP {

class CppSQLite3Exception {
 public:
  // Code of the layer's own errors, named "CPPSQLITE_ERROR".
  static constexpr int kLayerError = 1000;

  CppSQLite3Exception(int code, const char* text);

  int Code() const { return code_; }
  const std::string& Message() const { return message_; }

  // "SQLITE_OK" ... "SQLITE_ROW" for SQLite's primary result codes, "CPPSQLITE_ERROR" for the
  // layer's own code, "UNKNOWN_ERROR" otherwise.
  static const char* CodeName(int code);

 private:
  int code_;
  std::string message_;
};

// The layer's own messages.
namespace sqlite_layer_error {
inline constexpr const char* kCannotAllocate = "Cannot allocate memory";
inline constexpr const char* kCannotDecode = "Cannot decode binary";
inline constexpr const char* kNotOpen = "Database not open";
inline constexpr const char* kNullStatement = "Null Virtual Machine pointer";
inline constexpr const char* kInvalidScalar = "Invalid scalar query";
inline constexpr const char* kInvalidFieldName = "Invalid field name requested";
inline constexpr const char* kInvalidFieldIndex = "Invalid field index requested";
inline constexpr const char* kForeignSchema = "Schema holds objects the cache does not create";
}  // namespace sqlite_layer_error

}  // namespace Vantor::KQCP
