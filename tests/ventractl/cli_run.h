#pragma once

// Running the built ventractl from the tests, in the source tree, the way a shell does.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace ventra::testing {

struct CliRun {
  int status;
  std::string out, err;
  nlohmann::json document() const { return nlohmann::json::parse(out); }
};

// A shell command line run in the source tree, with its status and both outputs.
inline CliRun shell(const std::string& line) {
  // One file per process and call: ctest runs tests of this binary in parallel processes.
  static int calls = 0;
  std::string errPath = ::testing::TempDir() + "ventractl-stderr-" + std::to_string(getpid()) +
                        "-" + std::to_string(++calls) + ".txt";
  std::string command = "cd " VENTRA_SOURCE_DIR " && { " + line + "; } 2>" + errPath;
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  int status = pclose(pipe);
  std::stringstream err;
  err << std::ifstream(errPath).rdbuf();
  std::remove(errPath.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, err.str()};
}

inline CliRun ventractl(const std::string& arguments, const std::string& environment = "") {
  return shell(environment + VENTRACTL_PATH " " + arguments);
}

inline std::vector<std::string> linesOf(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace ventra::testing
