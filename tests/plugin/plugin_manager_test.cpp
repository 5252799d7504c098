// The plug-in manager with real plug-in libraries: loading and why a load fails, the first
// plug-in of a name wins, reference handling, notification order, plug-in code calling back
// into the platform, the table lock, list files and entries that are not regular files, and
// the object registry.
#include "plugin/plugin_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/platform.h"
#include "os/utf.h"
#include "plugin_journal.h"
#include "plugins/left_behind.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::CountPluginEvents;
using kqcp_test::IsLibraryLoaded;
using kqcp_test::PluginEvent;
using kqcp_test::PluginEventNames;
using kqcp_test::TestPluginFile;
using kqcp_test::TestPluginPath;
using os::Utf8ToUtf16;
using Names = std::vector<std::string>;

constexpr HRESULT kEntryFailure = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kInitializeRefusal = static_cast<HRESULT>(0x80070032u);

using kqcp_test::Platform;

class PluginManagerTest : public testing::Test {
 protected:
  ~PluginManagerTest() override { kqcp_test::SetPluginHook(nullptr); }

  HRESULT Load(const std::string& stem) {
    return manager_->LoadPlugin(TestPluginPath(stem).c_str());
  }
  // The plug-in of that name, with a reference for the caller, or null.
  com::ComPtr<IKQCPPlugin> Find(const char16_t* name) {
    com::ComPtr<IKQCPPlugin> plugin;
    if (manager_->GetPlugin(name, plugin.Put()) != S_OK) return nullptr;
    return plugin;
  }
  static std::u16string NameOf(IKQCPPlugin* plugin) {
    BSTR name = nullptr;
    plugin->GetName(&name);
    std::u16string text = name ? name : u"(null)";
    SysFreeString(name);
    return text;
  }
  // A list file in dir_ with those entries inside the root element.
  std::u16string WriteList(const std::string& body, const std::string& root = "PluginList") {
    const std::string path = dir_.File("KQCP_PLUGIN.xml");
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" << root << ">\n"
                        << body << "</" << root << ">\n";
    return Utf8ToUtf16(path);
  }
  // A copy of a test plug-in at dir_/relative.
  std::string CopyPlugin(const std::string& stem, const std::string& relative) {
    const std::filesystem::path target = dir_.File(relative);
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(TestPluginFile(stem), target);
    return target.string();
  }

  PluginManager_* manager_ = PluginManagerHolder::Instance();
  kqcp_test::TempDir dir_;
};

TEST_F(PluginManagerTest, AnswersOnlyItsOwnIdentifierAndCountsNoReferences) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(manager_->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(manager_->QueryInterface(IID_IKQCPPluginManager, &out), S_OK);
  EXPECT_EQ(out, static_cast<IKQCPPluginManager*>(manager_));
  EXPECT_EQ(manager_->AddRef(), 1u);
  EXPECT_EQ(manager_->Release(), 1u);
  EXPECT_EQ(manager_->NotifyPlugins(0), S_OK);
}

TEST_F(PluginManagerTest, ALoadedPluginIsInitialisedWithThePlatformAndFoundByItsExactName) {
  ASSERT_EQ(Load("alpha"), S_OK);
  EXPECT_EQ(PluginEventNames(),
            (Names{"alpha:GetPluginObject", "alpha:GetName", "alpha:Initialize"}));
  EXPECT_EQ(kqcp_test::PluginEvents().back().platform, Platform());
  EXPECT_TRUE(IsLibraryLoaded(TestPluginFile("alpha")));

  com::ComPtr<IKQCPPlugin> plugin = Find(u"alpha");
  ASSERT_TRUE(plugin);
  EXPECT_EQ(NameOf(plugin.Get()), u"alpha");
  // The reference "GetPluginObject" gave, the table's own, and the one GetPlugin added.
  EXPECT_EQ(plugin->AddRef(), 4u);
  EXPECT_EQ(plugin->Release(), 3u);

  for (const char16_t* other : {u"Alpha", u"alph", u"alpha ", u"alphabet", u""}) {
    EXPECT_FALSE(Find(other)) << os::Utf16ToUtf8(other);
  }
  auto* untouched = reinterpret_cast<IKQCPPlugin*>(1);
  EXPECT_EQ(manager_->GetPlugin(nullptr, &untouched), E_FAIL);
  EXPECT_EQ(manager_->GetPlugin(u"beta", &untouched), E_FAIL);
  EXPECT_EQ(untouched, reinterpret_cast<IKQCPPlugin*>(1));
  EXPECT_EQ(manager_->GetPlugin(u"alpha", nullptr), E_POINTER);
}

TEST_F(PluginManagerTest, LoadPluginReportsWhyALibraryWasNotAdded) {
  const std::string notALibrary = dir_.File("not_a_library.so");
  std::ofstream(notALibrary) << "this is text, not a library\n";
  struct Case {
    std::string file;
    HRESULT result;
    const char* tag;  // null: no plug-in code ran
    bool objectMade;
    bool initialised;
  };
  const Case cases[] = {
      {dir_.File("missing.so"), KQCP_E_PLUGIN_NOT_LOADABLE, nullptr, false, false},
      {notALibrary, KQCP_E_PLUGIN_NOT_LOADABLE, nullptr, false, false},
      {TestPluginFile("no_export"), KQCP_E_PLUGIN_NO_ENTRY, nullptr, false, false},
      {TestPluginFile("entry_fails"), kEntryFailure, "entry_fails", true, false},
      {TestPluginFile("entry_gives_null"), KQCP_E_PLUGIN_NO_OBJECT, "entry_gives_null", false,
       false},
      {TestPluginFile("empty_name"), KQCP_E_PLUGIN_NO_NAME, "empty_name", true, false},
      {TestPluginFile("null_name"), KQCP_E_PLUGIN_NO_NAME, "null_name", true, false},
      {TestPluginFile("refuses_init"), kInitializeRefusal, "refuses_init", true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(manager_->LoadPlugin(Utf8ToUtf16(c.file).c_str()), c.result) << c.file;
    // Nothing of the library stays behind, unless its code was handed the platform: what it
    // did there may still run its code.
    EXPECT_EQ(IsLibraryLoaded(c.file), c.initialised) << c.file;
    if (!c.tag) continue;
    EXPECT_EQ(CountPluginEvents(c.tag, "GetPluginObject"), 1) << c.tag;
    EXPECT_EQ(CountPluginEvents(c.tag, "Initialize"), c.initialised ? 1 : 0) << c.tag;
    // A plug-in that was made is released exactly once.
    EXPECT_EQ(CountPluginEvents(c.tag, "Destroyed"), c.objectMade ? 1 : 0) << c.tag;
  }
  for (const char16_t* name : {u"entry_fails", u"entry_gives_null", u"refuses_init", u""}) {
    EXPECT_FALSE(Find(name)) << os::Utf16ToUtf8(name);
  }

  EXPECT_EQ(manager_->LoadPlugin(u""), E_POINTER);
  EXPECT_EQ(manager_->LoadPlugin(nullptr), E_POINTER);
  EXPECT_EQ(manager_->LoadPluginLibrary(nullptr), E_POINTER);
}

TEST_F(PluginManagerTest, APluginThatRefusesAfterDoingWorkLeavesThatWorkSafeToUse) {
  ASSERT_EQ(Platform()->Init(nullptr), S_OK);
  EXPECT_EQ(Load("leaves_work"), E_FAIL);
  EXPECT_FALSE(Find(u"leaves_work"));
  EXPECT_EQ(CountPluginEvents("leaves_work", "Destroyed"), 1);
  EXPECT_TRUE(IsLibraryLoaded(TestPluginFile("leaves_work")));

  // Its command runs on a worker and is released there, its thread ends in its own time.
  for (const char* event : {"CommandExecuted", "CommandDestroyed", "ThreadEnded"}) {
    EXPECT_TRUE(kqcp_test::WaitForPluginEvent("leaves_work", event)) << event;
  }
  // Its object is used and released through the registry.
  com::ComPtr<IUnknown> object;
  ASSERT_EQ(manager_->GetObject(kqcp_test::kLeftBehindObjectId, object.Put()), S_OK);
  com::ComPtr<IUnknown> same;
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, same.PutVoid()), S_OK);
  EXPECT_EQ(same.Get(), object.Get());
  same.Reset();
  object.Reset();
  EXPECT_EQ(CountPluginEvents("leaves_work", "ObjectDestroyed"), 0);
  EXPECT_EQ(manager_->UnregisterObject(kqcp_test::kLeftBehindObjectId), S_OK);
  EXPECT_EQ(CountPluginEvents("leaves_work", "ObjectDestroyed"), 1);
}

TEST_F(PluginManagerTest, TheFirstPluginOfANameWinsAndALaterOneIsNeverInitialised) {
  ASSERT_EQ(Load("alpha"), S_OK);
  com::ComPtr<IKQCPPlugin> first = Find(u"alpha");
  ASSERT_TRUE(first);

  EXPECT_EQ(Load("alpha_twin"), KQCP_E_PLUGIN_NAME_TAKEN);
  EXPECT_EQ(CountPluginEvents("alpha_twin", "GetName"), 1);
  EXPECT_EQ(CountPluginEvents("alpha_twin", "Initialize"), 0);
  EXPECT_EQ(CountPluginEvents("alpha_twin", "Destroyed"), 1);
  EXPECT_FALSE(IsLibraryLoaded(TestPluginFile("alpha_twin")));

  // The same library again: its second plug-in goes, and the library stays for the first.
  EXPECT_EQ(Load("alpha"), KQCP_E_PLUGIN_NAME_TAKEN);
  EXPECT_EQ(CountPluginEvents("alpha", "Initialize"), 1);
  EXPECT_EQ(CountPluginEvents("alpha", "Destroyed"), 1);
  EXPECT_TRUE(IsLibraryLoaded(TestPluginFile("alpha")));
  EXPECT_EQ(Find(u"alpha").Get(), first.Get());
  EXPECT_EQ(first->Notify(nullptr), S_OK);
}

TEST_F(PluginManagerTest, NotifyPluginsGoesInAscendingOrdinalNameOrder) {
  for (const char* stem : {"fullwidth", "beta", "emoji", "alphabet", "zulu", "alpha"}) {
    ASSERT_EQ(Load(stem), S_OK) << stem;
  }
  // Code units, not code points and not letters: "Z" before "a", a prefix before its
  // extensions, a surrogate pair (U+1F600) before U+FF21.
  const Names order = {"zulu:Notify", "alpha:Notify", "alphabet:Notify",
                       "beta:Notify", "emoji:Notify", "fullwidth:Notify"};
  EXPECT_EQ(manager_->NotifyPlugins(12345), S_OK);
  EXPECT_EQ(PluginEventNames("Notify"), order);
  EXPECT_EQ(Platform()->NotifyPlugins(-1), S_OK);
  Names twice = order;
  twice.insert(twice.end(), order.begin(), order.end());
  EXPECT_EQ(PluginEventNames("Notify"), twice);
  for (const PluginEvent& e : kqcp_test::PluginEvents()) {
    if (e.event == "Notify") {
      EXPECT_EQ(e.platform, Platform());
    }
  }
}

TEST_F(PluginManagerTest, InitializeMayCallBackIntoThePlatformOnTheSameThread) {
  ASSERT_EQ(Load("beta"), S_OK);
  HRESULT seesBeta = E_UNEXPECTED, seesItself = E_UNEXPECTED, notified = E_UNEXPECTED;
  HRESULT nestedLoad = E_UNEXPECTED, twinLoad = E_UNEXPECTED;
  bool ran = false;
  kqcp_test::SetPluginHook([&](const PluginEvent& e) {
    if (e.tag != "alpha" || e.event != "Initialize" || ran) return;
    ran = true;
    com::ComPtr<IKQCPPluginManager> manager;
    ASSERT_EQ(e.platform->GetPluginManager(manager.Put()), S_OK);
    com::ComPtr<IKQCPPlugin> found;
    seesBeta = manager->GetPlugin(u"beta", found.Put());
    seesItself = manager->GetPlugin(u"alpha", found.Put());
    notified = e.platform->NotifyPlugins(0);
    nestedLoad = manager->LoadPlugin(TestPluginPath("zulu").c_str());
    // The name being initialised is taken already.
    twinLoad = manager->LoadPlugin(TestPluginPath("alpha_twin").c_str());
  });
  ASSERT_EQ(Load("alpha"), S_OK);
  ASSERT_TRUE(ran);
  EXPECT_EQ(seesBeta, S_OK);
  // A plug-in joins the table only once its Initialize has accepted.
  EXPECT_EQ(seesItself, E_FAIL);
  EXPECT_EQ(notified, S_OK);
  EXPECT_EQ(nestedLoad, S_OK);
  EXPECT_EQ(twinLoad, KQCP_E_PLUGIN_NAME_TAKEN);
  EXPECT_EQ(PluginEventNames("Notify"), Names{"beta:Notify"});
  EXPECT_EQ(CountPluginEvents("alpha_twin", "Initialize"), 0);
  EXPECT_EQ(CountPluginEvents("alpha_twin", "Destroyed"), 1);
  EXPECT_TRUE(Find(u"alpha"));
  EXPECT_TRUE(Find(u"Zulu"));
}

TEST_F(PluginManagerTest, NotifyMayNotifyAgainFromInsideANotification) {
  ASSERT_EQ(Load("beta"), S_OK);
  ASSERT_EQ(Load("alpha"), S_OK);
  bool nested = false;
  kqcp_test::SetPluginHook([&](const PluginEvent& e) {
    if (e.tag != "alpha" || e.event != "Notify" || nested) return;
    nested = true;
    EXPECT_EQ(e.platform->NotifyPlugins(0), S_OK);
    com::ComPtr<IKQCPPluginManager> manager;
    ASSERT_EQ(e.platform->GetPluginManager(manager.Put()), S_OK);
    com::ComPtr<IKQCPPlugin> found;
    EXPECT_EQ(manager->GetPlugin(u"beta", found.Put()), S_OK);
  });
  EXPECT_EQ(manager_->NotifyPlugins(0), S_OK);
  EXPECT_EQ(PluginEventNames("Notify"),
            (Names{"alpha:Notify", "alpha:Notify", "beta:Notify", "beta:Notify"}));
}

TEST_F(PluginManagerTest, AnotherThreadWaitsForThePluginTableWhileAPluginInitialises) {
  std::future<HRESULT> lookup;
  bool answeredDuringInitialize = true;
  kqcp_test::SetPluginHook([&](const PluginEvent& e) {
    if (e.tag != "alpha" || e.event != "Initialize") return;
    lookup = std::async(std::launch::async, [this] {
      com::ComPtr<IKQCPPlugin> plugin;
      return manager_->GetPlugin(u"alpha", plugin.Put());
    });
    // The lookup needs the table, which this Initialize holds; a lookup that got through would
    // answer at once that there is no "alpha" yet.
    answeredDuringInitialize =
        lookup.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready;
  });
  ASSERT_EQ(Load("alpha"), S_OK);
  EXPECT_FALSE(answeredDuringInitialize);
  EXPECT_EQ(lookup.get(), S_OK);
}

TEST_F(PluginManagerTest, RacingLoadsKeepOnePluginPerName) {
  constexpr int kThreads = 4;
  std::atomic<int> added{0}, taken{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (const char* stem : {"alpha", "alpha_twin", "beta"}) {
        const HRESULT result = Load(stem);
        if (result == S_OK) ++added;
        if (result == KQCP_E_PLUGIN_NAME_TAKEN) ++taken;
      }
      EXPECT_EQ(manager_->NotifyPlugins(0), S_OK);
      EXPECT_TRUE(Find(u"alpha"));
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(added.load(), 2);
  EXPECT_EQ(taken.load(), 3 * kThreads - 2);
  EXPECT_EQ(
      CountPluginEvents("alpha", "Initialize") + CountPluginEvents("alpha_twin", "Initialize"), 1);
  EXPECT_EQ(CountPluginEvents("beta", "Initialize"), 1);
}

TEST_F(PluginManagerTest, TheDocumentedListLoadsItsEnabledEntryThroughABackslashPath) {
  const std::string chat = CopyPlugin("alpha", "chat/chat.dll");
  const std::string board = CopyPlugin("beta", "games/board.dll");
  const std::u16string list = WriteList(
      "  <Plugin path=\"chat\\chat.dll\" name=\"chat\" enable=\"TRUE\"/>\n"
      "  <Plugin path=\"games\\board.dll\" name=\"board\" enable=\"no\"/>\n"
      "  <Plugin name=\"tools\" enable=\"true\"/>\n");
  EXPECT_EQ(manager_->LoadPlugins(list.c_str()), S_OK);
  EXPECT_TRUE(Find(u"alpha"));
  EXPECT_TRUE(IsLibraryLoaded(chat));
  EXPECT_FALSE(Find(u"beta"));
  EXPECT_FALSE(IsLibraryLoaded(board));
  EXPECT_EQ(PluginEventNames("GetPluginObject"), Names{"alpha:GetPluginObject"});
}

TEST_F(PluginManagerTest, ListEntriesLoadInDocumentOrderAndFailuresDoNotStopTheRest) {
  for (const char* stem :
       {"refuses_init", "no_export", "beta", "zulu", "alpha", "alpha_twin", "empty_name"}) {
    CopyPlugin(stem, std::string("plugins/") + stem + ".so");
  }
  std::ofstream(dir_.File("plugins/text.so")) << "not a library";
  const std::u16string list = WriteList(
      "<Plugin path='plugins/refuses_init.so' enable='true'/>"
      "<Plugin path='plugins/no_export.so' enable='true'/>"
      "<Plugin path='plugins/text.so' enable='true'/>"
      "<Plugin path='plugins/missing.so' enable='true'/>"
      "<Plugin path='plugins/beta.so' enable='false'/>"
      "<Plugin path='plugins\\zulu.so' enable='true'/>"
      "<Plugin path='plugins/alpha.so' enable='true'/>"
      "<Plugin path='plugins/alpha_twin.so' enable='true'/>"
      "<Plugin path='plugins/empty_name.so' enable='true'/>");
  EXPECT_EQ(manager_->LoadPlugins(list.c_str()), S_OK);
  EXPECT_EQ(PluginEventNames("GetPluginObject"),
            (Names{"refuses_init:GetPluginObject", "zulu:GetPluginObject", "alpha:GetPluginObject",
                   "alpha_twin:GetPluginObject", "empty_name:GetPluginObject"}));
  EXPECT_TRUE(Find(u"Zulu"));
  EXPECT_TRUE(Find(u"alpha"));
  EXPECT_FALSE(Find(u"beta"));
  EXPECT_FALSE(Find(u"refuses_init"));
  EXPECT_EQ(CountPluginEvents("alpha_twin", "Initialize"), 0);
}

// Runs the call on a thread of its own while another thread starts a thread, and waits at most
// a second for both. A call that is still waiting then (in the open of a FIFO, holding the
// loader's lock) is freed by a writer that comes and goes, so that the test fails instead of
// hanging. The call's result, or nothing when either was late.
std::optional<HRESULT> WithinASecond(const std::function<HRESULT()>& call,
                                     const std::string& fifo) {
  std::promise<void> go;
  auto starter = std::async(std::launch::async, [ready = go.get_future()] {
    ready.wait();
    std::thread([] {}).join();
  });
  auto calling = std::async(std::launch::async, call);
  go.set_value();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  const bool called = calling.wait_until(deadline) == std::future_status::ready;
  const bool started = starter.wait_until(deadline) == std::future_status::ready;
  while (calling.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) close(writer);
  }
  starter.wait();
  const HRESULT result = calling.get();
  EXPECT_TRUE(called) << "the load waited";
  EXPECT_TRUE(started) << "no thread could start while the load ran";
  if (!called || !started) return std::nullopt;
  return result;
}

// Lines that standard error received, one string each.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(PluginManagerTest, ListEntriesThatAreNoRegularFilesAreRefusedAtOnceAndTheRestLoad) {
  std::filesystem::create_directories(dir_.File("plugins/directory.so"));
  ASSERT_EQ(mkfifo(dir_.File("plugins/fifo.so").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir_.File("plugins/fifo.so"), dir_.File("plugins/to_fifo.so"));
  CopyPlugin("beta", "plugins/beta.so");
  // A link to a regular file is an ordinary install layout, and loads.
  CopyPlugin("zulu", "versions/zulu.so.1");
  std::filesystem::create_symlink(dir_.File("versions/zulu.so.1"), dir_.File("plugins/zulu.so"));
  // Entries are relative to the list's directory; this one climbs to the device.
  const std::string device =
      std::filesystem::relative("/dev/null", std::filesystem::canonical(dir_.path())).string();
  const std::u16string list = WriteList(
      "<Plugin path='plugins/fifo.so' enable='true'/>"
      "<Plugin path='plugins/beta.so' enable='true'/>"
      "<Plugin path='plugins/directory.so' enable='true'/>"
      "<Plugin path='" +
      device +
      "' enable='true'/>"
      "<Plugin path='plugins/to_fifo.so' enable='true'/>"
      "<Plugin path='plugins/zulu.so' enable='true'/>");

  testing::internal::CaptureStderr();
  const std::optional<HRESULT> result = WithinASecond(
      [&] { return manager_->LoadPlugins(list.c_str()); }, dir_.File("plugins/fifo.so"));
  const std::vector<std::string> logged = Lines(testing::internal::GetCapturedStderr());
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(PluginEventNames("GetPluginObject"),
            (Names{"beta:GetPluginObject", "zulu:GetPluginObject"}));
  EXPECT_TRUE(Find(u"beta"));
  EXPECT_TRUE(Find(u"Zulu"));
  // The manager keeps each library's path as the list gave it.
  const std::u16string directory = Utf8ToUtf16(dir_.path() + "/");
  EXPECT_EQ(manager_->PluginPath(u"beta"), directory + u"plugins/beta.so");
  EXPECT_EQ(manager_->PluginPath(u"Zulu"), directory + u"plugins/zulu.so");
  EXPECT_EQ(manager_->PluginPath(u"alpha"), u"");

  // One line for each refused entry, naming it.
  ASSERT_EQ(logged.size(), 4u) << testing::PrintToString(logged);
  const char* refused[] = {"plugins/fifo.so", "plugins/directory.so", "dev/null",
                           "plugins/to_fifo.so"};
  for (std::size_t i = 0; i < logged.size(); ++i) {
    EXPECT_NE(logged[i].find(refused[i]), std::string::npos) << logged[i];
    EXPECT_NE(logged[i].find("not a regular file"), std::string::npos) << logged[i];
  }
}

TEST_F(PluginManagerTest, LoadPluginRefusesWhatIsNoRegularFileAtOnce) {
  const std::string fifo = dir_.File("fifo.so");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_symlink(fifo, dir_.File("to_fifo.so"));
  std::filesystem::create_symlink("/dev/null", dir_.File("to_null.so"));
  for (const std::string& path : {fifo, dir_.File("to_fifo.so"), std::string("/dev/null"),
                                  dir_.File("to_null.so"), dir_.path(), dir_.path() + "/"}) {
    const std::u16string wide = Utf8ToUtf16(path);
    EXPECT_EQ(WithinASecond([&] { return manager_->LoadPlugin(wide.c_str()); }, fifo),
              KQCP_E_PLUGIN_NOT_LOADABLE)
        << path;
  }
  EXPECT_TRUE(PluginEventNames().empty());
}

TEST_F(PluginManagerTest, EachLoadGetsItsOwnLibraryThoughDescriptorNumbersRepeat) {
  // Each load opens its file afresh, so the descriptors' numbers repeat, and the libraries that
  // stay loaded are still known to the loader by the earlier ones.
  EXPECT_EQ(Load("refuses_init"), kInitializeRefusal);
  for (const char* stem : {"alpha", "beta", "zulu"}) EXPECT_EQ(Load(stem), S_OK) << stem;
  EXPECT_EQ(Load("alpha_twin"), KQCP_E_PLUGIN_NAME_TAKEN);
  EXPECT_EQ(Load("beta"), KQCP_E_PLUGIN_NAME_TAKEN);
  EXPECT_EQ(Load("alphabet"), S_OK);
  EXPECT_EQ(PluginEventNames("GetPluginObject"),
            (Names{"refuses_init:GetPluginObject", "alpha:GetPluginObject", "beta:GetPluginObject",
                   "zulu:GetPluginObject", "alpha_twin:GetPluginObject", "beta:GetPluginObject",
                   "alphabet:GetPluginObject"}));
  for (const char16_t* name : {u"alpha", u"beta", u"Zulu", u"alphabet"}) {
    com::ComPtr<IKQCPPlugin> plugin = Find(name);
    ASSERT_TRUE(plugin) << os::Utf16ToUtf8(name);
    EXPECT_EQ(NameOf(plugin.Get()), name);
  }
  EXPECT_EQ(manager_->PluginPath(u"alpha"), TestPluginPath("alpha"));
  EXPECT_FALSE(IsLibraryLoaded(TestPluginFile("alpha_twin")));
  EXPECT_TRUE(IsLibraryLoaded(TestPluginFile("refuses_init")));
}

TEST_F(PluginManagerTest, AListThatDoesNotReadFailsAndLoadsNothing) {
  CopyPlugin("alpha", "alpha.so");
  // No fallback to the default list for an empty path.
  EXPECT_EQ(manager_->LoadPlugins(u""), E_FAIL);
  EXPECT_EQ(manager_->LoadPlugins(Utf8ToUtf16(dir_.File("missing.xml")).c_str()), E_FAIL);
  const std::u16string lower = WriteList("<Plugin path='alpha.so' enable='true'/>", "pluginlist");
  EXPECT_EQ(manager_->LoadPlugins(lower.c_str()), E_FAIL);
  EXPECT_EQ(Platform()->LoadPlugins(lower.c_str()), E_FAIL);
  EXPECT_TRUE(PluginEventNames().empty());

  // Read through the platform, the same list with the right root loads.
  const std::u16string good = WriteList("<Plugin path='alpha.so' enable='true'/>");
  EXPECT_EQ(Platform()->LoadPlugins(good.c_str()), S_OK);
  EXPECT_TRUE(Find(u"alpha"));
}

TEST_F(PluginManagerTest, AListNamedWithoutADirectoryLoadsNone) {
  CopyPlugin("alpha", "alpha.so");
  WriteList("<Plugin path='alpha.so' enable='true'/>");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  const HRESULT result = manager_->LoadPlugins(u"KQCP_PLUGIN.xml");
  std::filesystem::current_path(previous);
  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(PluginEventNames().empty());
}

// Objects for the registry; the destructor can run a test's action.
struct ITestObject : IUnknown {
  static constexpr GUID kIidValue = {
      0x5C1B2A3D, 0x4E5F, 0x4061, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
  static constexpr const GUID& kIid = kIidValue;
};

class TestObject : public com::RefCounted<com::ComponentObject, ITestObject> {
 public:
  std::function<void()> onDestroy;
  ~TestObject() override {
    if (onDestroy) onDestroy();
  }
};

constexpr GUID kKey = {
    0x0A1B2C3D, 0x1111, 0x2222, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}};

TEST_F(PluginManagerTest, RegisteringAgainReplacesTheObjectAndReleasesTheEarlierOne) {
  auto* first = com::MakeObject<TestObject>();
  auto* second = com::MakeObject<TestObject>();
  EXPECT_EQ(manager_->RegisterObject(kKey, first), S_OK);
  EXPECT_EQ(first->ReferenceCount(), 2);
  EXPECT_EQ(manager_->RegisterObject(kKey, second), S_FALSE);
  EXPECT_EQ(first->ReferenceCount(), 1);
  EXPECT_EQ(second->ReferenceCount(), 2);

  IUnknown* got = nullptr;
  ASSERT_EQ(manager_->GetObject(kKey, &got), S_OK);
  EXPECT_EQ(got, static_cast<IUnknown*>(second));
  EXPECT_EQ(second->ReferenceCount(), 3);
  got->Release();

  // Replaced by itself: still one reference held.
  EXPECT_EQ(manager_->RegisterObject(kKey, second), S_FALSE);
  EXPECT_EQ(second->ReferenceCount(), 2);

  EXPECT_EQ(manager_->UnregisterObject(kKey), S_OK);
  EXPECT_EQ(second->ReferenceCount(), 1);
  EXPECT_EQ(manager_->UnregisterObject(kKey), E_FAIL);
  got = reinterpret_cast<IUnknown*>(1);
  EXPECT_EQ(manager_->GetObject(kKey, &got), E_FAIL);
  EXPECT_EQ(got, nullptr);

  EXPECT_EQ(manager_->RegisterObject(kKey, nullptr), E_POINTER);
  EXPECT_EQ(manager_->GetObject(kKey, nullptr), E_POINTER);
  first->Release();
  second->Release();
}

TEST_F(PluginManagerTest, IdentifiersAreComparedAsAWhole) {
  // Each differs from the first in one place only, the last byte included.
  GUID keys[6] = {kKey, kKey, kKey, kKey, kKey, kKey};
  keys[1].Data1 ^= 1;
  keys[2].Data2 ^= 1;
  keys[3].Data3 ^= 1;
  keys[4].Data4[0] ^= 1;
  keys[5].Data4[7] ^= 1;
  std::vector<com::ComPtr<TestObject>> objects;
  for (const GUID& key : keys) {
    objects.push_back(com::ComPtr<TestObject>::Adopt(com::MakeObject<TestObject>()));
    EXPECT_EQ(manager_->RegisterObject(key, objects.back().Get()), S_OK);
  }
  for (std::size_t i = 0; i < std::size(keys); ++i) {
    com::ComPtr<IUnknown> got;
    ASSERT_EQ(manager_->GetObject(keys[i], got.Put()), S_OK);
    EXPECT_EQ(got.Get(), static_cast<IUnknown*>(objects[i].Get())) << i;
  }
  EXPECT_EQ(manager_->UnregisterObject(keys[5]), S_OK);
  com::ComPtr<IUnknown> got;
  EXPECT_EQ(manager_->GetObject(keys[5], got.Put()), E_FAIL);
  EXPECT_EQ(manager_->GetObject(keys[0], got.Put()), S_OK);
  got.Reset();
  for (const GUID& key : keys) manager_->UnregisterObject(key);
  for (const auto& object : objects) EXPECT_EQ(object->ReferenceCount(), 1);
}

TEST_F(PluginManagerTest, AReplacedObjectIsReleasedWithoutTheRegistryHeld) {
  // Releasing the replaced object asks the registry from another thread and waits for it.
  HRESULT askedDuringRelease = E_UNEXPECTED;
  auto* first = com::MakeObject<TestObject>();
  first->onDestroy = [&] {
    askedDuringRelease = std::async(std::launch::async, [this] {
                           com::ComPtr<IUnknown> current;
                           return manager_->GetObject(kKey, current.Put());
                         }).get();
  };
  ASSERT_EQ(manager_->RegisterObject(kKey, first), S_OK);
  first->Release();
  auto second = com::ComPtr<TestObject>::Adopt(com::MakeObject<TestObject>());
  EXPECT_EQ(manager_->RegisterObject(kKey, second.Get()), S_FALSE);
  EXPECT_EQ(askedDuringRelease, S_OK);
  EXPECT_EQ(manager_->UnregisterObject(kKey), S_OK);
}

TEST_F(PluginManagerTest, RegistryCallsFromManyThreadsKeepTheCountsRight) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  std::vector<com::ComPtr<TestObject>> objects;
  for (int i = 0; i < kThreads; ++i) {
    objects.push_back(com::ComPtr<TestObject>::Adopt(com::MakeObject<TestObject>()));
  }
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      GUID own = kKey;
      own.Data4[7] = static_cast<std::uint8_t>(i);
      for (int round = 0; round < kRounds; ++round) {
        manager_->RegisterObject(kKey, objects[i].Get());
        manager_->RegisterObject(own, objects[i].Get());
        com::ComPtr<IUnknown> got;
        manager_->GetObject(kKey, got.Put());
        EXPECT_EQ(manager_->UnregisterObject(own), S_OK);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(manager_->UnregisterObject(kKey), S_OK);
  for (const auto& object : objects) EXPECT_EQ(object->ReferenceCount(), 1);
}

}  // namespace
}  // namespace Vantor::KQCP
