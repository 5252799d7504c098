// Tree building from Expat's callbacks, and file parsing.
#include "xml/dom_parser.h"

#include <cstdio>
#include <new>

#include "os/library.h"
#include "os/utf.h"
#include "xml/dom_arena.h"

namespace VEXO::XML {

namespace {
constexpr std::size_t kInitialStack = 16;
constexpr std::size_t kFileBlock = 4096;
}  // namespace

DOMParser::DOMParser() { stack_.resize(kInitialStack); }

DOMParser::~DOMParser() = default;

bool DOMParser::CreateParser(const char* encoding, const char* separator) {
  depth_ = -1;
  complete_ = false;
  stopped_ = false;
  for (Level& level : stack_) level.node = nullptr;
  return CreateExpat(encoding, separator);
}

void DOMParser::SetTopNode(DOMNode* top) {
  top_ = top;
  names_.Clear();
  namesArena_ = nullptr;
}

bool DOMParser::Parse(const char* bytes, int length, bool isFinal) {
  return ParseExpat(bytes, length, isFinal);
}

bool DOMParser::ParseFile(const char16_t* path) {
  if (!path) return false;
  std::FILE* file = nullptr;
  try {
    const std::string native = Vantor::KQCP::os::ToNativePath(Vantor::KQCP::os::Utf16ToUtf8(path));
    file = std::fopen(native.c_str(), "rb");
  } catch (...) {
    return false;
  }
  if (!file) return false;
  bool ok = CreateParser(nullptr, nullptr);
  char block[kFileBlock];
  while (ok) {
    const std::size_t got = std::fread(block, 1, sizeof block, file);
    if (got > 0) ok = Parse(block, static_cast<int>(got), false);
    if (got < sizeof block) {
      // A read error, unlike the end of the file, fails the parse.
      if (std::ferror(file)) ok = false;
      break;
    }
  }
  std::fclose(file);
  return ok;
}

DOMArena* DOMParser::Arena() {
  DOMArena* arena = top_->Arena();
  if (arena != namesArena_) {
    names_.Clear();
    namesArena_ = arena;
  }
  return arena;
}

void DOMParser::Stop() {
  // Expat may still deliver a callback or two after the stop; they must change nothing.
  stopped_ = true;
  Abort();
}

void DOMParser::OnStartElement(const XML_Char* name, const XML_Char** attributes) {
  if (stopped_) return;
  bool ok = false;
  try {
    if (!top_) {
      ok = false;
    } else if (depth_ < 0) {
      ok = StartTop(name, attributes);
    } else {
      ok = StartChild(name, attributes);
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) Stop();
}

bool DOMParser::StartTop(const XML_Char* name, const XML_Char** attributes) {
  if (!top_->SetName(name)) return false;
  for (const XML_Char** pair = attributes; pair[0]; pair += 2) {
    if (top_->SetAttribute(pair[0], pair[1]) == kDomFailed) return false;
  }
  depth_ = 0;
  stack_[0].node = top_;
  return true;
}

bool DOMParser::StartChild(const XML_Char* name, const XML_Char** attributes) {
  DOMArena* arena = Arena();
  if (!arena) return false;
  const auto depth = static_cast<std::size_t>(depth_) + 1;
  if (depth >= stack_.size()) stack_.resize(stack_.size() * 2);

  void* memory = arena->Allocate(sizeof(DOMNode), alignof(DOMNode));
  if (!memory) return false;
  auto* node = new (memory) DOMNode;
  node->inArena_ = true;
  node->parent_ = stack_[depth - 1].node;
  StringRep* nameRep = names_.Find(*arena, name);
  if (!nameRep) return false;
  node->name_.Share(nameRep);

  std::size_t count = 0;
  while (attributes[count * 2]) ++count;
  if (count > 0) {
    auto* array = static_cast<DOMNode::AttributeArray*>(arena->Allocate(
        sizeof(DOMNode::AttributeArray) + sizeof(DOMAttribute) * count, alignof(DOMAttribute)));
    if (!array) return false;
    array->size = 0;
    array->capacity = 0;
    DOMAttribute* items = array->Items();
    for (std::size_t i = 0; i < count; ++i) {
      const XML_Char* key = attributes[i * 2];
      const XML_Char* value = attributes[i * 2 + 1];
      StringRep* keyRep = names_.Find(*arena, key);
      StringRep* valueRep = StringRep::InArena(*arena, value, std::strlen(value));
      if (!keyRep || !valueRep) return false;
      if (keyRep->size == 5 && std::memcmp(keyRep->Data(), "xmlns", 5) == 0) {
        node->namespace_.Share(valueRep);
      }
      // Insertion in name order; Expat has already refused repeated names.
      std::size_t at = array->size;
      while (at > 0 && items[at - 1].name.view().compare({keyRep->Data(), keyRep->size}) > 0) {
        --at;
      }
      new (&items[array->size]) DOMAttribute;
      for (std::size_t j = array->size; j > at; --j) {
        items[j].name.Share(items[j - 1].name.Rep());
        items[j].value.Share(items[j - 1].value.Rep());
      }
      items[at].name.Share(keyRep);
      items[at].value.Share(valueRep);
      ++array->size;
    }
    node->attributes_ = array;
  }

  Level& level = stack_[depth];
  level.node = node;
  level.text.clear();
  level.children.clear();
  depth_ = static_cast<int>(depth);
  return true;
}

void DOMParser::OnCharacterData(const XML_Char* data, int length) {
  if (depth_ < 0 || !top_ || stopped_) return;
  bool ok = true;
  try {
    if (depth_ == 0) {
      ok = top_->AppendText({data, static_cast<std::size_t>(length)});
    } else {
      ok = AppendText(stack_[depth_], {data, static_cast<std::size_t>(length)});
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) Stop();
}

bool DOMParser::AppendText(Level& level, std::string_view text) {
  if (!level.text.empty()) {
    level.text.append(text);
    return true;
  }
  // The text of a leaf usually arrives in a few pieces with nothing in between, so it is
  // written straight into the arena and grown there; once something else was allocated after
  // it (a child element), the text is gathered aside and copied in when the element ends.
  DOMArena* arena = Arena();
  if (!arena) return false;
  DOMString& field = level.node->text_;
  StringRep* rep = field.Rep();
  if (!rep) {
    rep = StringRep::InArena(*arena, text.data(), text.size());
    if (!rep) return false;
    field.Share(rep);
    return true;
  }
  const std::size_t used = sizeof(StringRep) + rep->size + 1;
  if (rep->size + text.size() < (std::size_t{1} << 31) &&
      arena->Extend(rep, used, used + text.size())) {
    std::memcpy(rep->Data() + rep->size, text.data(), text.size());
    rep->size += static_cast<std::uint32_t>(text.size());
    rep->Data()[rep->size] = '\0';
    return true;
  }
  level.text.assign(rep->Data(), rep->size);
  level.text.append(text);
  field.Clear();
  return true;
}

bool DOMParser::Finish(Level& level) {
  DOMArena* arena = Arena();
  if (!arena) return false;
  DOMNode* node = level.node;
  if (!level.text.empty()) {
    StringRep* text = StringRep::InArena(*arena, level.text.data(), level.text.size());
    if (!text) return false;
    node->text_.Share(text);
  }
  if (!level.children.empty()) {
    const std::size_t count = level.children.size();
    auto* array = static_cast<DOMNode::ChildArray*>(
        arena->Allocate(sizeof(DOMNode::ChildArray) + sizeof(DOMNode*) * count, alignof(DOMNode*)));
    if (!array) return false;
    array->size = static_cast<std::uint32_t>(count);
    array->capacity = 0;
    std::memcpy(array->Items(), level.children.data(), sizeof(DOMNode*) * count);
    node->children_ = array;
  }
  return true;
}

void DOMParser::OnEndElement(const XML_Char* /*name*/) {
  if (depth_ < 0 || stopped_) return;
  if (depth_ == 0) {
    complete_ = true;
    return;
  }
  bool ok = false;
  try {
    Level& level = stack_[depth_];
    ok = Finish(level);
    if (ok) {
      DOMNode* node = level.node;
      level.node = nullptr;
      if (depth_ == 1) {
        ok = top_->AttachChild(node) == kDomOk;
      } else {
        stack_[depth_ - 1].children.push_back(node);
      }
    }
    if (ok) {
      --depth_;
      if (depth_ == 0) complete_ = true;
    }
  } catch (...) {
    ok = false;
  }
  if (!ok) Stop();
}

StringRep* DOMParser::NameTable::Find(DOMArena& arena, const char* name) {
  // FNV-1a over the bytes, measuring the length on the way.
  std::uint32_t hash = 2166136261u;
  std::size_t size = 0;
  for (; name[size]; ++size) {
    hash = (hash ^ static_cast<unsigned char>(name[size])) * 16777619u;
  }
  if (hash == 0) hash = 1;
  if (slots_.empty()) slots_.resize(kSlots);
  std::size_t index = hash & (kSlots - 1);
  for (;;) {
    Slot& slot = slots_[index];
    if (!slot.rep) break;
    if (slot.hash == hash && slot.rep->size == size &&
        std::memcmp(slot.rep->Data(), name, size) == 0) {
      return slot.rep;
    }
    index = (index + 1) & (kSlots - 1);
  }
  StringRep* rep = StringRep::InArena(arena, name, size);
  // Half full is enough: past that, names are simply copied.
  if (rep && used_ < kSlots / 2) {
    slots_[index] = {hash, rep};
    ++used_;
  }
  return rep;
}

void DOMParser::NameTable::Clear() {
  if (used_ == 0) return;
  std::fill(slots_.begin(), slots_.end(), Slot{});
  used_ = 0;
}

}  // namespace VEXO::XML
