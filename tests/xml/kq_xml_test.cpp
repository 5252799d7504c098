// The element object: interface rules, the copy rules of each getter, navigation and the
// handed-out set, and the ownership of nodes when elements are created, added and released.
#include "xml/kq_xml.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "com/com_ptr.h"
#include "xml_test_support.h"

namespace Vantor::KQCP {
namespace {

using com::ComPtr;
using kqcp_test::NameOf;

ComPtr<IKQXmlElement> NewElement(const char* name = nullptr, IKQXmlElement* parent = nullptr) {
  auto element = ComPtr<IKQXmlElement>::Adopt(com::MakeObject<KQXml>());
  if (name) {
    EXPECT_EQ(element->Create(name, parent), kXmlOk);
  }
  return element;
}

std::string Serialize(IKQXmlElement* element) {
  char buffer[1024];
  std::int32_t length = -1;
  if (element->Serialize(buffer, sizeof buffer, &length) != kXmlOk) return "<failed>";
  return std::string(buffer, static_cast<std::size_t>(length));
}

TEST(KQXml, AnswersOnlyItsOwnIdentifierWithoutAddingAReference) {
  auto element = NewElement();
  auto* raw = static_cast<KQXml*>(element.Get());
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(element->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(element->QueryInterface(IID_IXMLPackage, &out), E_NOINTERFACE);
  EXPECT_EQ(element->QueryInterface(IID_IKQXmlElement, &out), S_OK);
  EXPECT_EQ(out, element.Get());
  EXPECT_EQ(raw->ReferenceCount(), 1);
  EXPECT_EQ(element->AddRef(), 2u);
  EXPECT_EQ(element->Release(), 1u);
}

TEST(KQXml, EveryOperationFailsBeforeCreate) {
  auto element = NewElement();
  auto other = NewElement("o");
  char buffer[16] = {};
  std::int32_t count = 0;
  IKQXmlElement* out = nullptr;
  EXPECT_EQ(element->SetText("t"), kXmlFailed);
  EXPECT_EQ(element->SetName("n"), kXmlFailed);
  EXPECT_EQ(element->SetNamespace("n"), kXmlFailed);
  EXPECT_EQ(element->SetAttribute("a", "b"), kXmlFailed);
  EXPECT_EQ(element->SetAttributeInt("a", 1), kXmlFailed);
  EXPECT_EQ(element->RemoveAllAttributes(), kXmlFailed);
  EXPECT_EQ(element->AddChild(other.Get()), kXmlFailed);
  EXPECT_EQ(other->AddChild(element.Get()), kXmlFailed);
  EXPECT_EQ(element->RemoveAllChildren(), kXmlFailed);
  EXPECT_EQ(element->GetText(buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->GetName(buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->GetNamespace(buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->GetAttribute("a", buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->GetFirstChild(0, &out), kXmlFailed);
  EXPECT_EQ(element->FindElement("a", &out), kXmlFailed);
  EXPECT_EQ(element->GetChildCount(&count), kXmlFailed);
  EXPECT_EQ(element->GetChild(0, &out), kXmlFailed);
  EXPECT_EQ(element->GetChildByName("a", &out), kXmlFailed);
  EXPECT_EQ(element->GetChildCountByName("a", &count), kXmlFailed);
  EXPECT_EQ(element->GetChildByNameAt("a", 0, &out), kXmlFailed);
  EXPECT_EQ(element->GetAttributeCount(&count), kXmlFailed);
  EXPECT_EQ(element->GetAttributeAt(0, buffer, 4, buffer + 4, 4), kXmlFailed);
  EXPECT_EQ(element->GetAttributeValue("a", buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->Serialize(buffer, sizeof buffer, &count), kXmlFailed);
  EXPECT_EQ(element->GetParent(&out), kXmlFailed);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(element->Create("now", nullptr), kXmlOk);
  EXPECT_EQ(Serialize(element.Get()), "<now />");
}

TEST(KQXml, GettersCopyWholeStringsOrRefuse) {
  auto element = NewElement("name");
  ASSERT_EQ(element->SetText("hello"), kXmlOk);
  ASSERT_EQ(element->SetNamespace("urn:x"), kXmlOk);
  char buffer[10];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(element->GetText(buffer, 5), kXmlFailed);  // no room for the NUL
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(element->GetText(buffer, 6), kXmlOk);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(buffer[6], '#');  // only the given length is touched
  EXPECT_EQ(element->GetText(buffer, sizeof buffer), kXmlOk);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("hello\0\0\0\0\0", 10));
  EXPECT_EQ(element->GetName(buffer, 4), kXmlFailed);
  EXPECT_EQ(element->GetName(buffer, 5), kXmlOk);
  EXPECT_STREQ(buffer, "name");
  EXPECT_EQ(element->GetNamespace(buffer, sizeof buffer), kXmlOk);
  EXPECT_STREQ(buffer, "urn:x");
  EXPECT_EQ(element->GetText(nullptr, 10), kXmlFailed);
  // The namespace field is never written out.
  EXPECT_EQ(Serialize(element.Get()), "<name>hello</name>");
}

TEST(KQXml, AttributesFollowTheMapAndTheXmlnsRule) {
  auto element = NewElement("e");
  char buffer[16];
  // xmlns never set: GetAttribute reads the empty namespace field, the map has nothing.
  EXPECT_EQ(element->GetAttribute("xmlns", buffer, sizeof buffer), kXmlOk);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(element->GetAttributeValue("xmlns", buffer, sizeof buffer), kXmlFailed);

  EXPECT_EQ(element->SetAttribute("k", "first"), kXmlOk);
  EXPECT_EQ(element->SetAttribute("k", "second"), kXmlAttributeExists);
  EXPECT_EQ(element->GetAttributeValue("k", buffer, sizeof buffer), kXmlOk);
  EXPECT_STREQ(buffer, "first");
  EXPECT_EQ(element->SetAttributeInt("n", -42), kXmlOk);
  EXPECT_EQ(element->SetAttributeInt("n", 5), kXmlAttributeExists);
  EXPECT_EQ(element->SetAttribute("a", "1"), kXmlOk);
  EXPECT_EQ(element->SetAttribute("xmlns", "urn:one"), kXmlOk);
  EXPECT_EQ(element->SetAttribute("xmlns", "urn:two"), kXmlAttributeExists);
  EXPECT_EQ(element->GetAttribute("xmlns", buffer, sizeof buffer), kXmlOk);
  EXPECT_STREQ(buffer, "urn:two");
  EXPECT_EQ(element->GetAttributeValue("xmlns", buffer, sizeof buffer), kXmlOk);
  EXPECT_STREQ(buffer, "urn:one");
  EXPECT_EQ(element->GetAttribute("missing", buffer, sizeof buffer), kXmlFailed);
  EXPECT_EQ(element->GetAttribute("n", buffer, 3), kXmlFailed);
  EXPECT_EQ(element->GetAttribute("n", buffer, 4), kXmlOk);
  EXPECT_STREQ(buffer, "-42");

  std::int32_t count = 0;
  EXPECT_EQ(element->GetAttributeCount(&count), kXmlOk);
  EXPECT_EQ(count, 4);
  // Ascending name order; an index of 0 or less is the first.
  const char* order[] = {"a", "k", "n", "xmlns"};
  char name[8];
  char value[8];
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(element->GetAttributeAt(i, name, sizeof name, value, sizeof value), kXmlOk);
    EXPECT_STREQ(name, order[i]);
  }
  EXPECT_EQ(element->GetAttributeAt(-3, name, sizeof name, value, sizeof value), kXmlOk);
  EXPECT_STREQ(name, "a");
  EXPECT_EQ(element->GetAttributeAt(4, name, sizeof name, value, sizeof value), kXmlFailed);
  // Truncated copies carry no terminator when the string fills the buffer.
  std::memset(name, '#', sizeof name);
  std::memset(value, '#', sizeof value);
  ASSERT_EQ(element->GetAttributeAt(3, name, 3, value, 5), kXmlOk);
  EXPECT_EQ(std::string(name, 4), "xml#");
  EXPECT_EQ(std::string(value, 6), "urn:o#");
  EXPECT_EQ(element->GetAttributeValue("k", value, 3), kXmlOk);
  EXPECT_EQ(std::string(value, 4), "fir:");
  EXPECT_EQ(Serialize(element.Get()), "<e a='1'  k='first'  n='-42'  xmlns='urn:one'  />");
  EXPECT_EQ(element->RemoveAllAttributes(), kXmlOk);
  EXPECT_EQ(element->GetAttributeCount(&count), kXmlOk);
  EXPECT_EQ(count, 0);
}

TEST(KQXml, NavigatesByIndexNameAndPath) {
  auto root = NewElement("root");
  for (const char* name : {"b", "a", "b"}) {
    auto child = NewElement(name);
    ASSERT_EQ(child->SetText(name), kXmlOk);
    ASSERT_EQ(root->AddChild(child.Get()), kXmlOk);
  }
  IKQXmlElement* out = nullptr;
  std::int32_t count = -1;
  EXPECT_EQ(root->GetChildCount(&count), kXmlOk);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(root->GetChildCountByName("b", &count), kXmlOk);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(root->GetChildCountByName("zz", &count), kXmlOk);
  EXPECT_EQ(count, 0);

  IKQXmlElement* firstB = nullptr;
  ASSERT_EQ(root->GetChildByName("b", &firstB), kXmlOk);
  IKQXmlElement* child0 = nullptr;
  ASSERT_EQ(root->GetChild(0, &child0), kXmlOk);
  EXPECT_NE(firstB, child0);  // two element objects over one node
  EXPECT_EQ(static_cast<KQXml*>(firstB)->Node(), static_cast<KQXml*>(child0)->Node());
  IKQXmlElement* secondB = nullptr;
  ASSERT_EQ(root->GetChildByNameAt("b", 1, &secondB), kXmlOk);
  IKQXmlElement* child2 = nullptr;
  ASSERT_EQ(root->GetChild(2, &child2), kXmlOk);
  EXPECT_EQ(static_cast<KQXml*>(secondB)->Node(), static_cast<KQXml*>(child2)->Node());
  EXPECT_EQ(root->GetChildByNameAt("b", 2, &out), kXmlFailed);
  EXPECT_EQ(root->GetChildByNameAt("b", -1, &out), kXmlFailed);
  EXPECT_EQ(root->GetChild(3, &out), kXmlFailed);
  IKQXmlElement* first = nullptr;
  ASSERT_EQ(root->GetFirstChild(12345, &first), kXmlOk);
  EXPECT_EQ(NameOf(first), "b");

  IKQXmlElement* found = nullptr;
  ASSERT_EQ(root->FindElement("/root/a", &found), kXmlOk);
  EXPECT_EQ(NameOf(found), "a");
  out = reinterpret_cast<IKQXmlElement*>(1);
  EXPECT_EQ(root->FindElement("/other/a", &out), kXmlFailed);
  EXPECT_EQ(root->FindElement("a/x", &out), kXmlFailed);
  EXPECT_EQ(root->FindElement("a@", &out), kXmlFailed);
  EXPECT_EQ(out, reinterpret_cast<IKQXmlElement*>(1));  // nothing stored

  // Navigation results work further down and up; their parent is the root.
  IKQXmlElement* up = nullptr;
  ASSERT_EQ(found->GetParent(&up), kXmlOk);
  EXPECT_EQ(NameOf(up), "root");
  IKQXmlElement* top = nullptr;
  ASSERT_EQ(up->GetParent(&top), kXmlOk);
  char buffer[8];
  EXPECT_EQ(top->GetName(buffer, sizeof buffer), kXmlFailed);  // no parent: an empty element
  EXPECT_EQ(Serialize(found), "<a>a</a>");
  // The handed-out elements go with root; a caller that adds a reference keeps one longer.
  found->AddRef();
  root.Reset();
  EXPECT_EQ(NameOf(found), "a");
  found->Release();
}

TEST(KQXml, AddChildMovesOwnershipIntoTheParentsTree) {
  auto parent = NewElement("p");
  auto child = NewElement("c");
  auto grandchild = NewElement("g");
  ASSERT_EQ(child->AddChild(grandchild.Get()), kXmlOk);
  ASSERT_EQ(parent->AddChild(child.Get()), kXmlOk);
  EXPECT_FALSE(static_cast<KQXml*>(child.Get())->OwnsNode());
  // Releasing the child element leaves its node in the parent's tree.
  child.Reset();
  grandchild.Reset();
  EXPECT_EQ(Serialize(parent.Get()), "<p><c><g /></c></p>");

  // A node that is already in a tree never goes into a second place.
  IKQXmlElement* view = nullptr;
  ASSERT_EQ(parent->GetFirstChild(0, &view), kXmlOk);
  auto other = NewElement("o");
  EXPECT_EQ(other->AddChild(view), kXmlFailed);
  EXPECT_EQ(parent->AddChild(view), kXmlFailed);
  // Nor below itself.
  EXPECT_EQ(view->AddChild(parent.Get()), kXmlFailed);
  EXPECT_EQ(parent->AddChild(parent.Get()), kXmlFailed);
  // Adding twice is refused too.
  auto once = NewElement("once");
  ASSERT_EQ(view->AddChild(once.Get()), kXmlOk);
  EXPECT_EQ(parent->AddChild(once.Get()), kXmlFailed);
  EXPECT_EQ(Serialize(parent.Get()), "<p><c><g /><once /></c></p>");
  // The added element still reads and changes its node in the new tree.
  ASSERT_EQ(once->SetText("t"), kXmlOk);
  EXPECT_EQ(Serialize(parent.Get()), "<p><c><g /><once>t</once></c></p>");
  // A child may be added from a navigation element of the parent's tree; the whole tree goes
  // when the parent element is released (ASan reports anything left).
  EXPECT_EQ(parent->RemoveAllChildren(), kXmlOk);
  EXPECT_EQ(Serialize(parent.Get()), "<p />");
}

TEST(KQXml, CreateReplacesTheNodeAndKeepsTheParentLinkSafe) {
  auto parent = NewElement("parent");
  auto element = NewElement("first", parent.Get());
  IKQXmlElement* up = nullptr;
  ASSERT_EQ(element->GetParent(&up), kXmlOk);
  EXPECT_EQ(NameOf(up), "parent");
  // The parent link does not make the node one of the parent's children.
  std::int32_t count = -1;
  EXPECT_EQ(parent->GetChildCount(&count), kXmlOk);
  EXPECT_EQ(count, 0);
  // Create again: the old node is freed, the new one has no parent.
  ASSERT_EQ(element->Create("second", nullptr), kXmlOk);
  EXPECT_EQ(Serialize(element.Get()), "<second />");
  ASSERT_EQ(element->GetParent(&up), kXmlOk);
  EXPECT_EQ(NameOf(up), "<no name>");

  // A parent that has gone is reported as no parent rather than followed.
  auto gone = NewElement("gone");
  auto orphan = NewElement("orphan", gone.Get());
  gone.Reset();
  ASSERT_EQ(orphan->GetParent(&up), kXmlOk);
  EXPECT_EQ(NameOf(up), "<no name>");

  // While the parent lives, the element over it keeps it readable.
  auto keeper = NewElement("keeper");
  auto kept = NewElement("kept", keeper.Get());
  ASSERT_EQ(kept->GetParent(&up), kXmlOk);
  keeper.Reset();
  EXPECT_EQ(NameOf(up), "keeper");
}

TEST(KQXml, AddChildRefusesElementsAboveItThroughCreateLinks) {
  auto p = NewElement("p");
  auto c = NewElement("c", p.Get());
  auto g = NewElement("g", c.Get());
  // p lies above c and g through the links Create made: adding it below them makes a loop.
  EXPECT_EQ(c->AddChild(p.Get()), kXmlFailed);
  EXPECT_EQ(g->AddChild(p.Get()), kXmlFailed);
  EXPECT_EQ(g->AddChild(c.Get()), kXmlFailed);
  EXPECT_EQ(Serialize(p.Get()), "<p />");
  // GetParent climbs to the end.
  IKQXmlElement* up = g.Get();
  std::string names;
  for (int i = 0; i < 10 && up->GetParent(&up) == kXmlOk; ++i) names += NameOf(up) + " ";
  EXPECT_EQ(names, "c p <no name> ");
  // The other way round is an ordinary tree; releasing everything frees each node once.
  ASSERT_EQ(c->AddChild(g.Get()), kXmlOk);
  ASSERT_EQ(p->AddChild(c.Get()), kXmlOk);
  EXPECT_EQ(Serialize(p.Get()), "<p><c><g /></c></p>");
}

TEST(KQXml, GetParentNeverHandsOutARemovedNode) {
  struct Case {
    const char* name;
    const char* linkTo;  // path from r of the node given to Create
    bool attachElsewhere;
    bool parentSurvives;
  };
  const Case cases[] = {
      {"child", "x", false, false},
      {"grandchild", "x/y", false, false},
      {"removing node itself", nullptr, false, true},
      {"tree moved into another", "x/y", true, false},
  };
  for (const Case& k : cases) {
    auto r = NewElement("r");
    auto x = NewElement("x");
    auto y = NewElement("y");
    ASSERT_EQ(x->AddChild(y.Get()), kXmlOk);
    ASSERT_EQ(r->AddChild(x.Get()), kXmlOk);
    IKQXmlElement* target = r.Get();
    if (k.linkTo) {
      ASSERT_EQ(r->FindElement(k.linkTo, &target), kXmlOk) << k.name;
    }
    auto c = NewElement("c", target);
    auto outer = NewElement("outer");
    IKQXmlElement* remover = r.Get();
    if (k.attachElsewhere) {
      ASSERT_EQ(outer->AddChild(r.Get()), kXmlOk) << k.name;
      remover = outer.Get();
    }
    ASSERT_EQ(remover->RemoveAllChildren(), kXmlOk) << k.name;
    IKQXmlElement* up = nullptr;
    ASSERT_EQ(c->GetParent(&up), kXmlOk) << k.name;
    EXPECT_EQ(NameOf(up), k.parentSurvives ? "r" : "<no name>") << k.name;
    // A cut link is no way to a loop either.
    EXPECT_EQ(c->AddChild(remover), k.parentSurvives ? kXmlFailed : kXmlOk) << k.name;
  }
}

TEST(KQXml, ReleasingALongChainOfNavigationElementsDoesNotRecurse) {
  auto root = NewElement("d");
  IKQXmlElement* node = root.Get();
  for (int i = 0; i < 100000; ++i) {
    auto child = NewElement("d");
    ASSERT_EQ(node->AddChild(child.Get()), kXmlOk);
    ASSERT_EQ(node->GetFirstChild(0, &node), kXmlOk);
  }
  // Every element holds the next one in its handed-out set.
  root.Reset();
}

TEST(KQXml, SerializeFollowsTheWritersBufferRule) {
  auto element = NewElement("msg");
  ASSERT_EQ(element->SetAttribute("id", "7"), kXmlOk);
  char buffer[32];
  std::int32_t length = 0;
  ASSERT_EQ(element->Serialize(buffer, 16, &length), kXmlOk);
  EXPECT_EQ(length, 15);
  EXPECT_STREQ(buffer, "<msg id='7'  />");
  EXPECT_EQ(element->Serialize(buffer, 15, &length), kXmlFailed);
  EXPECT_EQ(element->Serialize(nullptr, 15, &length), kXmlFailed);
}

}  // namespace
}  // namespace Vantor::KQCP
