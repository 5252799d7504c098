// A host that opens a copy of libkqcp.so privately (RTLD_LOCAL) from a directory of its own, as
// the README shows: the default list beside that copy is found (also after the host changed its
// working directory), the README's minimal plug-in loads against it, and the default list path
// keeps its length bound.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "kqcp/kqcp.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

namespace fs = std::filesystem;

// The README's list, word for word.
constexpr const char* kReadmeList =
    "<PluginList>\n"
    "  <Plugin path=\"plugins/hello.so\" name=\"hello\" enable=\"true\"/>\n"
    "</PluginList>\n";

// An application directory with a copy of the library, the hello plug-in and the list.
struct AppDirectory {
  explicit AppDirectory(const fs::path& directory) : path(directory) {
    fs::create_directories(path / "plugins");
    fs::copy_file(KQCP_LIBRARY_PATH, path / "libkqcp.so");
    fs::copy_file(KQCP_HELLO_PLUGIN_PATH, path / "plugins" / "hello.so");
    std::ofstream(path / "KQCP_PLUGIN.xml") << kReadmeList;
  }
  fs::path path;
};

// The library copy as a host sees it, through its exports only.
class HostedLibrary {
 public:
  explicit HostedLibrary(const fs::path& library) {
    handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << dlerror();
    if (!handle_) return;
    auto get = reinterpret_cast<GetKQCommunityPlatformFn>(dlsym(handle_, "GetKQCommunityPlatform"));
    freeString_ = reinterpret_cast<void (*)(BSTR)>(dlsym(handle_, "SysFreeString"));
    if (get) get(&platform_);
  }
  IKQCommunityPlatform* platform() const { return platform_; }

  // The name of the plug-in found under that name, or empty.
  std::u16string FindPlugin(const char16_t* name) const {
    IKQCPPluginManager* manager = nullptr;
    if (platform_->GetPluginManager(&manager) != S_OK) return {};
    IKQCPPlugin* plugin = nullptr;
    if (manager->GetPlugin(name, &plugin) != S_OK) return {};
    BSTR reported = nullptr;
    plugin->GetName(&reported);
    std::u16string text = reported ? reported : u"";
    freeString_(reported);
    plugin->Release();
    return text;
  }

 private:
  void* handle_ = nullptr;  // never closed: the loaded plug-in binds to this library
  IKQCommunityPlatform* platform_ = nullptr;
  void (*freeString_)(BSTR) = nullptr;
};

TEST(PluginHost, TheDefaultListBesideTheLibraryLoadsTheReadmePlugin) {
  kqcp_test::TempDir temp;
  const AppDirectory app(fs::path(temp.path()) / "app");
  // The host runs from somewhere else.
  const fs::path previous = fs::current_path();
  fs::current_path("/");
  HostedLibrary library(app.path / "libkqcp.so");
  ASSERT_NE(library.platform(), nullptr);
  ASSERT_EQ(library.platform()->Init(nullptr), S_OK);

  // An empty path is a file that cannot be opened, not a request for the default list.
  EXPECT_EQ(library.platform()->LoadPlugins(u""), E_FAIL);
  EXPECT_EQ(library.FindPlugin(u"hello"), u"");

  EXPECT_EQ(library.platform()->LoadPlugins(nullptr), S_OK);
  EXPECT_EQ(library.FindPlugin(u"hello"), u"hello");
  fs::current_path(previous);
}

TEST(PluginHost, ALibraryOpenedByARelativePathReadsOnlyTheListBesideItself) {
  kqcp_test::TempDir temp;
  const fs::path root = fs::path(temp.path());
  const AppDirectory app(root / "app" / "lib");
  // Another directory with the same layout, whose list names a plug-in of its own.
  const fs::path elsewhere = root / "elsewhere";
  fs::create_directories(elsewhere / "lib" / "plugins");
  fs::copy_file(KQCP_INTRUDER_PLUGIN_PATH, elsewhere / "lib" / "plugins" / "intruder.so");
  std::ofstream(elsewhere / "lib" / "KQCP_PLUGIN.xml")
      << "<PluginList><Plugin path='plugins/intruder.so' enable='true'/></PluginList>\n";

  const fs::path previous = fs::current_path();
  fs::current_path(root / "app");
  HostedLibrary library("./lib/libkqcp.so");
  // The host moves on before it loads its plug-ins.
  fs::current_path(elsewhere);
  ASSERT_NE(library.platform(), nullptr);
  ASSERT_EQ(library.platform()->Init(nullptr), S_OK);
  EXPECT_EQ(library.platform()->LoadPlugins(nullptr), S_OK);
  EXPECT_EQ(library.FindPlugin(u"hello"), u"hello");
  EXPECT_EQ(library.FindPlugin(u"intruder"), u"");
  fs::current_path(previous);
}

TEST(PluginHost, TheDefaultListPathMustFitItsBound) {
  // The default list path, NUL included, must fit in 259 characters: one character more in
  // the application directory and no list is read.
  struct Case {
    std::size_t directoryLength;  // with the final separator
    HRESULT result;
  };
  for (const Case c : {Case{243, S_OK}, Case{244, E_FAIL}}) {
    SCOPED_TRACE(c.directoryLength);
    kqcp_test::TempDir temp;
    // Fill the directory name up to the length wanted, in components of at most 200 characters.
    fs::path directory = temp.path();
    ASSERT_LT(directory.string().size() + 2, c.directoryLength);
    while (directory.string().size() + 1 < c.directoryLength) {
      const std::size_t missing = c.directoryLength - 1 - directory.string().size();
      directory /= std::string(missing - 1 > 200 ? 100 : missing - 1, 'd');
    }
    ASSERT_EQ(directory.string().size() + 1, c.directoryLength);
    const AppDirectory app(directory);
    HostedLibrary library(app.path / "libkqcp.so");
    ASSERT_NE(library.platform(), nullptr);
    EXPECT_EQ(library.platform()->LoadPlugins(nullptr), c.result);
    EXPECT_EQ(library.FindPlugin(u"hello"), c.result == S_OK ? u"hello" : u"");
  }
}

}  // namespace
}  // namespace Vantor::KQCP
