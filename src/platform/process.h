// The process's surroundings: its environment and its command line.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The value of environment variable `name`, matched ignoring ASCII case.
bool GetEnv(const char* name, std::string* value);
// The command-line arguments, argument 0 the full path of the executable.
std::vector<std::string> Arguments(int argc, char** argv);

}  // namespace platform
