// The dialog programs (zenity, kdialog, qdbus) as children of the command:
// the one place that starts them and waits for them. A dialog never outlives
// the command, however it ends: the command closes it; a second signal's
// handler ends every child still running before the process exits; and a
// command killed outright (SIGKILL) takes them down through the parent-death
// signal each child sets for itself before exec.
#pragma once

#include <string>
#include <vector>

namespace tv::host {

struct ChildProcess {
  int pid = -1;
  int output = -1;  // the child's standard output, when asked for; the caller closes it
  int error = -1;   // the child's standard error; the caller closes it
};

// Starts path with args (fork and exec, no shell) in the command's process
// group. Its standard input is inputFd (or /dev/null for -1), its standard
// output a pipe when captureOutput (else /dev/null), its standard error
// always a pipe: a dialog that cannot open the display says so only there.
// false when it could not be started at all.
bool StartChild(const std::string &path, const std::vector<std::string> &args, int inputFd, bool captureOutput,
                ChildProcess *out);
// A process that is not a child of ours (kdialog's progress bar, which its
// launcher forks off) but must end with the command: the second signal's
// handler kills it, and a watcher kills it when the command ends any other
// way (the watcher's input ends with the command). false when no watcher
// could be started.
struct Watcher {
  int watched = -1, pid = -1, input = -1;
};
bool EndWithCommand(int pid, Watcher *out);
// Once the watched process has ended: the watcher ends (and is reaped).
void StopWatcher(Watcher *watcher);
// Waits for the child and forgets it: its exit status, or 128 + the signal
// that ended it.
int WaitChild(int pid);
// Whether the child has ended; *status as WaitChild gives it. Never blocks.
bool ChildEnded(int pid, int *status);
// Appends what is there to read on fd without blocking (at most the last
// 4 KiB are kept); false once the other end is closed.
bool ReadAvailable(int fd, std::string *into);

// Runs the program to its end; *output and *error get what it wrote. A
// signal caught meanwhile (Ctrl-C) ends it with SIGTERM and sets
// *interrupted. Returns its exit status; 127 when it could not start.
int RunChild(const std::string &path, const std::vector<std::string> &args, std::string *output,
             std::string *error, bool *interrupted);

// Kills every dialog program still running (SIGKILL: a dialog holds nothing
// to save, and one that ignored SIGTERM would stay). Async-signal-safe: the
// handler of the signal that ends the command calls it.
void EndChildrenNow();

}  // namespace tv::host
