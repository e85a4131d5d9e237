// Test support for the command-line tools: runs a program of the build's bin folder as a
// shell would, with its arguments, standard input and extra environment, and gives back
// its exit status and both outputs.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "handheld/testing/sandbox.h"

namespace tool_testing {

struct Result {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs bin/`program` with `args`; its input, output and error go through files of `dir`.
// `env` entries are "NAME=value".
inline Result RunProgram(const std::string& dir, const std::string& program,
                         const std::vector<std::string>& args, const std::string& input = "",
                         const std::vector<std::string>& env = {}) {
  using handheld::testing::ReadFileBytes;
  const std::string in = dir + "/stdin", out = dir + "/stdout", err = dir + "/stderr";
  handheld::testing::WriteFileBytes(in, input);
  std::string command;
  for (const std::string& e : env) {
    command += e.substr(0, e.find('=') + 1) + Quoted(e.substr(e.find('=') + 1)) + " ";
  }
  command += Quoted(handheld::testing::BinDir() + "/" + program);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " <" + Quoted(in) + " >" + Quoted(out) + " 2>" + Quoted(err);
  const int raw = std::system(command.c_str());
  Result result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = ReadFileBytes(out);
  result.err = ReadFileBytes(err);
  return result;
}

}  // namespace tool_testing
