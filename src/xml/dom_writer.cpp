// The compact writer: no declaration, no line breaks, attributes in name order each followed by
// a space, text before the children, and the fixed escape table. Every piece must fit in the
// room left before the buffer's last byte, which is kept for the NUL. Control bytes that XML
// cannot carry, not even as references, make the text unwritable.
#include <array>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <vector>

#include "xml/dom_node.h"

namespace VEXO::XML {

namespace {

struct EscapeTable {
  // 0 for a byte that cannot be written.
  std::array<std::uint8_t, 256> length{};
  std::array<std::array<char, 6>, 256> text{};

  constexpr EscapeTable() {
    for (int byte = 0; byte < 256; ++byte) {
      length[byte] = 1;
      text[byte][0] = static_cast<char>(byte);
    }
    // XML allows only tab, line feed and carriage return below 32, also as references.
    for (int byte = 0; byte < 32; ++byte) length[byte] = 0;
    for (int byte : {9, 10, 13}) {
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

// Copies a short piece with at most two loads and stores that stay inside source and target.
inline void CopySmall(char* out, const char* in, std::size_t size) {
  if (size >= 8) {
    if (size > 16) {
      std::memcpy(out, in, size);
      return;
    }
    std::uint64_t head;
    std::uint64_t tail;
    std::memcpy(&head, in, 8);
    std::memcpy(&tail, in + size - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + size - 8, &tail, 8);
  } else if (size >= 4) {
    std::uint32_t head;
    std::uint32_t tail;
    std::memcpy(&head, in, 4);
    std::memcpy(&tail, in + size - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + size - 4, &tail, 4);
  } else {
    for (std::size_t i = 0; i < size; ++i) out[i] = in[i];
  }
}

// Length of the leading run of bytes that are written as they are.
inline std::size_t PlainRun(const char* text, std::size_t size) {
  std::size_t at = 0;
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i apos = _mm_set1_epi8('\'');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i control = _mm_set1_epi8(31);
  for (; at + 16 <= size; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    __m128i special = _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, amp));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, apos));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, lt));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, gt));
    // Unsigned byte <= 31.
    special = _mm_or_si128(special, _mm_cmpeq_epi8(_mm_min_epu8(bytes, control), bytes));
    const int mask = _mm_movemask_epi8(special);
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
  while (at < size && kEscape.length[static_cast<unsigned char>(text[at])] == 1) ++at;
  return at;
}

// Output position and the end of the room; the buffer's last byte lies beyond that end.
class Writer {
 public:
  Writer(char* buffer, int size)
      : begin_(buffer), out_(buffer), limit_(buffer + static_cast<std::size_t>(size) - 1) {
    *limit_ = '\0';
  }

  std::size_t Written() const { return static_cast<std::size_t>(out_ - begin_); }
  void Terminate() { *out_ = '\0'; }

  bool Raw(std::string_view piece) {
    if (piece.size() > Room()) return false;
    Put(piece);
    return true;
  }
  bool Open(std::string_view name) {
    if (name.size() + 1 > Room()) return false;
    *out_++ = '<';
    Put(name);
    return true;
  }
  bool Closing(std::string_view name) {
    if (name.size() + 3 > Room()) return false;
    out_[0] = '<';
    out_[1] = '/';
    out_ += 2;
    Put(name);
    *out_++ = '>';
    return true;
  }

  // Each escaped byte is a piece of its own.
  bool Text(std::string_view text) {
    if (text.size() <= Room() / kLongestEscape) return EscapeUnchecked(text);
    for (unsigned char byte : text) {
      const std::size_t size = kEscape.length[byte];
      if (size == 0 || size > Room()) return false;
      std::memcpy(out_, kEscape.text[byte].data(), size);
      out_ += size;
    }
    return true;
  }

  // " name='value' " as one piece that also leaves room for its NUL.
  bool Attribute(const DOMAttribute& attribute) {
    const std::string_view name = attribute.name.view();
    const std::string_view value = attribute.value.view();
    const std::size_t frame = name.size() + 5;
    if (frame > Room()) return false;
    if (value.size() > (Room() - frame) / kLongestEscape) {
      std::size_t escaped = 0;
      for (unsigned char byte : value) {
        if (kEscape.length[byte] == 0) return false;
        escaped += kEscape.length[byte];
      }
      if (frame + escaped + 1 > Room()) return false;
    }
    *out_++ = ' ';
    Put(name);
    out_[0] = '=';
    out_[1] = '\'';
    out_ += 2;
    // An escape copies kLongestEscape bytes; the two bytes of "' " below cover any excess.
    if (!EscapeUnchecked(value)) return false;
    out_[0] = '\'';
    out_[1] = ' ';
    out_ += 2;
    return true;
  }

 private:
  std::size_t Room() const { return static_cast<std::size_t>(limit_ - out_); }

  void Put(std::string_view piece) {
    CopySmall(out_, piece.data(), piece.size());
    out_ += piece.size();
  }

  // False at a byte that cannot be written.
  bool EscapeUnchecked(std::string_view text) {
    const char* in = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const std::size_t run = PlainRun(in, left);
      CopySmall(out_, in, run);
      out_ += run;
      in += run;
      left -= run;
      if (left == 0) break;
      const auto byte = static_cast<unsigned char>(*in++);
      --left;
      if (kEscape.length[byte] == 0) return false;
      std::memcpy(out_, kEscape.text[byte].data(), kLongestEscape);
      out_ += kEscape.length[byte];
    }
    return true;
  }

  char* begin_;
  char* out_;
  char* limit_;
};

// Writes "<name attributes" and either " />" or ">text"; true in *open when the element stays
// open for its children.
bool Open(Writer& writer, const DOMNode& node, bool* open) {
  if (!writer.Open(node.Name().view())) return false;
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
