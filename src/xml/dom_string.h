// The byte string of a tree node: one pointer to a length-prefixed, NUL-terminated block.
// A block either belongs to a tree arena (capacity 0: never changed or freed on its own, and
// free to share, e.g. one copy of an element name for a whole document) or to this string alone
// (heap, capacity > 0, grown and freed here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace VEXO::XML {

class DOMArena;

struct StringRep {
  std::uint32_t size;
  std::uint32_t capacity;  // 0: arena block
  char* Data() { return reinterpret_cast<char*>(this + 1); }
  const char* Data() const { return reinterpret_cast<const char*>(this + 1); }

  // A copy in the arena; null when memory is exhausted or the text is too long.
  static StringRep* InArena(DOMArena& arena, const char* text, std::size_t size);
};

class DOMString {
 public:
  DOMString() = default;
  ~DOMString() { Free(); }
  DOMString(const DOMString&) = delete;
  DOMString& operator=(const DOMString&) = delete;

  const char* c_str() const { return rep_ ? rep_->Data() : ""; }
  std::uint32_t size() const { return rep_ ? rep_->size : 0; }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return {c_str(), size()}; }
  bool Equals(std::string_view other) const { return view() == other; }

  // Replace or extend the bytes; false (and unchanged) when memory is exhausted.
  bool Assign(std::string_view text);
  bool Append(std::string_view text);
  void Clear() {
    Free();
    rep_ = nullptr;
  }

  // Points at an arena block without copying; any owned block is freed.
  void Share(StringRep* rep) {
    Free();
    rep_ = rep;
  }
  // Takes over the block of another string (whatever its kind); other becomes empty.
  void Take(DOMString& other) {
    if (&other == this) return;
    Free();
    rep_ = other.rep_;
    other.rep_ = nullptr;
  }
  StringRep* Rep() const { return rep_; }

 private:
  void Free();

  StringRep* rep_ = nullptr;
};

}  // namespace VEXO::XML
