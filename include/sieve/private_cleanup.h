// Decrypted copies of a backup's databases, pictures and partly written files must
// not outlive the program, also when it is interrupted. The library keeps a small
// fixed table of such paths (private folders, files being written); a program calls
// RemovePrivateDataOnSignal() once at start so that SIGINT, SIGTERM and SIGHUP
// remove them before the process ends as the signal would end it.
#pragma once

#include <string>

namespace sieve {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every registered
// path (recursively, without following links) and then re-raise the signal with its
// default action. Call once, early, from the program's main thread. Handlers that
// were installed before are not chained: the program's own interrupt handling (a scan
// stopped by Ctrl-C) installs its handler after this one and calls
// RemoveRegisteredPrivateData itself when it decides to end.
void RemovePrivateDataOnSignal();

// Removes every registered path now (async-signal-safe).
void RemoveRegisteredPrivateData();

// Removes private folders ("sieve-<pid>-*" under $TMPDIR or /tmp) left by processes
// of this user that are no longer running: a crash or SIGKILL leaves them behind.
// Returns how many were removed. Runs on the first private folder of a process too.
int RemoveStalePrivateFolders();

// A path removed on a signal until it is released (a handle that unregisters when it
// goes). At most a few dozen paths are held at once; beyond that Register returns false
// and the caller should not create the file.
class PrivatePath {
 public:
  PrivatePath() = default;
  explicit PrivatePath(const std::string& path) { Register(path); }
  ~PrivatePath() { Release(); }
  PrivatePath(const PrivatePath&) = delete;
  PrivatePath& operator=(const PrivatePath&) = delete;

  bool Register(const std::string& path);
  // Forgets the path (it is kept on disk: the caller removes or keeps it).
  void Release();
  bool Registered() const { return slot_ >= 0; }

 private:
  int slot_ = -1;
};

}  // namespace sieve
