// The compact writer: exact bytes for parsed and built trees, the escape table, and the buffer
// rules when the text does not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "xml_test_support.h"

namespace VEXO::XML {
namespace {

using kqcp_test::ParseInto;
using kqcp_test::Write;

TEST(DomWriter, WritesParsedDocumentsInCompactForm) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      // Text stands before the children, whatever its place in the document.
      {"<a>x<b/>y</a>", "<a>xy<b /></a>"},
      {"<a/>", "<a />"},
      {"<a></a>", "<a />"},
      // Attributes in name order, each followed by a space.
      {"<a z='1' a='2'/>", "<a a='2'  z='1'  />"},
      {"<a x=\"1\" y=\"2\">t</a>", "<a x='1'  y='2' >t</a>"},
      {"<r><b k='v'/></r>", "<r><b k='v'  /></r>"},
      // Indentation stays in the parent's text, line feeds as references.
      {"<r>\n  <c>1</c>\n  <c>2</c>\n</r>", "<r>&#10;  &#10;  &#10;<c>1</c><c>2</c></r>"},
      // Declarations, comments and processing instructions are not kept; CDATA is text.
      {"<?xml version='1.0'?><!-- c --><r><?pi x?><![CDATA[<&>]]></r>", "<r>&lt;&amp;&gt;</r>"},
      // Non-ASCII bytes are written as they are.
      {"<r n='\xC3\xA9'>\xE4\xB8\xAD</r>", "<r n='\xC3\xA9' >\xE4\xB8\xAD</r>"},
      {"<r>&#9;&#13;</r>", "<r>&#09;&#13;</r>"},
  };
  for (const auto& c : cases) {
    DOMNode top;
    ASSERT_TRUE(ParseInto(top, c.input)) << c.input;
    EXPECT_EQ(Write(top), c.expected) << c.input;
  }
}

TEST(DomWriter, EscapesValuesAndTextWithTheFixedTable) {
  DOMNode node;
  ASSERT_TRUE(node.SetName("e"));
  ASSERT_EQ(node.SetAttribute("v", "\t\"'&<>\x7f\xff"), kDomOk);
  ASSERT_TRUE(node.SetText("a\tb\nc\rd\"'&<>"));
  EXPECT_EQ(Write(node),
            "<e v='&#09;&quot;&apos;&amp;&lt;&gt;\x7f\xff' >"
            "a&#09;b&#10;c&#13;d&quot;&apos;&amp;&lt;&gt;</e>");
}

// XML cannot carry the other control bytes, not even as references: the text would not parse.
TEST(DomWriter, ControlBytesOtherThanTabAndLineEndsAreUnwritable) {
  for (int byte = 1; byte < 32; ++byte) {
    const bool allowed = byte == 9 || byte == 10 || byte == 13;
    // Short and long strings take different paths through the writer.
    for (const std::size_t padding : {std::size_t{0}, std::size_t{100}}) {
      const std::string text = std::string(padding, 'x') + static_cast<char>(byte) + "y";
      DOMNode inText;
      DOMNode inValue;
      ASSERT_TRUE(inText.SetName("e") && inValue.SetName("e"));
      ASSERT_TRUE(inText.SetText(text.c_str()));
      ASSERT_EQ(inValue.SetAttribute("v", text.c_str()), kDomOk);
      for (const DOMNode* node : {&inText, &inValue}) {
        for (const int size : {1 << 16, static_cast<int>(padding) + 20}) {
          const std::string written = Write(*node, size);
          if (!allowed) {
            EXPECT_EQ(written, "<failed>") << byte;
            continue;
          }
          if (written == "<failed>") continue;  // too small a buffer for the reference
          // What is written parses back to the same bytes.
          DOMNode back;
          ASSERT_TRUE(ParseInto(back, written)) << written;
          EXPECT_EQ(node == &inText ? back.GetText() : back.GetAttribute("v"), text) << byte;
        }
      }
    }
  }
}

TEST(DomWriter, BuiltTreesKeepChildOrderAndNesting) {
  DOMNode root;
  ASSERT_TRUE(root.SetName("root"));
  DOMNode* first = DOMNode::New("first", &root);
  DOMNode* second = DOMNode::New("second", nullptr);
  DOMNode* inner = DOMNode::New("inner", nullptr);
  ASSERT_TRUE(first && second && inner);
  ASSERT_EQ(second->AttachChild(inner), kDomOk);
  ASSERT_TRUE(inner->SetText("deep"));
  ASSERT_EQ(root.AttachChild(first), kDomOk);
  ASSERT_EQ(root.AttachChild(second), kDomOk);
  EXPECT_EQ(inner->Parent(), second);
  EXPECT_EQ(Write(root), "<root><first /><second><inner>deep</inner></second></root>");
  root.RemoveAllChildren();
  EXPECT_EQ(Write(root), "<root />");
}

TEST(DomWriter, ABufferTooSmallFailsWithATerminatedPartialText) {
  DOMNode top;
  ASSERT_TRUE(ParseInto(top, "<msg id='7'><a>x&amp;y</a><b/></msg>"));
  const std::string full = Write(top);
  ASSERT_EQ(full, "<msg id='7' ><a>x&amp;y</a><b /></msg>");
  const int exact = static_cast<int>(full.size()) + 1;
  EXPECT_EQ(Write(top, exact), full);
  // Every size short of that fails, never writes past the buffer, and leaves a NUL-terminated
  // prefix of the full text.
  for (int size = 1; size < exact; ++size) {
    std::string buffer(static_cast<std::size_t>(size) + 8, '#');
    int length = -5;
    EXPECT_EQ(top.Serialize(buffer.data(), size, &length), -1) << size;
    EXPECT_EQ(length, -5);
    EXPECT_EQ(buffer.substr(static_cast<std::size_t>(size)), "########") << size;
    const std::size_t partial = std::strlen(buffer.c_str());
    ASSERT_LT(partial, static_cast<std::size_t>(size));
    EXPECT_EQ(full.compare(0, partial, buffer, 0, partial), 0) << size << " " << buffer;
  }
  // A piece is written whole or not at all: an entity is never cut.
  std::string buffer(64, '#');
  ASSERT_EQ(top.Serialize(buffer.data(), 22, nullptr), -1);
  EXPECT_STREQ(buffer.c_str(), "<msg id='7' ><a>x");
}

TEST(DomWriter, AnAttributeNeedsRoomForItsOwnTerminator) {
  DOMNode node;
  ASSERT_TRUE(node.SetName("a"));
  ASSERT_EQ(node.SetAttribute("k", "v"), kDomOk);
  // "<a" then " k='v' " (7 bytes) needs 8 bytes of room; the last byte is never used.
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(node.Serialize(buffer, 2 + 7 + 1, nullptr), -1);
  EXPECT_STREQ(buffer, "<a");
  EXPECT_EQ(node.Serialize(buffer, 2 + 8 + 1, nullptr), -1);
  EXPECT_STREQ(buffer, "<a k='v' ");
}

TEST(DomWriter, RefusesNullOrEmptyBuffers) {
  DOMNode node;
  ASSERT_TRUE(node.SetName("a"));
  int length = 9;
  EXPECT_EQ(node.Serialize(nullptr, 100, &length), -1);
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(node.Serialize(buffer, 0, &length), -1);
  EXPECT_EQ(node.Serialize(buffer, -3, &length), -1);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(node.Serialize(buffer, 1, &length), -1);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(length, 9);
}

}  // namespace
}  // namespace VEXO::XML
