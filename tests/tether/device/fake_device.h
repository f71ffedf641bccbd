// The scripted fake device (tools/fakedevice) as a test fixture: started on a socket
// of its own in a private folder with a scenario given as JSON text, and found by the
// device code in this process through USBMUXD_SOCKET_ADDRESS (and by child processes,
// which inherit it). Stopped, and the variable put back, when the object goes away.
//
//   FakeDevice fake(R"({"devices": [{"udid": "...", "pair": ["pending", "ok"]}]})");
//   ASSERT_TRUE(fake.Ready()) << fake.Failure();
//   fake.Detach("...");
//
// One fake at a time per process: the variable is process-wide.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

#include "support/test_support.h"

namespace tether::test {

class FakeDevice {
 public:
  explicit FakeDevice(const std::string& scenarioJson);
  ~FakeDevice();
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  // True once the fake printed "ready"; otherwise Failure() says why.
  bool Ready() const { return ready_; }
  const std::string& Failure() const { return failure_; }

  // Sends one command line and returns the fake's one-line answer once the world has
  // changed ("detached UDID", "error: ..."); empty when it no longer answers.
  std::string Command(const std::string& line);
  bool Attach(const std::string& udid) { return Command("attach " + udid) == "attached " + udid; }
  bool Detach(const std::string& udid) { return Command("detach " + udid) == "detached " + udid; }

  // "USBMUXD_SOCKET_ADDRESS=UNIX:..." for RunCommand's environment.
  std::string EnvironmentEntry() const { return "USBMUXD_SOCKET_ADDRESS=UNIX:" + socket_; }
  // What the fake logged so far and wrote on its standard error, for failure messages.
  std::string Log() const;

 private:
  void Start(const std::string& scenarioJson);
  void Stop();
  // The next line of its standard output, without the newline; nullopt at the end or
  // when none came in time.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  sieve::test::TempDir folder_;
  std::string socket_;
  pid_t pid_ = -1;
  int input_ = -1;   // our end of its standard input
  int output_ = -1;  // our end of its standard output
  std::string unread_;  // read from it, not yet taken as a line
  bool ready_ = false;
  std::string failure_;
  bool hadAddress_ = false;
  std::string oldAddress_;
};

// Polls `condition` every 50 ms until it holds or `timeout` passes; whether it held.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace tether::test
