// Benchmark peers: a registry of named peer functions and their spawning.
#include "bench_peer.h"

#include <unistd.h>

#include <cstring>
#include <map>

namespace kqcp_bench {
namespace {

constexpr const char* kFlag = "--kqcp-bench-peer=";

std::map<std::string, PeerMain>& Peers() {
  static std::map<std::string, PeerMain> peers;
  return peers;
}

}  // namespace

bool RegisterPeer(const std::string& name, PeerMain main) {
  Peers()[name] = main;
  return true;
}

pid_t SpawnPeer(const std::string& name, const std::vector<std::string>& args) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return -1;
  self[length] = 0;
  std::vector<std::string> words{self, kFlag + name};
  words.insert(words.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(self, argv.data());
    _exit(127);
  }
  return pid;
}

bool RunPeerIfRequested(int argc, char** argv, int* exitCode) {
  if (argc < 2 || std::strncmp(argv[1], kFlag, std::strlen(kFlag)) != 0) return false;
  auto it = Peers().find(argv[1] + std::strlen(kFlag));
  *exitCode =
      it == Peers().end() ? 127 : it->second(std::vector<std::string>(argv + 2, argv + argc));
  return true;
}

}  // namespace kqcp_bench
