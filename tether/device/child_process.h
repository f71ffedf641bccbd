// Programs the device layer runs (idevicerestore, usbmuxd -V): started without a
// shell, standard input /dev/null, standard output and error on one pipe read line
// by line.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tether {

class ChildProcess {
 public:
  // Starts `program` (looked up on PATH unless it holds a '/') with `arguments`;
  // check Started(), and SpawnError() (an errno value) when it did not start.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  // Kills a child still running and waits for it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  int SpawnError() const { return spawnError_; }

  // Reads the output to its end, handing each line (ended by \n or \r: progress
  // counters rewrite their line) to `take`. `stop` is asked between reads, at least
  // every 100 ms; when it answers true the child is killed and reading ends.
  void ReadLines(const std::function<void(std::string_view)>& take, const std::function<bool()>& stop = {});
  // Waits for the end: the exit status, or 128 + the signal that ended it.
  int Wait();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int spawnError_ = 0;
};

// The first line `program arguments` prints when it exits with 0; nothing
// otherwise. `spawnError` gets the errno value when it could not start.
std::optional<std::string> FirstOutputLine(const std::string& program, const std::vector<std::string>& arguments,
                                           int* spawnError = nullptr);

}  // namespace tether
