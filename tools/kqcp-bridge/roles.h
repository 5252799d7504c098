// The processes a bridge runs. The supervisor never joins the platform nor NATS itself: it
// forks role processes and starts them again when they end, so each incarnation of a role
// joins the platform afresh (a process starts its share-session manager only once).
#pragma once

#include <cstdint>
#include <string>

#include "options.h"

namespace kqcp_bridge {

// export: a client of the real service that offers the platform on NATS. It asks its
// supervisor, through controlFd, for one agent per remote client.
int RunExportHead(const Options& options, int controlFd, int lastExit);
// export: a client of the real service under a remote client's own name.
int RunExportAgent(const Options& options, const std::string& client, std::uint64_t owner);
// import: the platform's service on this machine while the link holds.
int RunImport(const Options& options, int lastExit);
// Runs the command's roles until a stop signal or a refusal; the command's exit code.
int RunSupervisor(const Options& options);
// Asks every bridge process of the platform for its counters and prints them.
int RunStats(const Options& options);

}  // namespace kqcp_bridge
