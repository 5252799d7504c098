// The compact writer: no declaration, no line breaks, attributes in name order each followed by
// a space, text before the children, and the fixed escape table. Every piece must fit in the
// room left before the buffer's last byte, which is kept for the NUL.
#include <array>
#include <cstring>
#include <vector>

#include "xml/dom_node.h"

namespace VEXO::XML {

namespace {

struct EscapeTable {
  std::array<std::uint8_t, 256> length{};
  std::array<std::array<char, 6>, 256> text{};

  constexpr EscapeTable() {
    for (int byte = 0; byte < 256; ++byte) {
      length[byte] = 1;
      text[byte][0] = static_cast<char>(byte);
    }
    for (int byte = 1; byte < 32; ++byte) {
      const char form[5] = {'&', '#', static_cast<char>('0' + byte / 10),
                            static_cast<char>('0' + byte % 10), ';'};
      Set(byte, form, 5);
    }
    Set('"', "&quot;", 6);
    Set('&', "&amp;", 5);
    Set('\'', "&apos;", 6);
    Set('<', "&lt;", 4);
    Set('>', "&gt;", 4);
  }
  constexpr void Set(int byte, const char* form, int size) {
    length[byte] = static_cast<std::uint8_t>(size);
    for (int i = 0; i < size; ++i) text[byte][i] = form[i];
  }
};

constexpr EscapeTable kEscape;
constexpr std::size_t kLongestEscape = 6;

class Writer {
 public:
  Writer(char* buffer, int size) : out_(buffer), room_(static_cast<std::size_t>(size) - 1) {
    out_[room_] = '\0';
  }

  std::size_t Written() const { return written_; }
  void Terminate() { out_[written_] = '\0'; }

  bool Raw(std::string_view piece) {
    if (piece.size() > room_) return false;
    Put(piece);
    return true;
  }
  bool Raw2(std::string_view first, std::string_view second) {
    if (first.size() + second.size() > room_) return false;
    Put(first);
    Put(second);
    return true;
  }
  bool Closing(std::string_view name) {
    if (name.size() + 3 > room_) return false;
    Put("</");
    Put(name);
    Put(">");
    return true;
  }

  // Each escaped byte is a piece of its own.
  bool Text(std::string_view text) {
    if (text.size() <= room_ / kLongestEscape) {
      EscapeUnchecked(text);
      return true;
    }
    for (unsigned char byte : text) {
      const std::size_t size = kEscape.length[byte];
      if (size > room_) return false;
      if (size == 1) {
        out_[written_] = static_cast<char>(byte);
      } else {
        std::memcpy(out_ + written_, kEscape.text[byte].data(), size);
      }
      written_ += size;
      room_ -= size;
    }
    return true;
  }

  // " name='value' " as one piece that also leaves room for its NUL.
  bool Attribute(const DOMAttribute& attribute) {
    const std::string_view name = attribute.name.view();
    const std::string_view value = attribute.value.view();
    const std::size_t frame = name.size() + 5;
    if (frame > room_) return false;
    if (value.size() > (room_ - frame) / kLongestEscape) {
      std::size_t escaped = 0;
      for (unsigned char byte : value) escaped += kEscape.length[byte];
      if (frame + escaped + 1 > room_) return false;
    }
    Put(" ");
    Put(name);
    Put("='");
    EscapeUnchecked(value);
    Put("' ");
    return true;
  }

 private:
  void Put(std::string_view piece) {
    std::memcpy(out_ + written_, piece.data(), piece.size());
    written_ += piece.size();
    room_ -= piece.size();
  }

  void EscapeUnchecked(std::string_view text) {
    char* out = out_ + written_;
    for (unsigned char byte : text) {
      const std::size_t size = kEscape.length[byte];
      if (size == 1) {
        *out++ = static_cast<char>(byte);
      } else {
        std::memcpy(out, kEscape.text[byte].data(), kLongestEscape);
        out += size;
      }
    }
    const auto used = static_cast<std::size_t>(out - (out_ + written_));
    written_ += used;
    room_ -= used;
  }

  char* out_;
  std::size_t room_;
  std::size_t written_ = 0;
};

// Writes "<name attributes" and either " />" or ">text"; true in *open when the element stays
// open for its children.
bool Open(Writer& writer, const DOMNode& node, bool* open) {
  if (!writer.Raw2("<", node.Name().view())) return false;
  for (const DOMAttribute& attribute : node.Attributes()) {
    if (!writer.Attribute(attribute)) return false;
  }
  if (node.ChildCount() == 0 && node.Text().empty()) {
    *open = false;
    return writer.Raw(" />");
  }
  *open = true;
  return writer.Raw(">") && writer.Text(node.Text().view());
}

struct Frame {
  const DOMNode* node;
  std::size_t next;
};

// A stack that lives on the C++ stack for ordinary depths and moves to the heap beyond.
class FrameStack {
 public:
  bool Push(Frame frame) {
    if (size_ < kInline) {
      inline_[size_++] = frame;
      return true;
    }
    try {
      spill_.push_back(frame);
    } catch (...) {
      return false;
    }
    ++size_;
    return true;
  }
  Frame& Top() { return size_ <= kInline ? inline_[size_ - 1] : spill_.back(); }
  void Pop() {
    if (size_ > kInline) spill_.pop_back();
    --size_;
  }
  bool Empty() const { return size_ == 0; }

 private:
  static constexpr std::size_t kInline = 64;
  std::array<Frame, kInline> inline_;
  std::vector<Frame> spill_;
  std::size_t size_ = 0;
};

}  // namespace

int DOMNode::Serialize(char* buffer, int size, int* length) const {
  if (!buffer || size <= 0) return -1;
  Writer writer(buffer, size);
  FrameStack stack;
  bool ok = true;
  bool open = false;
  ok = Open(writer, *this, &open);
  if (ok && open) ok = stack.Push({this, 0});
  while (ok && !stack.Empty()) {
    Frame& frame = stack.Top();
    const auto children = frame.node->Children();
    if (frame.next < children.size()) {
      const DOMNode* child = children[frame.next++];
      ok = Open(writer, *child, &open);
      if (ok && open) ok = stack.Push({child, 0});
    } else {
      ok = writer.Closing(frame.node->Name().view());
      stack.Pop();
    }
  }
  writer.Terminate();
  if (!ok) return -1;
  const int written = static_cast<int>(writer.Written());
  if (length) *length = written;
  return written;
}

}  // namespace VEXO::XML
