// Tree building from Expat's callbacks, and file parsing.
#include "xml/dom_parser.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "os/library.h"
#include "os/utf.h"
#include "xml/dom_arena.h"

namespace VEXO::XML {

namespace {
constexpr std::size_t kInitialStack = 16;
constexpr std::size_t kFileBlock = 4096;
// Below this an unfinished token is cheap to scan again.
constexpr std::size_t kGatherFrom = 64;
// A larger buffer for kept-back bytes is given back after use.
constexpr std::size_t kKeptCapacity = 64 * 1024;
// Expat takes an int length.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

// Expat 2.6 and later (and older ones with the change backported) hold the bytes of a long
// unfinished token back until about as many again have arrived, so a package whose last token
// is long would not complete when its last byte arrives. Feed gathers such bytes itself and
// passes them on as soon as they may end the token; Expat is told to parse what it is given.
void ParseEveryPieceAtOnce(XML_Parser parser) {
#if defined(KQCP_HAVE_XML_REPARSE_DEFERRAL) || XML_MAJOR_VERSION > 2 || \
    (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 6)
  XML_SetReparseDeferralEnabled(parser, XML_FALSE);
#else
  static_cast<void>(parser);
#endif
}
}  // namespace

DOMParser::DOMParser() { stack_.resize(kInitialStack); }

DOMParser::~DOMParser() = default;

bool DOMParser::CreateParser(const char* encoding, const char* separator) {
  depth_ = -1;
  complete_ = false;
  stopped_ = false;
  finished_ = false;
  fed_ = 0;
  std::string().swap(pending_);
  std::string().swap(unfinished_);
  for (Level& level : stack_) level.node = nullptr;
  std::vector<DOMNode*>().swap(openChildren_);
  std::string().swap(openText_);
  if (!CreateExpat(encoding, separator)) return false;
  ParseEveryPieceAtOnce(Handle());
  return true;
}

void DOMParser::SetTopNode(DOMNode* top) {
  top_ = top;
  names_.Clear();
  namesArena_ = nullptr;
}

bool DOMParser::Parse(const char* bytes, int length, bool isFinal) {
  // Bytes Feed kept back come first; what follows is not watched.
  if (!pending_.empty() && !Flush()) return false;
  unfinished_.clear();
  return ParseNow(bytes, length, isFinal);
}

bool DOMParser::ParseNow(const char* bytes, int length, bool isFinal) {
  if (length < 0) length = bytes ? static_cast<int>(std::strlen(bytes)) : 0;
  // Ending a document that has ended already changes nothing; more bytes after it are refused.
  if (finished_) return length == 0 && isFinal;
  if (stopped_ || !ParseExpat(bytes, length, isFinal)) return false;
  fed_ += length;
  finished_ = isFinal;
  return true;
}

std::size_t DOMParser::Unfinished() const {
  if (!Handle()) return 0;
  const auto at = static_cast<std::int64_t>(XML_GetCurrentByteIndex(Handle()));
  return at < 0 || at > fed_ ? 0 : static_cast<std::size_t>(fed_ - at);
}

bool DOMParser::Pass(const char* bytes, std::size_t size) {
  if (!ParseNow(bytes, static_cast<int>(size), false)) return false;
  // The unfinished token lies in the last bytes given, and began no earlier than the one
  // before, so its copy is made of the old copy's end and these bytes.
  const std::size_t unfinished = Unfinished();
  try {
    if (unfinished <= size) {
      unfinished_.assign(bytes + size - unfinished, unfinished);
    } else if (unfinished - size <= unfinished_.size()) {
      unfinished_.erase(0, unfinished_.size() - (unfinished - size));
      unfinished_.append(bytes, size);
    } else {
      unfinished_.clear();  // cannot happen; watching stops, so nothing is kept back
    }
  } catch (...) {
    unfinished_.clear();
  }
  if (unfinished_.size() >= kGatherFrom) tokenEnd_.Start(unfinished_);
  return true;
}

bool DOMParser::Feed(const char* bytes, int length) {
  if (length < 0) length = bytes ? static_cast<int>(std::strlen(bytes)) : 0;
  if (stopped_ || !Accepting() || (!bytes && length != 0)) return false;
  const std::size_t size = static_cast<std::size_t>(length);
  if (unfinished_.size() < kGatherFrom) return Pass(bytes, size);
  try {
    pending_.append(bytes, size);
  } catch (...) {
    stopped_ = true;  // bytes are lost: nothing after them may be taken
    return false;
  }
  const bool mayEnd = tokenEnd_.Scan({bytes, size});
  return (!mayEnd && pending_.size() < 2 * unfinished_.size()) || Flush();
}

bool DOMParser::Flush() {
  bool ok = !stopped_ && Accepting();
  for (std::size_t at = 0; ok && at < pending_.size(); at += kLargestPiece) {
    const std::size_t piece = std::min(kLargestPiece, pending_.size() - at);
    ok = Pass(pending_.data() + at, piece);
  }
  if (pending_.capacity() > kKeptCapacity) {
    std::string().swap(pending_);
  } else {
    pending_.clear();
  }
  return ok;
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
    if (got > 0) ok = Feed(block, static_cast<int>(got));
    if (got < sizeof block) {
      // A read error, unlike the end of the file, fails the parse.
      if (std::ferror(file)) ok = false;
      break;
    }
  }
  std::fclose(file);
  // The end of the file ends the document: a truncated one, or none at all, is refused.
  return ok && Flush() && ParseNow(nullptr, 0, true);
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

std::span<const XML_Char** const> DOMParser::SortAttributes(const XML_Char** attributes) {
  // Sorted once per element: inserting one by one into the ordered array would cost time
  // quadratic in the number of attributes. Expat has already refused repeated names.
  sorted_.clear();
  for (const XML_Char** pair = attributes; pair[0]; pair += 2) sorted_.push_back(pair);
  std::sort(sorted_.begin(), sorted_.end(), [](const XML_Char** a, const XML_Char** b) {
    return std::strcmp(a[0], b[0]) < 0;  // compares as unsigned bytes
  });
  return sorted_;
}

bool DOMParser::StartTop(const XML_Char* name, const XML_Char** attributes) {
  if (!top_->SetName(name)) return false;
  // In ascending order each one is appended at the end of the array.
  for (const XML_Char** pair : SortAttributes(attributes)) {
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
  if (depth >= stack_.size()) stack_.resize(depth + 1);

  void* memory = arena->Allocate(sizeof(DOMNode), alignof(DOMNode));
  if (!memory) return false;
  auto* node = new (memory) DOMNode;
  node->inArena_ = true;
  node->parent_ = stack_[depth - 1].node;
  StringRep* nameRep = names_.Find(*arena, name);
  if (!nameRep) return false;
  node->name_.Share(nameRep);

  const auto sorted = SortAttributes(attributes);
  if (!sorted.empty()) {
    const std::size_t count = sorted.size();
    auto* array = static_cast<DOMNode::AttributeArray*>(arena->Allocate(
        sizeof(DOMNode::AttributeArray) + sizeof(DOMAttribute) * count, alignof(DOMAttribute)));
    if (!array) return false;
    array->size = 0;
    array->capacity = 0;
    DOMAttribute* items = array->Items();
    for (const XML_Char** pair : sorted) {
      StringRep* keyRep = names_.Find(*arena, pair[0]);
      StringRep* valueRep = StringRep::InArena(*arena, pair[1], std::strlen(pair[1]));
      if (!keyRep || !valueRep) return false;
      if (keyRep->size == 5 && std::memcmp(keyRep->Data(), "xmlns", 5) == 0) {
        node->namespace_.Share(valueRep);
      }
      auto* item = new (&items[array->size]) DOMAttribute;
      item->name.Share(keyRep);
      item->value.Share(valueRep);
      ++array->size;
    }
    node->attributes_ = array;
  }

  Level& level = stack_[depth];
  level.node = node;
  level.childStart = openChildren_.size();
  level.textStart = openText_.size();
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
  if (openText_.size() > level.textStart) {
    openText_.append(text);
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
  openText_.append(rep->Data(), rep->size);
  openText_.append(text);
  field.Clear();
  return true;
}

bool DOMParser::Finish(Level& level) {
  DOMArena* arena = Arena();
  if (!arena) return false;
  DOMNode* node = level.node;
  if (openText_.size() > level.textStart) {
    StringRep* text = StringRep::InArena(*arena, openText_.data() + level.textStart,
                                         openText_.size() - level.textStart);
    if (!text) return false;
    node->text_.Share(text);
    openText_.resize(level.textStart);
  }
  if (openChildren_.size() > level.childStart) {
    const std::size_t count = openChildren_.size() - level.childStart;
    auto* array = static_cast<DOMNode::ChildArray*>(
        arena->Allocate(sizeof(DOMNode::ChildArray) + sizeof(DOMNode*) * count, alignof(DOMNode*)));
    if (!array) return false;
    array->size = static_cast<std::uint32_t>(count);
    array->capacity = 0;
    std::memcpy(array->Items(), openChildren_.data() + level.childStart, sizeof(DOMNode*) * count);
    node->children_ = array;
    openChildren_.resize(level.childStart);
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
        openChildren_.push_back(node);
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
