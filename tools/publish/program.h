// Running another program (osslsigncode) and reading what it says.
#pragma once
#include <string>
#include <vector>

namespace publish {

// Runs argv[0], found on PATH, with argv; its stdout and stderr, together, go
// to `output`. The exit code, or -1 when it could not be started at all.
int RunProgram(const std::vector<std::string>& argv, std::string& output);

}  // namespace publish
