// Builds a DOMNode tree from XML text through Expat. The first element of the document fills
// the top node supplied by the caller; each later element joins its parent when its end tag
// arrives. The completion flag is set when a direct child of the top element closes, or the
// top element itself. The parser never owns or destroys the tree.
#pragma once

#include <deque>
#include <span>
#include <string>
#include <vector>

#include "xml/dom_node.h"
#include "xml/expat_parser.h"
#include "xml/token_end.h"

namespace VEXO::XML {

class DOMParser : public ExpatParser<DOMParser> {
 public:
  DOMParser();
  ~DOMParser() override;

  // A fresh Expat parser (any previous one is freed); clears depth and completion, not the
  // top node. Every caller in the library passes null for both. Expat's own deferral of long
  // tokens is off where it has one: Feed does that work, and completes on the last byte.
  bool CreateParser(const char* encoding = nullptr, const char* separator = nullptr);
  void SetTopNode(DOMNode* top);
  DOMNode* TopNode() const { return top_; }
  // Negative length: NUL-terminated bytes. False when Expat refused them, or refused earlier
  // bytes (a refusal lasts until CreateParser).
  bool Parse(const char* bytes, int length, bool isFinal);
  // As Parse without the final flag, but while Expat waits inside a long unfinished token the
  // bytes are kept back until they may end it, or are twice as many as the token so far.
  // Expat scans an unfinished token again from its start on every call, so feeding it in
  // small pieces as they come would cost time quadratic in the token's length. Bytes that
  // are kept back cannot complete the document.
  bool Feed(const char* bytes, int length);
  // Passes on the bytes Feed kept back; false when Expat refused them (or earlier bytes).
  bool Flush();
  // Opens the file, creates a fresh Expat parser, feeds it in 4096-byte blocks and ends with
  // the final flag: true when the file opened and held one whole document.
  bool ParseFile(const char16_t* path);
  bool IsComplete() const { return complete_; }
  int Depth() const { return depth_; }

  void OnStartElement(const XML_Char* name, const XML_Char** attributes);
  void OnEndElement(const XML_Char* name);
  void OnCharacterData(const XML_Char* data, int length);

 private:
  // An open element below the top. Its finished children, and its text once it can no longer
  // grow in place, are gathered at the ends of openChildren_ and openText_ from the starts
  // noted here (the deeper elements' parts above them have gone by then), and copied into the
  // arena, exactly sized, when its end tag arrives. Kept small: a deep document has one per
  // level.
  struct Level {
    DOMNode* node = nullptr;
    std::size_t childStart = 0;
    std::size_t textStart = 0;
  };

  // Interns element and attribute names in the top node's arena: documents repeat a few names.
  class NameTable {
   public:
    StringRep* Find(DOMArena& arena, const char* name);
    void Clear();

   private:
    struct Slot {
      std::uint32_t hash = 0;
      StringRep* rep = nullptr;
    };
    static constexpr std::size_t kSlots = 1024;
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
  };

  // The attribute pairs of a start tag in ascending name order (valid until the next call).
  std::span<const XML_Char** const> SortAttributes(const XML_Char** attributes);
  bool StartChild(const XML_Char* name, const XML_Char** attributes);
  // Parse of bytes that come right after those given so far.
  bool ParseNow(const char* bytes, int length, bool isFinal);
  // ParseNow without the final flag, then notes the token Expat has not finished.
  bool Pass(const char* bytes, std::size_t size);
  // Bytes of the token Expat has not finished, counted from its start.
  std::size_t Unfinished() const;
  bool StartTop(const XML_Char* name, const XML_Char** attributes);
  bool AppendText(Level& level, std::string_view text);
  bool Finish(Level& level);
  DOMArena* Arena();
  // Fails the current parse from inside a handler.
  void Stop();

  // The element stack: entry 0 is the top node. It starts with 16 entries and grows in blocks,
  // never copying what it holds.
  std::deque<Level> stack_;
  std::vector<DOMNode*> openChildren_;
  std::string openText_;
  DOMNode* top_ = nullptr;
  int depth_ = -1;
  bool complete_ = false;
  bool stopped_ = false;
  bool finished_ = false;  // the final flag was given and accepted
  std::vector<const XML_Char**> sorted_;
  std::string pending_;     // kept back by Feed
  std::int64_t fed_ = 0;    // bytes given to Expat since CreateParser
  std::string unfinished_;  // the bytes of the token Expat has not finished
  TokenEnd tokenEnd_;       // over unfinished_ and pending_, while unfinished_ is long
  NameTable names_;
  DOMArena* namesArena_ = nullptr;
};

}  // namespace VEXO::XML
