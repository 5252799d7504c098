// A parsed element path: "a/b" (relative, below the context node), "/root/a" (absolute, the
// first segment names the context node itself), optionally ending in "@attribute".
#pragma once

#include <string_view>
#include <vector>

namespace VEXO::XML {

class NodePath {
 public:
  explicit NodePath(std::string_view path);

  bool IsValid() const { return valid_; }
  bool IsRelative() const { return relative_; }
  const std::vector<std::string_view>& Segments() const { return segments_; }
  // Empty when the path names no attribute.
  std::string_view Attribute() const { return attribute_; }

  // Digits, ASCII letters, the underscore and every byte from 128 up.
  static bool IsNameByte(unsigned char byte);

 private:
  bool Parse(std::string_view path);

  bool valid_ = false;
  bool relative_ = false;
  std::vector<std::string_view> segments_;
  std::string_view attribute_;
};

}  // namespace VEXO::XML
