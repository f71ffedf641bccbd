// Scans a full phone's backup (100,000 messages, 20,000 camera-roll pictures by default)
// through the results page on the offscreen platform, as the window does, and prints how
// the window thread kept up: its worst gap between two ticks of a 1 ms timer during the
// scan and the filling of the views, the time until the first found item shows, the
// total time and the peak memory. Beside it, measured in the same run: the library alone
// scanning the same backup with a callback that copies every record, in a child process
// of its own so that each side's peak memory is its own.
//
//   views_bench [--messages N] [--pictures N] [--fresh]
//
// The backup is generated once and kept under the build tree (keyed by its arguments and
// the generator's sources); --fresh makes it anew.
#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "bench/bench_support.h"
#include "quarry/app/rb_dictionary.h"
#include "quarry/controls/menu_container.h"
#include "quarry/pages/page_bus.h"
#include "quarry/pages/recovery_main_dlg.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/record_visit.h"

namespace {

namespace fs = std::filesystem;
using bench::StatusKb;


double Mb(long kb) { return static_cast<double>(kb) / 1024.0; }
double Mb(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// Stands for the generator's sources, so a changed generator does not reuse an old backup.
std::size_t GeneratorFingerprint(const fs::path& folder) {
  std::vector<fs::path> sources;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".py") sources.push_back(entry.path());
  }
  std::sort(sources.begin(), sources.end());
  std::string all;
  for (const auto& path : sources) {
    std::ifstream in(path, std::ios::binary);
    all += path.filename().string() + '\0' + std::string(std::istreambuf_iterator<char>(in), {}) + '\0';
  }
  return std::hash<std::string>{}(all);
}

// The backup for these arguments: the kept one when its generation finished, else a new one.
std::string PrepareBackup(const std::vector<std::string>& args, bool fresh) {
  const fs::path generator = fs::path(BENCH_SOURCE_DIR) / ".." / "tools" / "mkbackup";
  std::string key;
  for (const auto& a : args) key += a + ' ';
  const std::size_t fingerprint = std::hash<std::string>{}(key) ^ (GeneratorFingerprint(generator) * 31);
  const fs::path folder = fs::path(BENCH_CACHE_DIR) / ("views-" + std::to_string(fingerprint));
  const fs::path done = folder / "generated";
  const std::string backup = (folder / "backup").string();
  if (!fresh && fs::exists(done)) {
    std::printf("reusing the backup in %s\n", folder.c_str());
    return backup;
  }
  // One kept backup at a time: those of other arguments or an older generator go.
  std::error_code ignored;
  for (const auto& old : fs::directory_iterator(BENCH_CACHE_DIR, ignored)) {
    if (old.path().filename().string().rfind("views-", 0) == 0) fs::remove_all(old.path(), ignored);
  }
  fs::create_directories(folder);
  std::vector<std::string> command = {"/usr/bin/python3", (generator / "mkbackup.py").string(), backup};
  command.insert(command.end(), args.begin(), args.end());
  const bench::ChildRun made = bench::RunChild(command, (folder / "mkbackup.out").string());
  if (!made.Succeeded()) {
    std::fprintf(stderr, "mkbackup failed; see %s\n", (folder / "mkbackup.out").c_str());
    std::exit(1);
  }
  std::ofstream(done) << key << '\n';
  std::printf("generated the backup in %.1f s (%s)\n", made.seconds, folder.c_str());
  return backup;
}

struct LibraryCopies {
  std::vector<sieve::AnyRecord> records;
  std::uint64_t items = 0;
  std::uint64_t messages = 0;  // in the conversations, live and recovered
  std::uint64_t mediaBytes = 0;
  std::uint64_t mediaFiles = 0;
};

void AddMedia(LibraryCopies& copies, const sieve::MediaFile& file) {
  std::error_code error;
  const auto size = fs::file_size(file.FilePath, error);
  if (!error) copies.mediaBytes += size;
  ++copies.mediaFiles;
}

void CopyRecord(void* record, sieve::_InfoType type, void* user) {
  auto& copies = *static_cast<LibraryCopies*>(user);
  copies.items += static_cast<std::uint64_t>(sieve::RecordItemCount(record, type));
  sieve::VisitRecord(record, type, [&copies](auto, const auto& r) {
    using Record = std::decay_t<decltype(r)>;
    if constexpr (std::is_same_v<Record, sieve::SmsConversation>) copies.messages += r.Messages.size();
    if constexpr (std::is_same_v<Record, sieve::MediaFile>) AddMedia(copies, r);
    if constexpr (std::is_same_v<Record, sieve::MediaGroup>) {
      for (const auto& file : r.Files) AddMedia(copies, file);
    }
    copies.records.emplace_back(r);
  });
}

// The baseline, run as a child of the benchmark: prints "seconds peak_kb records items
// messages media_files media_bytes result".
int LibraryOnly(const std::string& backup) {
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(backup.c_str());
  LibraryCopies copies;
  reader.SetCallBack(&CopyRecord, &copies);
  QElapsedTimer clock;
  clock.start();
  const int result = reader.ReadBackup(index);
  const double seconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
  std::printf("%.3f %ld %zu %llu %llu %llu %llu %d\n", seconds, StatusKb("VmHWM"), copies.records.size(),
              static_cast<unsigned long long>(copies.items), static_cast<unsigned long long>(copies.messages),
              static_cast<unsigned long long>(copies.mediaFiles),
              static_cast<unsigned long long>(copies.mediaBytes), result);
  return index < 0 ? 1 : 0;
}

struct WindowRun {
  int result = -100;
  double seconds = 0;
  double firstRowSeconds = -1;
  qint64 worstGapMs = 0;
  qint64 worstGapAfterMs = 0;  // after scanFinished, while the views settle
  qint64 shownItems = 0;
  std::string perCategory;  // "caption (count)" of each entry that found something
  long rssBeforeKb = 0;
};

// Whether the page shows any found item: a category entry with a count, or a view's rows.
bool ShowsARow(quarry::CRecoveryMainDlg& page, const QList<QAbstractItemModel*>& models) {
  if (quarry::CMenuContainer* menu = page.Categories()) {
    for (const quarry::CMenuItemEx* entry : menu->Entries()) {
      if (entry->count() > 0) return true;
    }
  }
  return std::any_of(models.begin(), models.end(), [](const QAbstractItemModel* m) { return m->rowCount() > 0; });
}

WindowRun ScanThroughTheWindow(const std::string& backup) {
  WindowRun run;
  // The page takes its backup from its bus's shelf, as in the window.
  quarry::PageBus bus;
  const QString folder = QString::fromStdString(backup);
  bus.Shelf().Add(folder);
  quarry::CRecoveryMainDlg page;
  quarry::PageBus::Attach(&page, &bus);
  page.InitPage();
  page.resize(1100, 720);
  run.rssBeforeKb = StatusKb("VmRSS");

  QElapsedTimer total;
  QElapsedTimer gap;
  bool finished = false;
  QEventLoop loop;
  QObject::connect(&page, &quarry::CRecoveryMainDlg::scanFinished, &loop, [&](int result) {
    run.result = result;
    run.seconds = static_cast<double>(total.nsecsElapsed()) * 1e-9;
    finished = true;
    // The views may still be filling from the last records: keep watching a while.
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
  });
  // Views made during the scan are picked up on the next look.
  QList<QAbstractItemModel*> models;
  qint64 lastModelLook = -1000;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
    const qint64 sinceLast = gap.restart();
    (finished ? run.worstGapAfterMs : run.worstGapMs) = std::max(finished ? run.worstGapAfterMs : run.worstGapMs,
                                                                 sinceLast);
    if (run.firstRowSeconds >= 0) return;
    if (total.elapsed() - lastModelLook >= 50) {
      models = page.findChildren<QAbstractItemModel*>();
      lastModelLook = total.elapsed();
    }
    if (ShowsARow(page, models)) run.firstRowSeconds = static_cast<double>(total.nsecsElapsed()) * 1e-9;
  });
  // Ten minutes is no answer: give up rather than hang the benchmark run.
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);

  total.start();
  gap.start();
  ticker.start();
  page.SetScanSource(folder);
  page.show();
  page.OnShowPage();
  loop.exec();
  ticker.stop();
  if (quarry::CMenuContainer* menu = page.Categories()) {
    for (const quarry::CMenuItemEx* entry : menu->Entries()) {
      run.shownItems += entry->count();
      if (entry->count() > 0) {
        run.perCategory += (run.perCategory.empty() ? "" : ", ") + entry->caption().toStdString() + " (" +
                           std::to_string(entry->count()) + ")";
      }
    }
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  long messages = 100000;
  long pictures = 20000;
  bool fresh = false;
  std::vector<char*> numberArgs = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--library-only") == 0 && i + 1 < argc) return LibraryOnly(argv[i + 1]);
    if (std::strcmp(argv[i], "--fresh") == 0) {
      fresh = true;
    } else {
      numberArgs.push_back(argv[i]);
    }
  }
  if (!bench::ReadNumberOptions(static_cast<int>(numberArgs.size()), numberArgs.data(),
                                {{"--messages", &messages}, {"--pictures", &pictures}})) {
    return 2;
  }
  const std::string backup = PrepareBackup(
      {"--profile", "small", "--messages", std::to_string(messages), "--pictures", std::to_string(pictures)}, fresh);

  // The baseline first, in a process of its own: its peak memory is the library's alone.
  const bench::ScratchFolder scratch("views_bench");
  const bench::ChildRun child = bench::RunChild({"/proc/self/exe", "--library-only", backup}, scratch / "library.out");
  std::ifstream libraryOut(scratch / "library.out");
  double librarySeconds = 0;
  long libraryPeakKb = 0;
  std::size_t records = 0;
  unsigned long long items = 0, messagesRead = 0, mediaFiles = 0, mediaBytes = 0;
  int libraryResult = -100;
  if (!child.Succeeded() ||
      !(libraryOut >> librarySeconds >> libraryPeakKb >> records >> items >> messagesRead >> mediaFiles >> mediaBytes >>
        libraryResult)) {
    std::fprintf(stderr, "the library-only scan failed (status %d)\n", child.status);
    return 1;
  }

  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // The category captions in English, as a user sees them.
  quarry::AppDictionary().LoadFile(QStringLiteral(QUARRY_DIC_DIR "/en/quarry.ini"));
  const WindowRun window = ScanThroughTheWindow(backup);

  std::printf("backup: %ld messages, %ld more camera-roll pictures; %llu media files of %.1f MB in all\n", messages,
              pictures, mediaFiles, Mb(static_cast<std::uint64_t>(mediaBytes)));
  std::printf("  library alone (copies every record)  %7.2f s  peak memory %7.1f MB  %zu records, %llu items"
              " (%llu messages), result %d\n",
              librarySeconds, Mb(libraryPeakKb), records, items, messagesRead, libraryResult);
  std::printf("  through the window                    %7.2f s  peak memory %7.1f MB  (%.1f MB before the scan)"
              "  %lld items shown, result %d\n",
              window.seconds, Mb(StatusKb("VmHWM")), Mb(window.rssBeforeKb), static_cast<long long>(window.shownItems),
              window.result);
  std::printf("    shown: %s\n", window.perCategory.c_str());
  std::printf("    first item shown after %.3f s\n", window.firstRowSeconds);
  std::printf("    window thread's worst gap: %lld ms during the scan, %lld ms in the second after it\n",
              static_cast<long long>(window.worstGapMs), static_cast<long long>(window.worstGapAfterMs));
  if (window.result == -100) {
    std::fprintf(stderr, "the window's scan did not finish\n");
    return 1;
  }
  // A second without an answer is a frozen window (the results page's own test holds it to this too).
  if (std::max(window.worstGapMs, window.worstGapAfterMs) >= 1000) {
    std::fprintf(stderr, "target missed: the window thread stopped answering for a second or more\n");
    return 1;
  }
  return 0;
}
