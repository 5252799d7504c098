// The processes of the demo: the director that runs the scenario and prints its transcript,
// and the service and client processes it starts, which run plug-in steps on its command.
#pragma once

#include <string>

namespace example {

// Runs the whole scenario; 0 when every step passed.
int RunDirector(const std::string& self, const std::string& libraryPath);
// Reads "RUN <plug-in> <step> <argument...>" lines from standard input and answers each with
// "OK <report>" or "FAIL <report>"; "QUIT" ends it.
int RunMember(const std::string& libraryPath);

}  // namespace example
