// Building trees through Expat: stream completion, split input, the xmlns rule, deep nesting,
// the gb2312 handler, and file parsing (truncated, missing, "\" separators).
#include "xml/dom_parser.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/temp_dir.h"
#include "xml_test_support.h"

namespace VEXO::XML {
namespace {

using kqcp_test::ParseInto;
using kqcp_test::Write;

std::u16string Wide(const std::string& text) { return {text.begin(), text.end()}; }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TEST(DomParser, CompletesWhenTheFirstChildOrTheTopElementCloses) {
  struct Case {
    const char* input;
    bool complete;
  } cases[] = {
      {"<a>", false},    {"<a><b>", false},    {"<a><b><c/>", false},  // a grandchild is not enough
      {"<a><b/>", true}, {"<a><b></b>", true}, {"<a/>", true},        {"<a>text</a>", true},
  };
  for (const auto& c : cases) {
    DOMNode top;
    DOMParser parser;
    ASSERT_TRUE(parser.CreateParser());
    EXPECT_FALSE(parser.IsComplete());
    EXPECT_EQ(parser.Depth(), -1);
    parser.SetTopNode(&top);
    ASSERT_TRUE(parser.Parse(c.input, -1, false)) << c.input;
    EXPECT_EQ(parser.IsComplete(), c.complete) << c.input;
  }
}

TEST(DomParser, BuildsTheSameTreeFromAnySplitOfTheInput) {
  const std::string input =
      "<?xml version='1.0' encoding='UTF-8'?>\n<root a='1' b='&lt;2&gt;'>head"
      "<item id='1'>one &amp; \xC3\xA9</item><item id='2'><sub/></item>tail</root>";
  DOMNode whole;
  ASSERT_TRUE(ParseInto(whole, input));
  const std::string expected = Write(whole);
  EXPECT_EQ(expected,
            "<root a='1'  b='&lt;2&gt;' >headtail<item id='1' >one &amp; \xC3\xA9</item>"
            "<item id='2' ><sub /></item></root>");
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    for (std::size_t second = cut; second <= input.size(); second += 7) {
      DOMNode top;
      DOMParser parser;
      ASSERT_TRUE(parser.CreateParser());
      parser.SetTopNode(&top);
      ASSERT_TRUE(parser.Parse(input.data(), static_cast<int>(cut), false));
      ASSERT_TRUE(parser.Parse(input.data() + cut, static_cast<int>(second - cut), false));
      ASSERT_TRUE(
          parser.Parse(input.data() + second, static_cast<int>(input.size() - second), false));
      ASSERT_EQ(Write(top), expected) << cut << " " << second;
    }
  }
}

TEST(DomParser, OpenElementsAreNotAttached) {
  DOMNode top;
  ASSERT_TRUE(ParseInto(top, "<r>t1<done><x/></done>t2<open><y/>"));
  EXPECT_EQ(Write(top), "<r>t1t2<done><x /></done></r>");
  ASSERT_EQ(top.ChildCount(), 1u);
  EXPECT_EQ(top.Children()[0]->Parent(), &top);
}

TEST(DomParser, XmlnsGoesToTheNamespaceFieldAndTheMap) {
  DOMNode top;
  ASSERT_TRUE(ParseInto(top, "<r xmlns='urn:a'><c xmlns='urn:b' k='v'/></r>"));
  EXPECT_STREQ(top.GetNamespace(), "urn:a");
  EXPECT_STREQ(top.GetAttribute("xmlns"), "urn:a");
  const DOMNode* child = top.Children()[0];
  EXPECT_STREQ(child->GetNamespace(), "urn:b");
  EXPECT_STREQ(child->FindAttribute("xmlns")->value.c_str(), "urn:b");
  EXPECT_EQ(Write(top), "<r xmlns='urn:a' ><c k='v'  xmlns='urn:b'  /></r>");

  // Setting it twice: the map keeps the first value, the namespace field takes the second.
  DOMNode node;
  ASSERT_TRUE(node.SetName("n"));
  EXPECT_EQ(node.SetAttribute("xmlns", "first"), kDomOk);
  EXPECT_EQ(node.SetAttribute("xmlns", "second"), kDomAttributeExists);
  EXPECT_STREQ(node.GetNamespace(), "second");
  EXPECT_STREQ(node.GetAttribute("xmlns"), "second");
  EXPECT_EQ(Write(node), "<n xmlns='first'  />");
  // Without an xmlns attribute the namespace reads as empty.
  EXPECT_STREQ(DOMNode().GetAttribute("xmlns"), "");
}

TEST(DomParser, RefusesMalformedInputAndKeepsWhatWasComplete) {
  DOMNode top;
  DOMParser parser;
  ASSERT_TRUE(parser.CreateParser());
  parser.SetTopNode(&top);
  ASSERT_TRUE(parser.Parse("<r><a/><b>", -1, false));
  EXPECT_FALSE(parser.Parse("</c>", -1, false));
  EXPECT_FALSE(parser.Parse("</b></r>", -1, false));  // refused until the parser is made anew
  EXPECT_EQ(Write(top), "<r><a /></r>");
  // A second top element is refused.
  DOMNode other;
  DOMParser second;
  ASSERT_TRUE(second.CreateParser());
  second.SetTopNode(&other);
  ASSERT_TRUE(second.Parse("<a/>\r\n\r\n", -1, false));
  EXPECT_FALSE(second.Parse("<b/>", -1, false));
  // Without a parser nothing is accepted.
  DOMParser none;
  EXPECT_FALSE(none.Parse("<a/>", -1, false));
}

TEST(DomParser, DeepDocumentsParseWriteFindAndDestroyWithoutRecursion) {
  constexpr int kDepth = 200000;
  std::string input;
  std::string path;
  for (int i = 0; i < kDepth; ++i) input += "<d>";
  input += "<leaf k='v'/>";
  for (int i = 0; i < kDepth; ++i) input += "</d>";
  for (int i = 1; i < kDepth; ++i) path += "d/";
  path += "leaf";

  auto* top = new DOMNode;
  ASSERT_TRUE(ParseInto(*top, input));
  DOMNode* leaf = nullptr;
  ASSERT_EQ(top->Find(path.c_str(), &leaf), kDomOk);
  EXPECT_STREQ(leaf->GetAttribute("k"), "v");
  std::string expected;
  for (int i = 0; i < kDepth; ++i) expected += "<d>";
  expected += "<leaf k='v'  />";
  for (int i = 0; i < kDepth; ++i) expected += "</d>";
  EXPECT_EQ(Write(*top, static_cast<int>(expected.size()) + 1), expected);
  delete top;

  // A heap tree built by hand is as deep and goes as quietly.
  DOMNode* root = DOMNode::New("d", nullptr);
  DOMNode* node = root;
  for (int i = 0; i < kDepth; ++i) {
    DOMNode* child = DOMNode::New("d", nullptr);
    ASSERT_EQ(node->AttachChild(child), kDomOk);
    node = child;
  }
  delete root;
}

TEST(DomParser, ReadsGb2312DocumentsAsUtf8) {
  // "中文" in GB2312 is D6 D0 CE C4; in the attribute and the text.
  const std::string input =
      "<?xml version='1.0' encoding='GB2312'?><r n='\xD6\xD0'>\xD6\xD0\xCE\xC4 ok</r>";
  DOMNode top;
  ASSERT_TRUE(ParseInto(top, input));
  EXPECT_STREQ(top.GetText(), "\xE4\xB8\xAD\xE6\x96\x87 ok");
  EXPECT_STREQ(top.GetAttribute("n"), "\xE4\xB8\xAD");
  // A lower-case name is the same encoding.
  DOMNode lower;
  EXPECT_TRUE(ParseInto(lower, "<?xml version='1.0' encoding='gb2312'?><r>\xCE\xC4</r>"));
  EXPECT_STREQ(lower.GetText(), "\xE6\x96\x87");
}

TEST(DomParser, RefusesOtherUnknownEncodingsAndBadGbkPairs) {
  DOMNode top;
  EXPECT_FALSE(ParseInto(top, "<?xml version='1.0' encoding='Shift_JIS'?><r/>"));
  EXPECT_FALSE(ParseInto(top, "<?xml version='1.0' encoding='gb18030'?><r/>"));
  // A lead byte followed by "<" is no GBK character.
  DOMNode bad;
  EXPECT_FALSE(ParseInto(bad, "<?xml version='1.0' encoding='gb2312'?><r>\xD6</r>"));
}

TEST(DomParser, ParsesFilesInBlocksAndRefusesUnfinishedOnes) {
  kqcp_test::TempDir dir;
  std::string document = "<list>";
  for (int i = 0; i < 500; ++i) {
    document += "<entry index='" + std::to_string(i) + "'>value " + std::to_string(i) + "</entry>";
  }
  document += "</list>";
  ASSERT_GT(document.size(), 3 * 4096u);
  const std::string path = dir.File("whole.xml");
  WriteFile(path, document);

  DOMNode whole;
  DOMParser parser;
  parser.SetTopNode(&whole);
  ASSERT_TRUE(parser.ParseFile(Wide(path).c_str()));
  EXPECT_TRUE(parser.IsComplete());
  // The document has ended: ending it again is harmless, more text is not.
  EXPECT_TRUE(parser.Parse("", 0, true));
  EXPECT_FALSE(parser.Parse("<x/>", -1, false));
  EXPECT_EQ(whole.ChildCount(), 500u);
  DOMNode* last = nullptr;
  ASSERT_EQ(whole.Find("entry", &last), kDomOk);
  EXPECT_STREQ(last->GetText(), "value 0");

  // Cut inside the 301st entry: the file is refused; the closed entries are there, the open
  // one is not.
  const std::size_t cut = document.find("<entry index='300'>") + 25;
  WriteFile(dir.File("cut.xml"), document.substr(0, cut));
  DOMNode truncated;
  DOMParser second;
  second.SetTopNode(&truncated);
  EXPECT_FALSE(second.ParseFile(Wide(dir.path() + "\\cut.xml").c_str()));
  EXPECT_EQ(truncated.ChildCount(), 300u);
  EXPECT_STREQ(truncated.Children()[299]->GetAttribute("index"), "299");

  // A file that stops before its top element closes, with only the top's text so far.
  WriteFile(dir.File("text.xml"), "<r a='1'>partial te");
  DOMNode partial;
  DOMParser third;
  third.SetTopNode(&partial);
  EXPECT_FALSE(third.ParseFile(Wide(dir.File("text.xml")).c_str()));
  EXPECT_FALSE(third.IsComplete());
  EXPECT_EQ(Write(partial), "<r a='1' >partial te</r>");

  // Files without a top element.
  for (const char* text : {"", "<?xml version='1.0'?>", "<!-- nothing -->\n"}) {
    WriteFile(dir.File("empty.xml"), text);
    DOMNode none;
    DOMParser fourth;
    fourth.SetTopNode(&none);
    EXPECT_FALSE(fourth.ParseFile(Wide(dir.File("empty.xml")).c_str())) << text;
  }

  DOMParser missing;
  DOMNode nothing;
  missing.SetTopNode(&nothing);
  EXPECT_FALSE(missing.ParseFile(Wide(dir.File("missing.xml")).c_str()));
  WriteFile(dir.File("bad.xml"), "<r><a></b></r>");
  EXPECT_FALSE(missing.ParseFile(Wide(dir.File("bad.xml")).c_str()));
}

TEST(DomParser, ReparsingIntoTheSameTopKeepsEarlierChildren) {
  DOMNode top;
  DOMParser parser;
  parser.SetTopNode(&top);
  ASSERT_TRUE(parser.CreateParser());
  ASSERT_TRUE(parser.Parse("<r><a/></r>", -1, false));
  ASSERT_TRUE(parser.CreateParser());
  EXPECT_FALSE(parser.IsComplete());
  ASSERT_TRUE(parser.Parse("<r k='v'><b/></r>", -1, false));
  EXPECT_EQ(Write(top), "<r k='v' ><a /><b /></r>");
}

}  // namespace
}  // namespace VEXO::XML
