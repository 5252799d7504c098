// Command-line and configuration-file options. The file holds "key = value" lines with the
// long option names; the command line wins over the file.
#include "options.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace kqcp_bridge {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Sets one option by its long name; false for an unknown name or bad value.
bool SetOption(Options* options, const std::string& key, const std::string& value,
               std::string* error) {
  static const std::map<std::string, std::string Options::*> kTexts = {
      {"nats", &Options::nats},
      {"user", &Options::user},
      {"password", &Options::password},
      {"token", &Options::token},
      {"nkey", &Options::nkey},
      {"nkey-seed", &Options::nkeySeed},
      {"creds", &Options::credentials},
      {"tls-ca", &Options::tlsCa},
      {"tls-cert", &Options::tlsCert},
      {"tls-key", &Options::tlsKey},
      {"subject-prefix", &Options::subjectPrefix},
      {"name", &Options::clientName},
      {"role", &Options::command},
      {"platform", &Options::platform}};
  if (const auto found = kTexts.find(key); found != kTexts.end()) {
    options->*(found->second) = value;
    return true;
  }
  if (key == "session") {
    options->sessions.push_back(value);
    return true;
  }
  if (key == "window") {
    char* end = nullptr;
    const long window = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || window < 1 || window > 65536) {
      *error = "--window needs a number from 1 to 65536";
      return false;
    }
    options->window = static_cast<int>(window);
    return true;
  }
  *error = "unknown option --" + key + " (see kqcp-bridge --help)";
  return false;
}

bool ReadConfig(const std::string& path, Options* options, std::string* error) {
  if (!CheckPrivateFile(path, error)) return false;
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read configuration file " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      *error = path + ":" + std::to_string(number) + ": expected key = value";
      return false;
    }
    if (!SetOption(options, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), error)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

std::string LoginName() {
  if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name) return entry->pw_name;
  return "uid" + std::to_string(geteuid());
}

}  // namespace

bool CheckPrivateFile(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  const bool known = fstat(fd, &status) == 0;
  close(fd);
  if (!known || !S_ISREG(status.st_mode)) {
    *error = path + " is not a regular file";
    return false;
  }
  if (status.st_uid != geteuid()) {
    *error = path + " belongs to another user; it must be the caller's own";
    return false;
  }
  if ((status.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    *error = path + " has mode " + mode + ": others may read or change it; refused (chmod 600 " +
             path + ")";
    return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  std::vector<std::string> operands;
  std::string config;
  Options given;  // the command line's own values, laid over the file's
  std::vector<std::pair<std::string, std::string>> flags;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options->help = true;
      return true;
    }
    if (arg == "--stats") {
      operands.insert(operands.begin(), "stats");
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      operands.push_back(arg);
      continue;
    }
    std::string key = arg.substr(2), value;
    if (const auto equals = key.find('='); equals != std::string::npos) {
      value = key.substr(equals + 1);
      key.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = arg + " needs a value";
      return false;
    }
    if (key == "config") {
      config = value;
    } else {
      flags.emplace_back(key, value);
    }
  }
  if (!config.empty() && !ReadConfig(config, options, error)) return false;
  for (const auto& [key, value] : flags) {
    if (!SetOption(options, key, value, error)) return false;
  }
  // The configuration file may name the role and platform (as the systemd unit uses it).
  if (!operands.empty()) options->command = operands[0];
  if (operands.size() > 1) options->platform = operands[1];
  if (options->command.empty()) {
    *error = "no command given (see kqcp-bridge --help)";
    return false;
  }
  if (options->command != "export" && options->command != "import" && options->command != "stats") {
    *error = "unknown command " + options->command + " (see kqcp-bridge --help)";
    return false;
  }
  if (operands.size() > 2 || options->platform.empty()) {
    *error = options->command + " takes one platform";
    return false;
  }
  if (options->platform.size() > 200) {
    *error = "the platform name must hold 1 to 200 bytes";
    return false;
  }
  if (options->nats.empty()) {
    *error = "no NATS server given (--nats URL)";
    return false;
  }
  if (options->subjectPrefix.empty()) options->subjectPrefix = "kqcp." + LoginName();
  if (options->clientName.size() < 2) {
    *error = "--name needs two characters at least";
    return false;
  }
  for (const std::string* secret : {&options->nkeySeed, &options->credentials}) {
    if (!secret->empty() && !CheckPrivateFile(*secret, error)) return false;
  }
  if (options->tlsCert.empty() != options->tlsKey.empty()) {
    *error = "--tls-cert and --tls-key go together";
    return false;
  }
  if (!options->tlsKey.empty() && !CheckPrivateFile(options->tlsKey, error)) return false;
  if (options->nkey.empty() != options->nkeySeed.empty()) {
    *error = "--nkey and --nkey-seed go together";
    return false;
  }
  return true;
}

}  // namespace kqcp_bridge
