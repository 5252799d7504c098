// Storage of node strings: arena copies and owned, growable heap blocks.
#include "xml/dom_string.h"

#include <cstdlib>
#include <limits>

#include "xml/dom_arena.h"

namespace VEXO::XML {

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::uint32_t>::max() - 64;

StringRep* NewHeapRep(std::size_t capacity) {
  if (capacity > kMaxSize) return nullptr;
  auto* rep = static_cast<StringRep*>(std::malloc(sizeof(StringRep) + capacity + 1));
  if (!rep) return nullptr;
  rep->size = 0;
  rep->capacity = static_cast<std::uint32_t>(capacity);
  return rep;
}

}  // namespace

StringRep* StringRep::InArena(DOMArena& arena, const char* text, std::size_t size) {
  if (size > kMaxSize) return nullptr;
  auto* rep = static_cast<StringRep*>(arena.Allocate(sizeof(StringRep) + size + 1, 4));
  if (!rep) return nullptr;
  rep->size = static_cast<std::uint32_t>(size);
  rep->capacity = 0;
  std::memcpy(rep->Data(), text, size);
  rep->Data()[size] = '\0';
  return rep;
}

void DOMString::Free() {
  if (rep_ && rep_->capacity != 0) std::free(rep_);
}

bool DOMString::Assign(std::string_view text) {
  if (text.empty()) {
    Clear();
    return true;
  }
  if (rep_ && rep_->capacity >= text.size()) {
    // memmove: the text may be a part of this very string.
    std::memmove(rep_->Data(), text.data(), text.size());
  } else {
    StringRep* rep = NewHeapRep(text.size() < 15 ? 15 : text.size());
    if (!rep) return false;
    std::memcpy(rep->Data(), text.data(), text.size());
    Free();
    rep_ = rep;
  }
  rep_->size = static_cast<std::uint32_t>(text.size());
  rep_->Data()[text.size()] = '\0';
  return true;
}

bool DOMString::Append(std::string_view text) {
  if (text.empty()) return true;
  const std::size_t old = size();
  if (text.size() > kMaxSize - old) return false;
  const std::size_t total = old + text.size();
  if (!rep_ || rep_->capacity < total) {
    // Doubling keeps text that arrives in many small pieces linear overall.
    std::size_t capacity = rep_ && rep_->capacity ? std::size_t{rep_->capacity} * 2 : 15;
    if (capacity < total) capacity = total;
    if (capacity > kMaxSize) capacity = total;
    StringRep* rep = NewHeapRep(capacity);
    if (!rep) return false;
    std::memcpy(rep->Data(), c_str(), old);
    // The appended text may live in the old block; copy it before that block is freed.
    std::memcpy(rep->Data() + old, text.data(), text.size());
    Free();
    rep_ = rep;
  } else {
    std::memmove(rep_->Data() + old, text.data(), text.size());
  }
  rep_->size = static_cast<std::uint32_t>(total);
  rep_->Data()[total] = '\0';
  return true;
}

}  // namespace VEXO::XML
