// Path syntax and lookup below a context node.
#include "xml/node_path.h"

#include <gtest/gtest.h>

#include "xml_test_support.h"

namespace VEXO::XML {
namespace {

TEST(NodePath, ParsesTheSyntax) {
  struct Case {
    const char* path;
    bool valid;
    bool relative;
    std::vector<std::string_view> segments;
    std::string_view attribute;
  } cases[] = {
      {"a", true, true, {"a"}, ""},
      {"a/b", true, true, {"a", "b"}, ""},
      {"/r/a", true, false, {"r", "a"}, ""},
      {"@id", true, false, {}, "id"},
      {"/@id", true, false, {}, "id"},
      {"a/@id", true, true, {"a"}, "id"},
      {"a//b", true, true, {"a", "", "b"}, ""},
      {"_x9/\xC3\xA9", true, true, {"_x9", "\xC3\xA9"}, ""},
      {"", false, false, {}, ""},
      {"/", false, false, {}, ""},
      {"@", false, false, {}, ""},
      {"a/", false, false, {}, ""},
      {"a@b", false, false, {}, ""},
      {"a/@", false, false, {}, ""},
      {"@a/b", false, false, {}, ""},
      {"a/@b@c", false, false, {}, ""},
      {"a/@b/c", false, false, {}, ""},
      {"a-b", false, false, {}, ""},
      {"-a", false, false, {}, ""},
      {"a b", false, false, {}, ""},
  };
  for (const auto& c : cases) {
    const NodePath path(c.path);
    EXPECT_EQ(path.IsValid(), c.valid) << c.path;
    if (!c.valid || !path.IsValid()) continue;
    EXPECT_EQ(path.IsRelative(), c.relative) << c.path;
    EXPECT_EQ(path.Segments(), c.segments) << c.path;
    EXPECT_EQ(path.Attribute(), c.attribute) << c.path;
  }
}

TEST(NodePath, FindsTheFirstMatchingChildAtEachStep) {
  DOMNode top;
  ASSERT_TRUE(kqcp_test::ParseInto(
      top, "<x><a n='1'><c/></a><a n='2'><b n='3'/></a><b n='4'/><a n='5'><b n='6'/></a></x>"));
  struct Case {
    const char* path;
    int result;
    const char* n;  // attribute n of the node found
  } cases[] = {
      {"a", kDomOk, "1"},
      {"b", kDomOk, "4"},
      // The first a has no b below it; lookup does not try the later a elements.
      {"a/b", kDomPathNotFound, nullptr},
      {"a/c", kDomOk, nullptr},
      {"/x/b", kDomOk, "4"},
      {"/x/a@n", kDomInvalidPath, nullptr},
      {"/x/a/@n", kDomOk, "1"},
      {"@n", kDomOk, nullptr},  // the context node itself
      {"/r/a", kDomPathRootMismatch, nullptr},
      {"/x", kDomOk, nullptr},
      {"zz", kDomPathNotFound, nullptr},
      {"a@b", kDomInvalidPath, nullptr},
      {"a/", kDomInvalidPath, nullptr},
  };
  for (const auto& c : cases) {
    DOMNode* found = nullptr;
    EXPECT_EQ(top.Find(c.path, &found), c.result) << c.path;
    if (c.result != kDomOk) {
      EXPECT_EQ(found, nullptr);
      continue;
    }
    ASSERT_NE(found, nullptr) << c.path;
    if (c.n) {
      EXPECT_STREQ(found->GetAttribute("n"), c.n) << c.path;
    }
  }
  DOMNode* found = nullptr;
  EXPECT_EQ(top.Find("@n", &found), kDomOk);
  EXPECT_EQ(found, &top);
  EXPECT_EQ(top.Find(nullptr, &found), kDomInvalidPath);
}

}  // namespace
}  // namespace VEXO::XML
