// Many scans and recoveries of one large generated backup in one process, through the
// window's own page (CRecoveryMainDlg on the offscreen platform: its scan thread, its views,
// its recovery dialog and worker), to find what a long session leaks. Each round scans the
// backup with a pause and a resume on the way, recovers every found item into a new folder
// (removed afterwards), and on every other round puts a freshly read copy of the backup on
// the shelf first, as the window does after a new device backup. After each round it prints
// resident memory (after returning freed heap to the system), open descriptors
// (/proc/self/fd), threads (/proc/self/task) and files left below the process's TMPDIR.
//
//   soak [--rounds N] [--size-mb N] [--warmup N] [--encrypted 0|1]
//        (defaults 50 rounds, a large profile of 200 MiB, 3 warm-up rounds, plain)
//
// Round 1 is the baseline. From round warmup+1 on, a round fails the soak when, against the
// baseline, resident memory grew by more than kRssToleranceMb, or any descriptor, thread or
// temporary file is left over. Exits 1 then (or when a scan or a recovery fails), else 0.
#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/app/salvage_settings.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/recovery_dlg.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "sieve/itunes_backup_reader.h"

namespace {

namespace fs = std::filesystem;
using bench::StatusKb;

// Heap that a long session keeps growing by is a leak; a few MB come and go with the
// allocator's caches and Qt's.
constexpr double kRssToleranceMb = 32;

struct Figures {
  double rssMb = 0;
  long fds = 0;
  long threads = 0;
  long tmpFiles = 0;
};

long EntriesIn(const fs::path& folder, bool recursive) {
  std::error_code ec;
  long n = 0;
  if (recursive) {
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
  } else {
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) ++n;
  }
  return n;
}

Figures Measure(const fs::path& tmp) {
  // Objects the page let go of with deleteLater go now, and freed heap goes back to the
  // system, so that what stays resident is what is still held.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
  malloc_trim(0);
  Figures f;
  f.rssMb = static_cast<double>(StatusKb("VmRSS")) / 1024.0;
  f.fds = EntriesIn("/proc/self/fd", false) - 1;  // less the one listing them
  f.threads = EntriesIn("/proc/self/task", false);
  f.tmpFiles = EntriesIn(tmp, true);
  return f;
}

// Waits for the page's next scanFinished, at most ten minutes; the result, or -100.
int WaitForScan(quarry::CRecoveryMainDlg& page, const std::function<void()>& start) {
  int result = -100;
  QEventLoop loop;
  const auto done = QObject::connect(&page, &quarry::CRecoveryMainDlg::scanFinished, &loop, [&](int r) {
    result = r;
    loop.quit();
  });
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  start();
  // A pause and a resume on the way, as a user's clicks come: the scan thread waits and goes on.
  QTimer::singleShot(300, &loop, [&page] {
    if (page.Scanning() && !page.Paused()) page.PauseOrResume();
  });
  QTimer::singleShot(500, &loop, [&page] {
    if (page.Paused()) page.PauseOrResume();
  });
  loop.exec();
  QObject::disconnect(done);
  return result;
}

// Recovers everything checked through the recovery dialog, closed once it has finished.
bool RecoverAll(quarry::CRecoveryMainDlg& page) {
  QTimer closer;
  closer.setInterval(20);
  QObject::connect(&closer, &QTimer::timeout, [&closer] {
    auto* dialog = qobject_cast<quarry::CRecoveryDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->Finished()) return;
    closer.stop();
    dialog->reject();
  });
  closer.start();
  return page.Recover();
}

}  // namespace

int main(int argc, char** argv) {
  long rounds = 50, sizeMb = 200, warmup = 3, encrypted = 0;
  if (!bench::ReadNumberOptions(argc, argv,
                                {{"--rounds", &rounds}, {"--size-mb", &sizeMb}, {"--warmup", &warmup},
                                 {"--encrypted", &encrypted}}) ||
      rounds < 1 || sizeMb < 1 || warmup < 0) {
    return 2;
  }
  const bench::ScratchFolder scratch("soak");
  // The process's own temporary folder: whatever is left in it was left by this program.
  const fs::path tmp = scratch / "tmp";
  const fs::path out = scratch / "out";
  fs::create_directories(tmp);
  fs::create_directories(out);
  setenv("TMPDIR", tmp.c_str(), 1);

  const std::string backup = scratch / "backup";
  std::vector<std::string> generate = {"/usr/bin/python3",
                                       std::string(BENCH_SOURCE_DIR) + "/../tools/mkbackup/mkbackup.py",
                                       backup,
                                       "--profile",
                                       "large",
                                       "--size-mb",
                                       std::to_string(sizeMb)};
  const std::string password = "soak password";
  if (encrypted != 0) {
    // The password file lives in the 0700 scratch folder and goes with it.
    std::ofstream(scratch / "password") << password;
    generate.insert(generate.end(), {"--encrypted", "--iterations", "1", "--password-file", scratch / "password"});
  }
  const bench::ChildRun made = bench::RunChild(generate, scratch / "mkbackup.out");
  if (!made.Succeeded()) {
    std::ifstream log(scratch / "mkbackup.out");
    std::fprintf(stderr, "mkbackup failed:\n%s", std::string(std::istreambuf_iterator<char>(log), {}).c_str());
    return 1;
  }
  std::printf("generated a large backup of %ld MiB%s in %.1f s\n", sizeMb, encrypted ? ", encrypted" : "",
              made.seconds);

  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  quarry::AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini"));
  quarry::AppSettings().autoOpen = 0;
  quarry::AppSettings().recoveryFolder = QString::fromStdString(out.string());

  quarry::PageBus bus;
  const QString folder = QString::fromStdString(backup);
  quarry::CRecoveryMainDlg page;
  quarry::PageBus::Attach(&page, &bus);
  page.InitPage();
  page.resize(1100, 720);
  QStringList messages;
  page.SetMessageSink([&messages](const QString& text) { messages.append(text); });
  page.SetRecoveryFolderChooser([](const QString& start) { return start; });
  page.show();

  std::printf("%5s %8s %9s %6s %8s %8s %7s %9s\n", "round", "scan s", "recover s", "rss MB", "fds", "threads",
              "tmp", "written");
  Figures base;
  Figures worst;
  bool failed = false;
  for (long round = 1; round <= rounds; ++round) {
    // Every other round a new copy of the backup, as after a new device backup.
    std::shared_ptr<quarry::views::ShelfBackup> shelved =
        round % 2 == 0 ? bus.Shelf().Renew(folder) : bus.Shelf().Add(folder);
    if (shelved == nullptr) {
      std::fprintf(stderr, "round %ld: the backup is not on the shelf\n", round);
      return 1;
    }
    if (encrypted != 0) {
      std::string secret = password;
      shelved->reader.SetPassword(quarry::views::ShelfBackup::kIndex, secret);
    }
    shelved.reset();
    const double scanStart = bench::Now(bench::Clock::Wall);
    const int result = WaitForScan(page, [&] {
      emit bus.setScanSource(folder);
      page.OnShowPage();
    });
    const double scanSeconds = bench::Now(bench::Clock::Wall) - scanStart;
    const double recoverStart = bench::Now(bench::Clock::Wall);
    const bool recovered = result == 0 && RecoverAll(page);
    const double recoverSeconds = bench::Now(bench::Clock::Wall) - recoverStart;
    const qsizetype written = page.LastSummary().Report.Written.size();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(out, ec)) fs::remove_all(entry.path(), ec);

    const Figures now = Measure(tmp);
    if (round == 1) base = now;
    std::printf("%5ld %8.1f %9.1f %6.0f %8ld %8ld %7ld %9lld\n", round, scanSeconds, recoverSeconds, now.rssMb,
                now.fds, now.threads, now.tmpFiles, static_cast<long long>(written));
    std::fflush(stdout);
    if (!recovered || written == 0) {
      std::fprintf(stderr, "round %ld: scan result %d, recovery %s, %lld written; messages: %s\n", round, result,
                   recovered ? "done" : "failed", static_cast<long long>(written),
                   qPrintable(messages.join(QStringLiteral("; "))));
      return 1;
    }
    if (round > warmup) {
      worst.rssMb = std::max(worst.rssMb, now.rssMb - base.rssMb);
      worst.fds = std::max(worst.fds, now.fds - base.fds);
      worst.threads = std::max(worst.threads, now.threads - base.threads);
      worst.tmpFiles = std::max(worst.tmpFiles, now.tmpFiles - base.tmpFiles);
    }
  }
  std::printf("baseline (round 1): rss %.0f MB, %ld fds, %ld threads, %ld files in TMPDIR\n", base.rssMb, base.fds,
              base.threads, base.tmpFiles);
  std::printf("most growth after round %ld: rss %+.0f MB (tolerance %.0f), fds %+ld, threads %+ld, tmp files %+ld "
              "(tolerance 0 each)\n",
              warmup, worst.rssMb, kRssToleranceMb, worst.fds, worst.threads, worst.tmpFiles);
  failed = worst.rssMb > kRssToleranceMb || worst.fds > 0 || worst.threads > 0 || worst.tmpFiles > 0;
  std::printf("%s\n", failed ? "soak: FAILED, something grows" : "soak: ok");
  return failed ? 1 : 0;
}
