// quarry-backup-helper --folder DIR [--udid UDID]: backs the device up into DIR/<udid>
// and reports on standard output in the lines of tether/device/device_backup.h.
// CDeviceBackup runs it as a child process so that a stop is instant: a blocking
// receive in libimobiledevice 1.3.0 cannot be interrupted, but a process can end.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tether/device/backup_session.h"
#include "tether/device/helper_lines.h"

namespace {

using tether::HelperEvent;

std::mutex outputMutex;
bool verdictGiven = false;  // under outputMutex: nothing more may follow
int wakePipe[2] = {-1, -1};

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
}

void WriteLine(const HelperEvent& event) {
  const std::string line = tether::FormatHelperLine(event) + "\n";
  // Nobody reads us any more (the supervisor is gone): stop as if told to.
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() || std::fflush(stdout) != 0) OnSignal(0);
}

// One line at a time, whole, from the loop and from the notification thread alike.
void Emit(const HelperEvent& event, bool verdict = false) {
  const std::lock_guard<std::mutex> lock(outputMutex);
  if (verdictGiven) return;
  WriteLine(event);
  verdictGiven = verdict;
}

int Usage(const char* message) {
  std::fprintf(stderr, "quarry-backup-helper: %s\nusage: quarry-backup-helper --folder DIR [--udid UDID]\n", message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string udid;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if ((word == "--udid" || word == "--folder") && i + 1 < argc) {
      (word == "--udid" ? udid : folder) = argv[++i];
    } else {
      return Usage(("unknown argument " + word).c_str());
    }
  }
  if (folder.empty()) return Usage("--folder is required");
  // The reader may go away; its end must not kill us before we let the device go.
  ::signal(SIGPIPE, SIG_IGN);
  if (::pipe(wakePipe) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);

  tether::BackupEvents events;
  events.progress = [](double percent) {
    HelperEvent event;
    event.progress = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    Emit(event);
  };
  events.passcode = [](bool shown) {
    HelperEvent event;
    event.type = HelperEvent::Type::Passcode;
    event.passcode = shown;
    Emit(event);
  };
  events.waiting = [](const std::string& text) {
    HelperEvent event;
    event.type = HelperEvent::Type::Waiting;
    event.text = text;
    Emit(event);
  };
  tether::BackupSession session(udid, folder, events);

  // On SIGTERM the loop stops at the next message; when the device keeps us in a
  // blocking receive, we leave after a moment anyway.
  std::thread watcher([&session] {
    char byte = 0;
    while (::read(wakePipe[0], &byte, 1) < 0 && errno == EINTR) {
    }
    if (byte == 0) return;  // the pipe was closed: the backup ended by itself
    session.Stop();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::lock_guard<std::mutex> lock(outputMutex);
    if (verdictGiven) return;  // the backup ended meanwhile
    HelperEvent event;
    event.type = HelperEvent::Type::Error;
    event.error = {tether::DeviceErrorKind::Cancelled, 0, "The backup was stopped."};
    WriteLine(event);
    ::_exit(1);
  });

  std::string backupFolder;
  const tether::DeviceError error = session.Run(backupFolder);
  HelperEvent last;
  if (error) {
    last.type = HelperEvent::Type::Error;
    last.error = error;
  } else {
    last.type = HelperEvent::Type::Done;
    last.text = backupFolder;
  }
  Emit(last, true);
  ::close(wakePipe[1]);
  watcher.join();
  return error ? 1 : 0;
}
