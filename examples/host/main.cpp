// The example host application. "kqcp_demo_host" runs the demo scenario; "--member" makes it
// one of the processes the scenario starts; "--library PATH" names libkqcp.so (by default the
// one in ../lib beside the executable).
#include <cstring>
#include <string>

#include "demo_roles.h"

int main(int argc, char** argv) {
  std::string library;
  bool member = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--member") == 0) {
      member = true;
    } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
      library = argv[++i];
    }
  }
  return member ? example::RunMember(library) : example::RunDirector(argv[0], library);
}
