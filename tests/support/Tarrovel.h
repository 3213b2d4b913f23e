// Runs the real `tarrovel` with the build tree's bundle, inside a TempTree.
#pragma once

#include "tests/support/TestSupport.h"

#include <string>
#include <vector>

namespace tv::test {

RunResult Tarrovel(const std::vector<std::string> &args, const std::string &input = "",
                   const std::vector<std::string> &env = {});
// The same, run by `wrapper` (for example {"/usr/bin/strace", ...}).
RunResult TarrovelUnder(const std::vector<std::string> &wrapper, const std::vector<std::string> &args,
                        const std::vector<std::string> &env = {});
// The titles in a `menu --json` output, in order, submenu titles included.
std::vector<std::string> JsonTitles(const std::string &json);
// Writes the three settings into the preferences file of the tree's HOME.
void WriteSettings(TempTree &tree, bool showDataFork, bool showRecursive, bool keepDate);

}  // namespace tv::test

namespace tv::test {
// A copy of the built host, platform library and bundle inside the tree, so
// that an unprivileged user can run them whatever folder the build sits in.
// Returns the command's path; *env gets what it needs (library and plug-in paths).
std::string StageTarrovel(TempTree &tree, std::vector<std::string> *env);

// A running `tarrovel` whose output is read while it runs.
class Spawned {
 public:
  // With holdInput, standard input is a pipe kept open and empty until the
  // end, so that a prompt waits; otherwise it is /dev/null.
  Spawned(const std::vector<std::string> &args, const std::vector<std::string> &env = {}, bool holdInput = false);
  ~Spawned();
  // Reads standard output until it holds `lines` lines or the process ends;
  // false when it ended first.
  bool WaitForLines(size_t lines, int timeoutMs);
  // Reads until standard error holds text; false when the process ended first.
  bool WaitForError(const std::string &text, int timeoutMs);
  void Signal(int sig);
  // Waits for the end; the rest of both outputs is added to out/err.
  int Wait();
  std::string out, err;

 private:
  int pid_ = -1, outFd_ = -1, errFd_ = -1, exitStatus_ = -1, inFd_ = -1;
  void Pump(int timeoutMs);
};
}  // namespace tv::test
