// Packages and the package parser: the byte form, feeding it back in every split, completion,
// refusal of a second package, and the tree outliving the parser.
#include "xml/xml_package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "com/com_ptr.h"
#include "kqcp/platform.h"
#include "xml/kq_xml.h"
#include "xml/xml_package_parser.h"
#include "xml_test_support.h"

namespace Vantor::KQCP {
namespace {

using com::ComPtr;
using kqcp_test::NameOf;

ComPtr<IXMLPackageParser> NewParser() {
  return ComPtr<IXMLPackageParser>::Adopt(com::MakeObject<XMLPackageParser>());
}

std::string DataOf(IXMLPackage* package, std::int32_t size = 4096) {
  std::string buffer(static_cast<std::size_t>(size), '#');
  std::int32_t length = -1;
  if (package->GetData(buffer.data(), size, &length) != kXmlOk) return "<failed>";
  if (buffer[static_cast<std::size_t>(length)] != '\0') return "<no NUL>";
  return buffer.substr(0, static_cast<std::size_t>(length));
}

std::int32_t Completion(IXMLPackageParser* parser, HRESULT* result = nullptr) {
  std::int32_t complete = -1;
  const HRESULT hr = parser->IsComplete(&complete);
  if (result) *result = hr;
  return complete;
}

TEST(XmlPackage, ByteFormIsTheTextAndTwoLineEnds) {
  auto package = ComPtr<IXMLPackage>::Adopt(com::MakeObject<XMLPackageImpl>());
  char buffer[64];
  std::int32_t length = -1;
  EXPECT_EQ(package->GetData(buffer, sizeof buffer, &length), kXmlFailed);  // no element
  IKQXmlElement* none = reinterpret_cast<IKQXmlElement*>(1);
  EXPECT_EQ(package->GetElement(&none), kXmlOk);
  EXPECT_EQ(none, nullptr);

  auto element = ComPtr<IKQXmlElement>::Adopt(com::MakeObject<KQXml>());
  ASSERT_EQ(element->Create("msg", nullptr), kXmlOk);
  ASSERT_EQ(element->SetAttributeInt("id", 7), kXmlOk);
  ASSERT_EQ(package->SetElement(element.Get()), kXmlOk);
  EXPECT_EQ(static_cast<KQXml*>(element.Get())->ReferenceCount(), 2);
  IKQXmlElement* held = nullptr;
  EXPECT_EQ(package->GetElement(&held), kXmlOk);
  EXPECT_EQ(held, element.Get());
  EXPECT_EQ(static_cast<KQXml*>(element.Get())->ReferenceCount(), 2);

  ASSERT_EQ(package->GetData(buffer, sizeof buffer, &length), kXmlOk);
  EXPECT_EQ(length, 19);
  EXPECT_EQ(std::string(buffer, 20), std::string("<msg id='7'  />\r\n\r\n\0", 20));
  // The terminator and the NUL must fit behind the text.
  EXPECT_EQ(package->GetData(buffer, 20, &length), kXmlOk);
  EXPECT_EQ(package->GetData(buffer, 19, &length), kXmlFailed);
  EXPECT_EQ(package->GetData(buffer, 16, &length), kXmlFailed);
  EXPECT_EQ(package->GetData(buffer, 15, &length), kXmlFailed);

  // Replacing the element releases the old one.
  auto other = ComPtr<IKQXmlElement>::Adopt(com::MakeObject<KQXml>());
  ASSERT_EQ(other->Create("o", nullptr), kXmlOk);
  ASSERT_EQ(package->SetElement(other.Get()), kXmlOk);
  EXPECT_EQ(static_cast<KQXml*>(element.Get())->ReferenceCount(), 1);
  EXPECT_EQ(DataOf(package.Get()), "<o />\r\n\r\n");

  void* out = nullptr;
  EXPECT_EQ(package->QueryInterface(IID_IPackage, &out), E_NOINTERFACE);
  EXPECT_EQ(package->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(package->QueryInterface(IID_IXMLPackage, &out), S_OK);
  EXPECT_EQ(out, package.Get());
}

TEST(XmlPackageParser, ReadsTheByteFormBackFromEverySplit) {
  const std::string bytes = "<msg id='7'  />\r\n\r\n";
  ASSERT_EQ(bytes.size(), 19u);
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    auto parser = NewParser();
    HRESULT result = S_OK;
    EXPECT_EQ(Completion(parser.Get(), &result), 0);
    EXPECT_EQ(result, E_FAIL);
    EXPECT_EQ(parser->Parse(bytes.data(), static_cast<std::int32_t>(cut)), S_OK) << cut;
    EXPECT_EQ(parser->Parse(bytes.data() + cut, static_cast<std::int32_t>(bytes.size() - cut)),
              S_OK)
        << cut;
    EXPECT_EQ(Completion(parser.Get(), &result), 1) << cut;
    EXPECT_EQ(result, S_OK);
    IKQXmlElement* root = nullptr;
    ASSERT_EQ(parser->GetRootElement(&root), kXmlOk);
    EXPECT_EQ(NameOf(root), "msg");
    char id[8];
    EXPECT_EQ(root->GetAttribute("id", id, sizeof id), kXmlOk);
    EXPECT_STREQ(id, "7");
    root->Release();
    IXMLPackage* package = nullptr;
    ASSERT_EQ(parser->GetPackage(&package), kXmlOk);
    EXPECT_EQ(DataOf(package), bytes);
    package->Release();
  }
}

TEST(XmlPackageParser, CompletesAfterTheFirstChildAndRefusesASecondPackage) {
  auto parser = NewParser();
  ASSERT_EQ(parser->Parse("<a><b/>", -1), S_OK);
  EXPECT_EQ(Completion(parser.Get()), 1);
  ASSERT_EQ(parser->Parse("<c/></a>\r\n\r\n", -1), S_OK);
  EXPECT_EQ(parser->Parse("<a><b/></a>\r\n\r\n", -1), E_FAIL);
  EXPECT_EQ(parser->Parse("\r\n", -1), E_FAIL);  // stays refused
  EXPECT_EQ(parser->Parse("", 0), E_FAIL);       // also for an empty piece
  EXPECT_EQ(parser->Parse("", -1), E_FAIL);
  IXMLPackage* package = nullptr;
  ASSERT_EQ(parser->GetPackage(&package), kXmlOk);
  EXPECT_EQ(DataOf(package), "<a><b /><c /></a>\r\n\r\n");
  package->Release();
  // Reset gives a fresh tree for the next package.
  ASSERT_EQ(parser->Reset(), S_OK);
  EXPECT_EQ(Completion(parser.Get()), 0);
  ASSERT_EQ(parser->Parse("<next/>\r\n\r\n", -1), S_OK);
  ASSERT_EQ(parser->GetPackage(&package), kXmlOk);
  EXPECT_EQ(DataOf(package), "<next />\r\n\r\n");
  package->Release();
  EXPECT_EQ(parser->Parse(nullptr, 5), E_FAIL);
}

// Long tokens fed in pieces: bytes the parser keeps back never hold back a package whose
// bytes have all arrived, also when the token that completes it is longer than 64 KiB (with
// Expat's own deferral of long tokens, where it has one, the last bytes would wait for more),
// and a refusal among them is still reported.
TEST(XmlPackageParser, LongTokensInSmallPiecesCompleteAsSoonAsTheirBytesArrive) {
  std::string value(100000, 'v');
  for (std::size_t at = 0; at < value.size(); at += 1000) value.replace(at, 4, "->?>");
  const std::string spaces(100000, ' ');
  const std::string name(70000, 'n');
  struct Case {
    std::string text;
    std::string completesAfter;  // the package is complete once this (first) part has arrived
  };
  const Case cases[] = {
      {"<m><c a='" + value + "\" b=\"x'/></m>", "'/>"},
      {"<m><c></c" + spaces + "></m>", spaces + ">"},
      {"<m a=\"" + value + "'\"><!-- " + value.substr(0, 999) + " --><c/></m>", "<c/>"},
      {"<m><?pi " + value + "?><c/></m>", "<c/>"},
      {"<m b='1'" + spaces + "/>", "/>"},
      {"<" + name + ">t</" + name + ">", "</" + name + ">"},
  };
  for (const Case& c : cases) {
    const std::string package = c.text + "\r\n\r\n";
    const std::size_t completeAt = package.find(c.completesAfter) + c.completesAfter.size();
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1024},
                                    std::size_t{4096}, std::size_t{65537}}) {
      auto parser = NewParser();
      for (std::size_t at = 0; at < package.size(); at += piece) {
        const std::size_t end = std::min(package.size(), at + piece);
        ASSERT_EQ(parser->Parse(package.data() + at, static_cast<std::int32_t>(end - at)), S_OK);
        ASSERT_EQ(Completion(parser.Get()), end >= completeAt ? 1 : 0)
            << c.completesAfter << " " << piece << " " << end;
      }
      IXMLPackage* read = nullptr;
      ASSERT_EQ(parser->GetPackage(&read), kXmlOk);
      // The tree is the one the whole text gives.
      auto whole = NewParser();
      ASSERT_EQ(whole->Parse(package.data(), static_cast<std::int32_t>(package.size())), S_OK);
      IXMLPackage* expected = nullptr;
      ASSERT_EQ(whole->GetPackage(&expected), kXmlOk);
      EXPECT_EQ(DataOf(read, 1 << 20), DataOf(expected, 1 << 20));
      read->Release();
      expected->Release();
    }
  }

  const std::string bad = "<m a='" + value + "\x01" + value + "'/>\r\n\r\n";
  for (const std::size_t piece : {std::size_t{1}, std::size_t{1024}}) {
    auto refusing = NewParser();
    HRESULT last = S_OK;
    for (std::size_t at = 0; at < bad.size() && last == S_OK; at += piece) {
      const std::size_t end = std::min(bad.size(), at + piece);
      last = refusing->Parse(bad.data() + at, static_cast<std::int32_t>(end - at));
    }
    EXPECT_EQ(last, E_FAIL) << piece;
    EXPECT_EQ(Completion(refusing.Get()), 0);
    EXPECT_EQ(refusing->Parse("", 0), E_FAIL) << piece;
  }
}

TEST(XmlPackageParser, TheTreeOutlivesResetAndReleaseOfTheParser) {
  auto parser = NewParser();
  ASSERT_EQ(parser->Parse("<r k='v'><a>1</a><b>2</b></r>", -1), S_OK);
  IXMLPackage* package = nullptr;
  ASSERT_EQ(parser->GetPackage(&package), kXmlOk);
  IKQXmlElement* root = nullptr;
  ASSERT_EQ(parser->GetRootElement(&root), kXmlOk);
  IKQXmlElement* b = nullptr;
  ASSERT_EQ(root->FindElement("b", &b), kXmlOk);
  ASSERT_EQ(parser->Reset(), S_OK);
  EXPECT_EQ(DataOf(package), "<r k='v' ><a>1</a><b>2</b></r>\r\n\r\n");
  parser.Reset();
  char text[4];
  EXPECT_EQ(b->GetText(text, sizeof text), kXmlOk);
  EXPECT_STREQ(text, "2");
  // Changes through one view show in the other: it is one tree.
  ASSERT_EQ(b->SetText("changed"), kXmlOk);
  EXPECT_EQ(DataOf(package), "<r k='v' ><a>1</a><b>changed</b></r>\r\n\r\n");
  package->Release();
  root->Release();
}

TEST(XmlPackageParser, ParsedTreesTakeNewChildrenButNeverGiveTheirRootAway) {
  auto parser = NewParser();
  ASSERT_EQ(parser->Parse("<r><a/></r>", -1), S_OK);
  IKQXmlElement* root = nullptr;
  ASSERT_EQ(parser->GetRootElement(&root), kXmlOk);
  auto added = ComPtr<IKQXmlElement>::Adopt(com::MakeObject<KQXml>());
  ASSERT_EQ(added->Create("added", nullptr), kXmlOk);
  ASSERT_EQ(root->AddChild(added.Get()), kXmlOk);
  auto holder = ComPtr<IKQXmlElement>::Adopt(com::MakeObject<KQXml>());
  ASSERT_EQ(holder->Create("holder", nullptr), kXmlOk);
  EXPECT_EQ(holder->AddChild(root), kXmlFailed);
  parser.Reset();
  char buffer[64];
  std::int32_t length = 0;
  ASSERT_EQ(root->Serialize(buffer, sizeof buffer, &length), kXmlOk);
  EXPECT_STREQ(buffer, "<r><a /><added /></r>");
  root->Release();
}

TEST(XmlPackageParser, AnswersOnlyItsOwnIdentifier) {
  auto parser = NewParser();
  void* out = nullptr;
  EXPECT_EQ(parser->QueryInterface(IID_IPackageParser, &out), E_NOINTERFACE);
  EXPECT_EQ(parser->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(parser->QueryInterface(IID_IXMLPackageParser, &out), S_OK);
  EXPECT_EQ(out, parser.Get());
  EXPECT_EQ(static_cast<XMLPackageParser*>(parser.Get())->ReferenceCount(), 1);
}

TEST(XmlPackageParser, Gb2312PackagesArriveAsUtf8) {
  auto parser = NewParser();
  ASSERT_EQ(parser->Parse("<?xml version=\"1.0\" encoding=\"gb2312\"?>"
                          "<m t='\xD6\xD0\xCE\xC4'><x/></m>\r\n\r\n",
                          -1),
            S_OK);
  IXMLPackage* package = nullptr;
  ASSERT_EQ(parser->GetPackage(&package), kXmlOk);
  EXPECT_EQ(DataOf(package), "<m t='\xE4\xB8\xAD\xE6\x96\x87' ><x /></m>\r\n\r\n");
  package->Release();
}

}  // namespace
}  // namespace Vantor::KQCP
