// The demo's director: loads the platform as a host, runs the steps that need no other
// process itself, starts a service and two client processes of one platform name, drives them
// and prints what happens. It stops at the first failing step with its reason.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "common/demo_plugin.h"
#include "demo_roles.h"
#include "example_host.h"
#include "frame_client.h"
#include "lua_engine.h"
#include "platform_loader.h"

extern char** environ;

namespace example {

namespace {

class StepFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int g_step = 0;

void Say(const std::string& who, const std::string& text) {
  std::cout << "  " << who << ": " << text << std::endl;
}

void Step(const std::string& title) {
  std::cout << "\nstep " << ++g_step << ": " << title << std::endl;
}

void Require(bool ok, const std::string& reason) {
  if (!ok) throw StepFailed(reason);
}

// A member process, driven through its standard input and output.
class Member {
 public:
  Member(const std::string& name, const std::string& self, const std::string& library)
      : name_(name) {
    int toChild[2], fromChild[2];
    Require(pipe2(toChild, O_CLOEXEC) == 0 && pipe2(fromChild, O_CLOEXEC) == 0, "no pipes");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    std::vector<std::string> args{self, "--member"};
    if (!library.empty()) args.insert(args.end(), {"--library", library});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    Require(spawned == 0, "cannot start the " + name + " process");
    in_ = fdopen(toChild[1], "w");
    out_ = fdopen(fromChild[0], "r");
    Expect("", "started as process " + std::to_string(pid_));
  }
  ~Member() {
    if (in_) {
      std::fputs("QUIT\n", in_);
      std::fclose(in_);
    }
    if (out_) std::fclose(out_);
    if (pid_ > 0) {
      // Give it a moment to leave by itself, then make sure it is gone.
      for (int i = 0; i < 200 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  // Runs a plug-in step in the member and returns its report.
  std::string Run(const std::string& plugin, const std::string& step,
                  const std::string& argument = "") {
    return Expect("RUN " + plugin + " " + step + " " + argument + "\n", "");
  }

 private:
  std::string Expect(const std::string& command, const std::string& note) {
    if (!command.empty()) {
      std::fputs(command.c_str(), in_);
      std::fflush(in_);
    }
    char line[8192];
    Require(std::fgets(line, sizeof line, out_) != nullptr,
            "the " + name_ + " process ended unexpectedly");
    std::string text(line);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    Require(text.rfind("OK ", 0) == 0, name_ + ": " + text);
    text = text.substr(3);
    Say(name_, note.empty() ? text : note);
    return text;
  }

  std::string name_;
  pid_t pid_ = -1;
  FILE* in_ = nullptr;
  FILE* out_ = nullptr;
};

Ref<IDemoPlugin> DemoPluginNamed(IKQCPPluginManager* plugins, const char16_t* name) {
  Ref<IKQCPPlugin> plugin;
  Ref<IDemoPlugin> demo;
  if (plugins->GetPlugin(name, plugin.Put()) == S_OK) {
    plugin->QueryInterface(IID_IDemoPlugin, demo.PutVoid());
  }
  return demo;
}

void Scenario(const std::string& self, const std::string& libraryPath) {
  Step("the host loads the platform library and initialises the platform");
  PlatformLoader loader(libraryPath);
  Require(loader.Platform() != nullptr, loader.Error());
  IKQCommunityPlatform* platform = loader.Platform();
  Ref<ExampleHost> host(new ExampleHost(), false);
  Require(platform->Init(host.Get()) == S_OK, "Init failed");
  // Left last, after the member processes and the echo server, whatever step fails.
  const PlatformStop stop(platform, *host.Get());
  Say("director", "loaded " + loader.LibraryPath() + " and initialised the platform");

  Step("plug-ins are loaded from the demo's own list, kqcp-demo/ beside the library");
  Require(platform->LoadPlugins(loader.DemoPluginList().c_str()) == S_OK,
          "no readable kqcp-demo/KQCP_PLUGIN.xml beside the library");
  Ref<IKQCPPluginManager> plugins;
  platform->GetPluginManager(plugins.Put());
  for (const char16_t* name : {u"orders", u"ledger", u"messenger"}) {
    const std::u16string n(name);
    Require(static_cast<bool>(DemoPluginNamed(plugins.Get(), name)),
            "plug-in " + std::string(n.begin(), n.end()) + " is missing");
    Say("director", "plug-in \"" + std::string(n.begin(), n.end()) + "\" loaded");
  }

  Step("keyed workshop commands complete in order, two keys side by side");
  char report[4096] = {};
  Ref<IDemoPlugin> orders = DemoPluginNamed(plugins.Get(), u"orders");
  Require(orders->RunStep("keyed", "4", report, sizeof report) == S_OK, report);
  Require(std::string(report) == "invoice: 1 2 3 4; order: 1 2 3 4; ",
          std::string("commands finished out of order: ") + report);
  Say("orders plug-in", report);

  Step("a Lua chunk runs in the host's engine through the Lua host");
  Ref<IKQCPLuaHost> lua;
  platform->GetLuaHost(lua.Put());
  Ref<LuaEngine> engine(new LuaEngine([](const std::string& name) {
                          return name == "greeting" ? std::string("hello from the host") : "";
                        }),
                        false);
  lua->SetEngine(engine.Get());
  lua->Register("greeting", 1);
  const char* chunk = "result = kqcp_lookup('greeting') .. ', ' .. (6 * 7)";
  Require(lua->CallEngine(reinterpret_cast<LuaValue>(chunk)) == S_OK, engine->LastError());
  const char* check = "assert(result == 'hello from the host, 42')";
  Require(lua->CallEngine(reinterpret_cast<LuaValue>(check)) == S_OK, engine->LastError());
  Say("lua", "ran \"" + std::string(chunk) + "\": result = 'hello from the host, 42'");

  Step("a timer and a TCP echo over loopback through the asynchronous I/O frame");
  Ref<IAsynIOFrame> frame;
  platform->GetAsynIOFrame(frame.Put());
  EchoServer echo(host->Io().Context());
  std::string timerReport, echoReport;
  bool timerOk = false, echoOk = false;
  std::thread worker([&] {  // a plug-in's thread, not the host's message thread
    timerOk = WaitForTimer(frame.Get(), 50, timerReport);
    std::vector<char> data(64 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    echoOk = EchoThroughFrame(frame.Get(), "127.0.0.1", echo.Port(), data, echoReport);
  });
  worker.join();
  Require(timerOk, timerReport);
  Say("frame", timerReport);
  Require(echoOk, echoReport);
  Say("frame", echoReport);

  const std::string platformName = "kqcp_demo_" + std::to_string(getpid());
  const auto cacheDirectory = std::filesystem::temp_directory_path() / platformName;
  std::filesystem::create_directories(cacheDirectory);

  Step("a service process and two client processes join platform " + platformName);
  Member service("service", self, libraryPath);
  service.Run("messenger", "serve", platformName);
  Member alice("alice", self, libraryPath);
  alice.Run("messenger", "join", platformName + " alice");
  Member bob("bob", self, libraryPath);
  bob.Run("messenger", "join", platformName + " bob");

  Step("alice's request carries an XML package; the service answers her");
  alice.Run("messenger", "request", "green-tea");

  Step("the service broadcasts a message to every client");
  service.Run("messenger", "broadcast", "1 2 3");
  alice.Run("messenger", "messages", "1");
  bob.Run("messenger", "messages", "1");

  Step("the service shares data that a client reads");
  service.Run("messenger", "share", "today's special: jasmine");
  bob.Run("messenger", "shared");

  Step("values written to a database cache by one process are read by another");
  alice.Run("ledger", "write", cacheDirectory.string());
  bob.Run("ledger", "read", cacheDirectory.string());

  std::error_code ignored;
  std::filesystem::remove_all(cacheDirectory, ignored);
}

}  // namespace

int RunDirector(const std::string& self, const std::string& libraryPath) {
  std::cout << "KQCP demo: one host, its plug-ins, and three processes of one platform"
            << std::endl;
  char resolved[4096];
  const std::string executable = realpath(self.c_str(), resolved) ? std::string(resolved) : self;
  try {
    Scenario(executable, libraryPath);
  } catch (const StepFailed& failure) {
    std::cout << "\ndemo FAILED at step " << g_step << ": " << failure.what() << std::endl;
    return 1;
  }
  std::cout << "\ndemo passed: " << g_step << " steps, every one as expected" << std::endl;
  return 0;
}

}  // namespace example
