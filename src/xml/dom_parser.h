// Builds a DOMNode tree from XML text through Expat. The first element of the document fills
// the top node supplied by the caller; each later element joins its parent when its end tag
// arrives. The completion flag is set when a direct child of the top element closes, or the
// top element itself. The parser never owns or destroys the tree.
#pragma once

#include <string>
#include <vector>

#include "xml/dom_node.h"
#include "xml/expat_parser.h"

namespace VEXO::XML {

class DOMParser : public ExpatParser<DOMParser> {
 public:
  DOMParser();
  ~DOMParser() override;

  // A fresh Expat parser (any previous one is freed); clears depth and completion, not the
  // top node. Every caller in the library passes null for both.
  bool CreateParser(const char* encoding = nullptr, const char* separator = nullptr);
  void SetTopNode(DOMNode* top);
  DOMNode* TopNode() const { return top_; }
  // Negative length: NUL-terminated bytes. False when Expat refused them.
  bool Parse(const char* bytes, int length, bool isFinal);
  // Opens the file, creates a fresh Expat parser and feeds it in 4096-byte blocks without the
  // final flag: true when the file opened and every block was accepted.
  bool ParseFile(const char16_t* path);
  bool IsComplete() const { return complete_; }
  int Depth() const { return depth_; }

  void OnStartElement(const XML_Char* name, const XML_Char** attributes);
  void OnEndElement(const XML_Char* name);
  void OnCharacterData(const XML_Char* data, int length);

 private:
  // An open element below the top: its text and finished children are gathered here and
  // copied into the arena, exactly sized, when its end tag arrives.
  struct Level {
    DOMNode* node = nullptr;
    std::string text;
    std::vector<DOMNode*> children;
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

  bool StartChild(const XML_Char* name, const XML_Char** attributes);
  bool StartTop(const XML_Char* name, const XML_Char** attributes);
  bool AppendText(Level& level, std::string_view text);
  bool Finish(Level& level);
  DOMArena* Arena();
  // Fails the current parse from inside a handler.
  void Stop();

  // The element stack: entry 0 is the top node. It starts with 16 entries and grows.
  std::vector<Level> stack_;
  DOMNode* top_ = nullptr;
  int depth_ = -1;
  bool complete_ = false;
  bool stopped_ = false;
  NameTable names_;
  DOMArena* namesArena_ = nullptr;
};

}  // namespace VEXO::XML
