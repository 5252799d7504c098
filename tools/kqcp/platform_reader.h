// Reads what a platform's named objects say about it: its service and clients, their receive
// queues and published counters, and its sessions' shared data. Nothing is changed and no lock
// is waited for long; every word read is checked, since any process of the user may have
// scribbled on it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "share/wire/counters.h"

namespace kqcp_tool {

// The receive queue's figures, read without its lock (the owner acts on a lock that a dead
// process abandoned, so a tool must not take it).
struct QueueFigures {
  bool present = false;
  std::uint32_t records = 0;
  std::uint32_t bytes = 0;
  std::uint32_t capacity = 0;  // of the record area
};

// The counters a member publishes, in the order of their names.
using Vantor::KQCP::wire::kCounterNames;

struct Counters {
  bool present = false;
  std::array<std::uint64_t, Vantor::KQCP::wire::kCounterCount> values{};
};

struct Member {
  std::string name;  // empty for the service
  std::uint32_t processId = 0;
  bool alive = false;
  QueueFigures queue;
  Counters counters;
};

struct Session {
  std::string name;
  std::uint32_t bytes = 0;
  std::uint32_t capacity = 0;
};

struct Platform {
  std::string name;
  bool mapRead = false;    // the proxy map was there and made sense
  bool mapLocked = false;  // it was read under the platform lock
  Member service;
  std::vector<Member> clients;
  std::vector<Session> sessions;
  // One line each: what was found corrupt, and names given up on as another process kept them
  // busy.
  std::vector<std::string> errors;
};

// The names of the platforms the user's folder holds a platform mutex for, sorted.
std::vector<std::string> PlatformNames();

// Everything about one platform. The other platforms' names tell which sessions are theirs:
// a session map belongs to the longest platform name it starts with.
Platform ReadPlatform(const std::string& name, const std::vector<std::string>& platformNames);

}  // namespace kqcp_tool
