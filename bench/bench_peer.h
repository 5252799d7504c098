// Peer processes for benchmarks that need several managers: the benchmark program re-executed
// with a peer's name runs that peer instead of the benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kqcp_bench {

using PeerMain = int (*)(const std::vector<std::string>& args);

bool RegisterPeer(const std::string& name, PeerMain main);
// Starts "<this program> --kqcp-bench-peer=<name> args..."; the pipes it is given stay open.
pid_t SpawnPeer(const std::string& name, const std::vector<std::string>& args);
// From main: true (with the exit code) when this process is a peer.
bool RunPeerIfRequested(int argc, char** argv, int* exitCode);

}  // namespace kqcp_bench
