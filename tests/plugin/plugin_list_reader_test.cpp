// The plug-in list file: the documented example, results (files that are not regular files
// among them), entry rules, encodings, bounds.
#include "plugin/plugin_list_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "os/utf.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using os::Utf8ToUtf16;

class PluginListReaderTest : public testing::Test {
 protected:
  // Writes the file and gives its path.
  std::u16string Write(const std::string& name, const std::string& content) {
    const std::string path = dir_.File(name);
    std::ofstream(path, std::ios::binary) << content;
    return Utf8ToUtf16(path);
  }
  std::u16string Fifo(const std::string& name) {
    EXPECT_EQ(mkfifo(dir_.File(name).c_str(), 0600), 0);
    return Utf8ToUtf16(dir_.File(name));
  }
  std::u16string Link(const std::string& name, const std::string& target) {
    std::filesystem::create_symlink(dir_.File(target), dir_.File(name));
    return Utf8ToUtf16(dir_.File(name));
  }
  std::u16string InDir(const std::string& relative) {
    return Utf8ToUtf16(dir_.path() + "/") + Utf8ToUtf16(relative);
  }

  kqcp_test::TempDir dir_;
  PluginListReader reader_;
};

TEST_F(PluginListReaderTest, TheDocumentedExampleGivesTwoEntries) {
  const std::u16string list =
      Write("KQCP_PLUGIN.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<PluginList>\n"
            "  <Plugin path=\"chat\\chat.dll\" name=\"chat\" enable=\"TRUE\"/>\n"
            "  <Plugin path=\"games\\board.dll\" name=\"board\" enable=\"no\"/>\n"
            "  <Plugin name=\"tools\" enable=\"true\"/>\n"
            "</PluginList>\n");
  ASSERT_EQ(reader_.Parse(list.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), 2u);
  EXPECT_TRUE(reader_.Entries()[0].enable);
  EXPECT_EQ(reader_.Entries()[0].path, InDir("chat\\chat.dll"));
  EXPECT_EQ(reader_.Entries()[0].name, u"chat");
  EXPECT_FALSE(reader_.Entries()[1].enable);
  EXPECT_EQ(reader_.Entries()[1].path, InDir("games\\board.dll"));
  EXPECT_EQ(reader_.Entries()[1].name, u"board");
}

TEST_F(PluginListReaderTest, ResultsForFilesThatDoNotReadAndLeaveNoEntries) {
  const std::u16string good =
      Write("good.xml", "<PluginList><Plugin path='a.so' enable='true'/></PluginList>");
  struct Case {
    const char* what;
    std::u16string path;
    int result;
  };
  const Case cases[] = {
      {"missing file", InDir("missing.xml"), PluginListReader::kUnreadable},
      {"empty path", u"", PluginListReader::kUnreadable},
      {"a directory", InDir(""), PluginListReader::kUnreadable},
      {"empty file", Write("empty.xml", ""), PluginListReader::kUnreadable},
      {"malformed", Write("bad.xml", "<PluginList><Plugin path='a.so'></PluginList>"),
       PluginListReader::kUnreadable},
      {"truncated", Write("cut.xml", "<PluginList><Plugin path='a.so' enable='true'/>"),
       PluginListReader::kUnreadable},
      {"root in lower case", Write("lower.xml", "<pluginlist><Plugin path='a.so'/></pluginlist>"),
       PluginListReader::kWrongRoot},
      {"another root", Write("other.xml", "<Plugins><Plugin path='a.so'/></Plugins>"),
       PluginListReader::kWrongRoot},
      // Not regular files: refused at once, neither waiting for a writer nor reading for ever.
      {"a FIFO", Fifo("fifo.xml"), PluginListReader::kUnreadable},
      {"a link to a FIFO", Link("link.xml", "fifo.xml"), PluginListReader::kUnreadable},
      {"an endless device", u"/dev/zero", PluginListReader::kUnreadable},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(reader_.Parse(good.c_str()), PluginListReader::kRead);
    ASSERT_EQ(reader_.Entries().size(), 1u);
    EXPECT_EQ(reader_.Parse(c.path.c_str()), c.result) << c.what;
    EXPECT_TRUE(reader_.Entries().empty()) << c.what;
  }
  EXPECT_EQ(reader_.Parse(nullptr), PluginListReader::kUnreadable);
}

TEST_F(PluginListReaderTest, EnableIsTrueInAnyCaseAndNothingElse) {
  struct Case {
    const char* attribute;
    bool enabled;
  };
  const Case cases[] = {{"enable='true'", true},   {"enable='TRUE'", true},
                        {"enable='tRuE'", true},   {"enable='True'", true},
                        {"enable='1'", false},     {"enable='yes'", false},
                        {"enable=' true'", false}, {"enable='truee'", false},
                        {"enable=''", false},      {"", false},
                        {"Enable='true'", false}};
  std::string xml = "<PluginList>";
  for (const Case& c : cases) {
    xml += std::string("<Plugin path='p.so' name=\"") + c.attribute + "\" " + c.attribute + "/>";
  }
  xml += "</PluginList>";
  const std::u16string list = Write("list.xml", xml);
  ASSERT_EQ(reader_.Parse(list.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(reader_.Entries()[i].enable, cases[i].enabled) << cases[i].attribute;
  }
}

TEST_F(PluginListReaderTest, OnlyDirectPluginChildrenWithAPathAreEntriesInDocumentOrder) {
  const std::u16string list = Write("list.xml",
                                    "<PluginList>text"
                                    "<Plugin path='one.so' enable='true'/>"
                                    "<Group><Plugin path='nested.so' enable='true'/></Group>"
                                    "<plugin path='lower.so' enable='true'/>"
                                    "<Plugin Path='capital-attribute.so' enable='true'/>"
                                    "<Plugin path='' enable='true'/>"
                                    "<Plugin path='two.so'><Plugin path='inner.so'/></Plugin>"
                                    "<Plugin path='sub/three.so' name='third'/>"
                                    "</PluginList>");
  ASSERT_EQ(reader_.Parse(list.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), 3u);
  EXPECT_EQ(reader_.Entries()[0].path, InDir("one.so"));
  EXPECT_EQ(reader_.Entries()[0].name, u"");
  EXPECT_EQ(reader_.Entries()[1].path, InDir("two.so"));
  EXPECT_EQ(reader_.Entries()[2].path, InDir("sub/three.so"));
  EXPECT_EQ(reader_.Entries()[2].name, u"third");

  const std::u16string empty = Write("empty.xml", "<PluginList/>");
  EXPECT_EQ(reader_.Parse(empty.c_str()), PluginListReader::kRead);
  EXPECT_TRUE(reader_.Entries().empty());
}

TEST_F(PluginListReaderTest, ValuesArriveDecodedFromTheDeclaredEncoding) {
  // "é" in ISO-8859-1 is the single byte 0xE9.
  const std::u16string latin =
      Write("latin.xml",
            "<?xml version='1.0' encoding='ISO-8859-1'?>"
            "<PluginList><Plugin path='caf\xE9.so' name='caf\xE9'/></PluginList>");
  ASSERT_EQ(reader_.Parse(latin.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), 1u);
  EXPECT_EQ(reader_.Entries()[0].name, u"caf\u00e9");
  EXPECT_EQ(reader_.Entries()[0].path, InDir("caf\xC3\xA9.so"));

  const std::u16string utf8 =
      Write("utf8.xml",
            "<PluginList><Plugin path='\xE8\x81\x8A.so' name='\xF0\x9F\x98\x80'/></PluginList>");
  ASSERT_EQ(reader_.Parse(utf8.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), 1u);
  EXPECT_EQ(reader_.Entries()[0].name, u"\U0001F600");
  EXPECT_EQ(reader_.Entries()[0].path, InDir("\xE8\x81\x8A.so"));
}

TEST_F(PluginListReaderTest, AnEntryWhoseJoinedPathWouldNotFitIsDropped) {
  const std::size_t directory = dir_.path().size() + 1;
  ASSERT_LT(directory, 200u) << "temporary directory too deep for this test";
  const std::string fits(259 - directory, 'f');
  const std::string tooLong(260 - directory, 'l');
  const std::u16string list =
      Write("list.xml", "<PluginList><Plugin path='" + tooLong + "' name='long'/><Plugin path='" +
                            fits + "' name='fits'/></PluginList>");
  ASSERT_EQ(reader_.Parse(list.c_str()), PluginListReader::kRead);
  ASSERT_EQ(reader_.Entries().size(), 1u);
  EXPECT_EQ(reader_.Entries()[0].name, u"fits");
  EXPECT_EQ(reader_.Entries()[0].path, InDir(fits));
  EXPECT_EQ(reader_.Entries()[0].path.size(), 259u);
}

TEST_F(PluginListReaderTest, AListNamedWithoutADirectoryKeepsNoEntries) {
  Write("KQCP_PLUGIN.xml", "<PluginList><Plugin path='a.so' enable='true'/></PluginList>");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const int result = reader_.Parse(u"KQCP_PLUGIN.xml");
  std::filesystem::current_path(previous);
  // The file reads; its entries have no directory to be joined to, so none is taken.
  EXPECT_EQ(result, PluginListReader::kRead);
  EXPECT_TRUE(reader_.Entries().empty());
}

}  // namespace
}  // namespace Vantor::KQCP
