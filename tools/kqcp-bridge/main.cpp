// kqcp-bridge: carries a platform's share sessions between machines over NATS.
#include <cstdio>
#include <string>

#include "exit_codes.h"
#include "options.h"
#include "roles.h"

namespace {

constexpr const char* kUsageText =
    "usage: kqcp-bridge export PLATFORM --nats URL [options]\n"
    "       kqcp-bridge import PLATFORM --nats URL [options]\n"
    "       kqcp-bridge stats PLATFORM --nats URL [options]   (also: --stats PLATFORM)\n"
    "\n"
    "  export  on the machine of the platform's service: joins it as a client and offers it\n"
    "          on NATS, with one client of the service per remote client\n"
    "  import  on another machine: is the platform's service there while the link holds;\n"
    "          gives the role up within 2 s of losing NATS, the export side or the real\n"
    "          service, and takes it again when they return\n"
    "  stats   prints the counters of every bridge process of the platform on NATS\n"
    "\n"
    "options (each also as \"key = value\" in the --config file, without the dashes):\n"
    "  --config FILE          options from FILE, refused unless only its owner can read it\n"
    "  --nats URL             NATS server(s), comma separated (nats:// or tls://)\n"
    "  --user U --password P  user and password      --token T   a token\n"
    "  --nkey PUB --nkey-seed FILE                   --creds FILE  a credentials file\n"
    "  --tls-ca FILE          CA to check the server  --tls-cert FILE --tls-key FILE\n"
    "  --subject-prefix P     subjects P.<platform>.* (default kqcp.<login name>)\n"
    "  --name N               export: the bridge's own client name (default kqcp-bridge)\n"
    "  --session S            a session to carry besides those found (repeatable)\n"
    "  --window N             a local client's requests in flight (default 1024)\n"
    "\n"
    "Lines on standard error say each connect, disconnect and role change. Secrets belong in\n"
    "the configuration file: the command line is visible to other users.\n"
    "\n"
    "Exit status: 0 stopped by a signal (stats: printed), 1 no bridge answered, 2 usage error\n"
    "or refused file, 3 NATS refused the credentials or the TLS set-up failed.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace kqcp_bridge;
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "kqcp-bridge: %s\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(kUsageText, stdout);
    return kExitOk;
  }
  if (options.command == "stats") return RunStats(options);
  return RunSupervisor(options);
}
