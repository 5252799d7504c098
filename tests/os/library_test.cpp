// Dynamic libraries: loading by a path written with backslashes, symbols, errors, own path.
#include "os/library.h"

#include <gtest/gtest.h>

#include "os/utf.h"

namespace Vantor::KQCP::os {
namespace {

TEST(Library, LoadsThroughBackslashPathAndFindsSymbol) {
  std::string path = FIXTURE_LIB_PATH;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  Library library;
  ASSERT_TRUE(library.Load(Utf8ToUtf16(path))) << library.Error();
  auto* answer = reinterpret_cast<int (*)()>(library.Symbol("FixtureAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(library.Symbol("NoSuchSymbol"), nullptr);
  EXPECT_FALSE(library.Error().empty());
}

TEST(Library, ReportsWhyALoadFailed) {
  Library library;
  EXPECT_FALSE(library.Load(u"/nonexistent/libnothing.so"));
  EXPECT_NE(library.Error().find("libnothing"), std::string::npos);
  EXPECT_FALSE(library.Load(u""));
  EXPECT_FALSE(library.IsLoaded());
}

TEST(Library, OwnModulePathNamesAnExistingFile) {
  std::u16string own = OwnModulePath();
  ASSERT_FALSE(own.empty());
  EXPECT_EQ(own.front(), u'/');
  EXPECT_NE(OwnModuleHandle(), nullptr);
}

}  // namespace
}  // namespace Vantor::KQCP::os
