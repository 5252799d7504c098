// Uses the platform's asynchronous I/O frame as a plug-in would, from any thread: a timer and
// a TCP round trip whose requests are marshalled onto the host's message thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kqcp/asyn.h"

namespace example {

// Sets a one-shot timer and waits for it; the value the sink received, or an empty reason.
bool WaitForTimer(Vantor::KQCP::IAsynIOFrame* frame, std::uint32_t milliseconds,
                  std::string& report);

// Connects to host:port (an IPv4 or IPv6 address), sends data, reads as many bytes back and
// closes. True when what came back equals what went out.
bool EchoThroughFrame(Vantor::KQCP::IAsynIOFrame* frame, const char* host, std::uint16_t port,
                      const std::vector<char>& data, std::string& report);

}  // namespace example
