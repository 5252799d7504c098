// Directory parts, joined paths and the default list path, with their length bounds.
#include "plugin/plugin_path.h"

#include <gtest/gtest.h>

#include <string>

namespace Vantor::KQCP {
namespace {

TEST(PluginPath, DirectoryPartEndsAtTheLastSeparatorOfEitherKind) {
  struct Case {
    std::u16string_view path;
    std::u16string_view directory;
  };
  const Case cases[] = {
      {u"", u""},
      {u"KQCP_PLUGIN.xml", u""},
      {u"/opt/app/KQCP_PLUGIN.xml", u"/opt/app/"},
      {u"D:\\App\\KQCP_PLUGIN.xml", u"D:\\App\\"},
      {u"/opt/app\\sub/list.xml", u"/opt/app\\sub/"},
      {u"/opt/app\\list.xml", u"/opt/app\\"},
      {u"/list.xml", u"/"},
      // A path that ends with its separator names a directory, not a file in one.
      {u"/opt/app/", u""},
      {u"D:\\App\\", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DirectoryPart(c.path), c.directory) << std::string(c.path.begin(), c.path.end());
  }
}

TEST(PluginPath, JoinKeepsTheNameAsWrittenAndRespectsTheBound) {
  EXPECT_EQ(JoinToDirectory(u"/opt/app/KQCP_PLUGIN.xml", u"chat\\chat.dll"),
            u"/opt/app/chat\\chat.dll");
  // An absolute name is joined all the same.
  EXPECT_EQ(JoinToDirectory(u"/opt/app/list.xml", u"/usr/lib/x.so"), u"/opt/app//usr/lib/x.so");
  EXPECT_EQ(JoinToDirectory(u"list.xml", u"x.so"), u"");
  EXPECT_EQ(JoinToDirectory(u"/opt/app/", u"x.so"), u"");

  const std::u16string base = u"/opt/app/list.xml";  // directory part: 9 characters
  const std::u16string fits(259 - 9, u'n');          // 259 characters and the NUL: 260
  EXPECT_EQ(JoinToDirectory(base, fits), u"/opt/app/" + fits);
  EXPECT_EQ(JoinToDirectory(base, fits + u"n"), u"");
}

TEST(PluginPath, DefaultListPathSitsBesideTheModuleWithinItsBound) {
  EXPECT_EQ(DefaultListPathFor(u"/opt/app/lib/libkqcp.so"), u"/opt/app/lib/KQCP_PLUGIN.xml");
  EXPECT_EQ(DefaultListPathFor(u"libkqcp.so"), u"");
  EXPECT_EQ(DefaultListPathFor(u""), u"");

  // Directory d (with its separator): the module "d" + "libkqcp.so" and the list "d" +
  // "KQCP_PLUGIN.xml" must each fit in 259 characters with their NUL.
  const auto directory = [](std::size_t length) {
    return u"/" + std::u16string(length - 2, u'd') + u"/";
  };
  EXPECT_EQ(DefaultListPathFor(directory(243) + u"libkqcp.so"),
            directory(243) + u"KQCP_PLUGIN.xml");
  EXPECT_EQ(DefaultListPathFor(directory(244) + u"libkqcp.so"), u"");
  // A module name of 258 characters still fits its buffer; one of 259 does not.
  EXPECT_EQ(DefaultListPathFor(directory(100) + std::u16string(158, u'm')),
            directory(100) + u"KQCP_PLUGIN.xml");
  EXPECT_EQ(DefaultListPathFor(directory(100) + std::u16string(159, u'm')), u"");
}

}  // namespace
}  // namespace Vantor::KQCP
