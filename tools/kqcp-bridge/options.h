// What a bridge is told: its command, platform, NATS server, credentials and TLS files, from the
// command line and an optional configuration file that only its owner may read.
#pragma once

#include <string>
#include <vector>

namespace kqcp_bridge {

struct Options {
  std::string command;  // export, import or stats
  std::string platform;
  std::string nats;  // server URL(s), comma separated
  std::string user, password, token;
  std::string nkey, nkeySeed;  // public key and seed file
  std::string credentials;     // a .creds file
  std::string tlsCa, tlsCert, tlsKey;
  std::string subjectPrefix;               // default: kqcp.<login name>
  std::string clientName = "kqcp-bridge";  // the export side's own client name
  std::vector<std::string> sessions;       // named on top of those found
  int window = 1024;                       // a local client's requests in flight through the bridge
  bool help = false;
};

// Parses argv; false with a message for a usage error or a refused configuration file.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

// A file of secrets is used only when it is a regular file of the calling user that nobody else
// can read or write; false with the reason otherwise.
bool CheckPrivateFile(const std::string& path, std::string* error);

}  // namespace kqcp_bridge
