// The kqcp command: "list", "watch" and "sweep" over the calling user's platforms.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "json_writer.h"
#include "namespace_files.h"
#include "platform_reader.h"
#include "report.h"
#include "sweep.h"

namespace {

using namespace kqcp_tool;

constexpr int kOk = 0;
constexpr int kNothing = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: kqcp list [PLATFORM] [--json]\n"
    "       kqcp watch PLATFORM [--count N]\n"
    "       kqcp sweep [--json]\n"
    "\n"
    "  list    the calling user's platforms: service and clients with their process ids and\n"
    "          liveness, receive queues (records, bytes used of capacity), session data\n"
    "          sizes, posted, delivered, received, refused and dropped counts\n"
    "  watch   redraws one platform's figures every second, with rates, until interrupted\n"
    "          (or N times)\n"
    "  sweep   removes the named objects that processes which are gone left behind, and\n"
    "          prints each one removed; objects a live process holds are never touched\n"
    "  --json  machine-readable output\n"
    "\n"
    "Exit status: 0 success, 1 nothing matched (no platform, nothing to sweep), 2 usage error,\n"
    "unknown platform or corrupt shared data.\n";

volatile std::sig_atomic_t interrupted = 0;

int Fail(const std::string& message) {
  std::fprintf(stderr, "kqcp: %s\n", message.c_str());
  return kUsage;
}

struct Options {
  std::string command;
  std::vector<std::string> operands;
  bool json = false;
  long count = 0;  // watch: redraws before stopping; 0 for no end
};

// The platform an operand names, or a failure message.
bool CheckPlatform(const std::string& name, const std::vector<std::string>& running,
                   std::string* message) {
  if (!IsValidPlatformName(name)) {
    *message = "platform name \"" + JsonQuote(name).substr(1, JsonQuote(name).size() - 2) +
               "\" may hold only letters, digits, '-', '_' and '.'";
    return false;
  }
  for (const std::string& known : running) {
    if (known == name) return true;
  }
  *message = "no platform \"" + name + "\" exists for this user";
  return false;
}

// Prints each corruption found as one line; true when there was any.
bool ReportErrors(const std::vector<Platform>& platforms) {
  bool any = false;
  for (const Platform& platform : platforms) {
    for (const std::string& error : platform.errors) {
      std::fprintf(stderr, "kqcp: platform %s: %s\n", platform.name.c_str(), error.c_str());
      any = true;
    }
  }
  return any;
}

int List(const Options& options) {
  if (options.operands.size() > 1) return Fail("list takes at most one platform");
  const std::vector<std::string> running = PlatformNames();
  std::vector<std::string> chosen = running;
  if (!options.operands.empty()) {
    std::string message;
    if (!CheckPlatform(options.operands[0], running, &message)) return Fail(message);
    chosen = {options.operands[0]};
  }
  std::vector<Platform> platforms;
  platforms.reserve(chosen.size());
  for (const std::string& name : chosen) platforms.push_back(ReadPlatform(name, running));
  if (options.json) {
    std::fputs(PlatformsJson(platforms).c_str(), stdout);
  } else if (platforms.empty()) {
    std::puts("no platforms");
  }
  for (std::size_t i = 0; !options.json && i < platforms.size(); ++i) {
    std::fputs(((i ? "\n" : "") + PlatformTable(platforms[i])).c_str(), stdout);
  }
  std::fflush(stdout);
  if (ReportErrors(platforms)) return kUsage;
  return platforms.empty() ? kNothing : kOk;
}

int Watch(const Options& options) {
  if (options.operands.size() != 1) return Fail("watch takes one platform");
  const std::string& name = options.operands[0];
  std::string message;
  if (!CheckPlatform(name, PlatformNames(), &message)) return Fail(message);
  std::signal(SIGINT, [](int) { interrupted = 1; });
  std::signal(SIGTERM, [](int) { interrupted = 1; });
  const bool terminal = isatty(STDOUT_FILENO);
  Platform earlier;
  auto earlierAt = std::chrono::steady_clock::now();
  for (long drawn = 0; !interrupted && (options.count == 0 || drawn < options.count); ++drawn) {
    if (drawn) {
      // Sleeps in short steps so that an interrupt ends the watch at once.
      const auto next = earlierAt + std::chrono::seconds(1);
      while (!interrupted && std::chrono::steady_clock::now() < next) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (interrupted) break;
    }
    const auto now = std::chrono::steady_clock::now();
    Platform platform = ReadPlatform(name, PlatformNames());
    const double seconds = std::chrono::duration<double>(now - earlierAt).count();
    std::string screen = terminal ? "\033[H\033[2J" : (drawn ? "\n" : "");
    screen += PlatformTable(platform, drawn ? &earlier : nullptr, seconds);
    for (const std::string& error : platform.errors) screen += "  " + error + "\n";
    std::fputs(screen.c_str(), stdout);
    std::fflush(stdout);
    earlier = std::move(platform);
    earlierAt = now;
  }
  return kOk;
}

int SweepCommand(const Options& options) {
  if (!options.operands.empty()) return Fail("sweep takes no operands");
  std::vector<ObjectFile> removed;
  if (!Sweep(&removed)) {
    std::fprintf(stderr, "kqcp: the user's namespace folder cannot be used\n");
    return kUsage;
  }
  if (options.json) {
    JsonWriter json;
    json.BeginObject().BeginArray("removed");
    for (const ObjectFile& file : removed) {
      json.BeginObject().Text("kind", KindName(file.kind)).Text("name", file.name);
      json.Text("file", file.file).EndObject();
    }
    json.EndArray().EndObject();
    std::fputs((json.Document() + "\n").c_str(), stdout);
  } else if (removed.empty()) {
    std::puts("nothing to remove");
  }
  for (std::size_t i = 0; !options.json && i < removed.size(); ++i) {
    const ObjectFile& file = removed[i];
    std::printf("removed %s %s\n", KindName(file.kind),
                file.name.empty() ? file.file.c_str() : file.name.c_str());
  }
  return removed.empty() ? kNothing : kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsageText, stdout);
      return kOk;
    }
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--count") {
      char* end = nullptr;
      options.count = i + 1 < argc ? std::strtol(argv[++i], &end, 10) : 0;
      if (!end || *end != '\0' || options.count <= 0)
        return Fail("--count needs a positive number");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Fail("unknown option " + arg + " (see kqcp --help)");
    } else if (options.command.empty()) {
      options.command = arg;
    } else {
      options.operands.push_back(arg);
    }
  }
  if (options.command == "list") return List(options);
  if (options.command == "watch") {
    if (options.json) return Fail("watch has no --json output");
    return Watch(options);
  }
  if (options.command == "sweep") return SweepCommand(options);
  if (options.command.empty()) return Fail("no command given (see kqcp --help)");
  return Fail("unknown command " + options.command + " (see kqcp --help)");
}
