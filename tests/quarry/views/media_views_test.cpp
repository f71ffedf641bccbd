// The file views (camera roll, photo stream, app pictures, videos and documents,
// music, voice memos) over generated backups, plain and encrypted: what the lists
// hold against the generator's truth, the exported files byte for byte with their
// names, times and CSV list, and the Exif date reader on damaged pictures.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "export_parsers.h"
#include "quarry/views/category_table.h"
#include "quarry/views/exif_date.h"
#include "quarry/views/file_copy_export.h"
#include "quarry/views/media_model.h"
#include "quarry/views/picture_file.h"
#include "quarry/views/scan_session.h"
#include "quarry/views/voice_memo_model.h"
#include "sieve/info_type.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

using sieve::test::JsonValue;

struct Category {
  const char* truthName;  // the generator's name of the category
  sieve::_InfoType type;
};
constexpr Category kMedia[] = {{"camera-roll", sieve::INFO_CAMERA_ROLL},   {"photo-stream", sieve::INFO_PHOTO_STREAM},
                               {"app-pictures", sieve::INFO_APP_PICTURE},  {"app-videos", sieve::INFO_APP_VIDEO},
                               {"app-documents", sieve::INFO_APP_DOCUMENT}, {"music", sieve::INFO_MUSIC}};

// A generated backup scanned into every model of the category table.
struct Scanned {
  sieve::test::GeneratedBackup backup;
  JsonValue truth;
  std::map<std::string, sieve::test::TruthFile> byStoredName;
  sieve::CItunesBackupReader reader;
  std::map<int, std::unique_ptr<CategoryModel>> models;  // by record kind

  Scanned(const sieve::test::TempDir& dir, const std::string& name, const std::vector<std::string>& args,
          const std::string& password = {}) {
    backup = sieve::test::MakeBackup(dir, name, args);
    truth = sieve::test::ParseJson(sieve::test::ReadFile(backup.TruthPath));
    for (const auto& f : sieve::test::ReadTruthFiles(backup.TruthPath)) {
      if (!f.StoredName.empty()) byStoredName[f.StoredName] = f;
    }
    const int index = reader.ReadItunesbackFromPath(backup.Folder.c_str());
    if (!password.empty()) reader.SetPassword(index, password);
    const ViewContext context{{}, MakeReaderFileSource(reader, index)};
    ScanTargets targets{};
    ForEachCategory([&](const CategoryRow& row) {
      if (row.makeModel == nullptr || row.type < 0) return;
      models[row.type] = row.makeModel(context);
      targets[static_cast<std::size_t>(row.type)] = models[row.type].get();
    });
    ScanSession session(reader, index);
    session.Run();
    session.Deliver(targets);
  }

  // The truth of the stored file behind a path of this backup.
  const sieve::test::TruthFile& FileOf(const std::string& storedPath) const {
    return byStoredName.at(QFileInfo(Q(storedPath)).fileName().toStdString());
  }
};

// Exports `model`'s checked items below `root` and gives the category folder's files
// (name -> bytes) with the report.
std::pair<std::map<std::string, QByteArray>, ExportReport> Export(const CategoryModel& model, const QString& root) {
  ExportReport report;
  const std::atomic<bool> cancel{false};
  const auto snapshot = model.SnapshotChecked();
  snapshot->RecoverTo(root, cancel, report);
  return {test::FilesBelow(QDir(root).filePath(snapshot->FolderName())), report};
}

// The day a generated picture was taken (its Exif date: 30 s before its file time, UTC).
QString TakenDay(std::int64_t fileTime) {
  return QDateTime::fromSecsSinceEpoch(fileTime - 30, QTimeZone::utc()).toString(QStringLiteral("yyyy/MM/dd"));
}

// Camera roll and photo stream files come one by one, not in named groups.
bool SingleFiles(sieve::_InfoType type) { return type == sieve::INFO_CAMERA_ROLL || type == sieve::INFO_PHOTO_STREAM; }

class MediaBackups : public ::testing::TestWithParam<bool> {};

TEST_P(MediaBackups, ListsMatchTheTruthAndExportsAreTheFilesContent) {
  const bool encrypted = GetParam();
  sieve::test::TempDir dir;
  const std::string password = "media ✓";
  std::vector<std::string> args{"--profile", "sample"};
  if (encrypted) {
    args.insert(args.end(), {"--encrypted", "--password-file", sieve::test::WritePasswordFile(dir, password)});
  }
  Scanned scan(dir, "backup", args, encrypted ? password : std::string());

  for (const Category& category : kMedia) {
    SCOPED_TRACE(category.truthName);
    const auto* model = dynamic_cast<const MediaItems*>(scan.models.at(category.type).get());
    ASSERT_NE(model, nullptr);
    const CategoryModel& list = *scan.models.at(category.type);
    // Every file the generator lists, under its name, deleted mark and group.
    std::multiset<std::string> want, got;
    for (const JsonValue& group : scan.truth["expected"][category.truthName].Items) {
      for (const JsonValue& f : group["files"].Items) {
        want.insert(f.Text("name") + (f["deleted"].Bool ? " deleted" : "") + " in " +
                    (SingleFiles(category.type) ? "" : group.Text("group")));
      }
    }
    qint64 size = 0;
    for (qsizetype i = 0; i < list.FoundCount(); ++i) {
      const MediaItem& item = model->MediaAt(i);
      const auto& file = scan.FileOf(item.StoredPath);
      got.insert(item.Name.toStdString() + (item.Deleted ? " deleted" : "") + " in " +
                 (SingleFiles(category.type) ? "" : item.Group.toStdString()));
      if (!encrypted) {
        EXPECT_EQ(item.Size, static_cast<qint64>(file.Size));
      }
      size += item.Size;
      if (category.type != sieve::INFO_CAMERA_ROLL) continue;
      // Pictures of a plain backup are dated by their Exif date; what has none (videos,
      // PNG), and every file of an encrypted backup, by the index's time.
      const bool exif = !encrypted && item.Name.endsWith(QStringLiteral(".JPG"));
      const QString day = exif ? TakenDay(file.ModifiedTime)
                               : QDateTime::fromSecsSinceEpoch(file.ModifiedTime).toString(QStringLiteral("yyyy/MM/dd"));
      EXPECT_EQ(item.Group.toStdString(), day.toStdString()) << item.Name.toStdString();
    }
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(got, want);
    EXPECT_EQ(list.FoundSize(), size);

    // All found items are checked: each is exported with the generator's content and the
    // index's time, and listed in the CSV by its name.
    const auto snapshot = list.SnapshotChecked();
    const QString root = Q(dir.Join(std::string("out-") + category.truthName));
    const QDir folder(QDir(root).filePath(snapshot->FolderName()));
    const auto [files, report] = Export(list, root);
    EXPECT_TRUE(report.Failed.isEmpty() && report.Skipped.isEmpty()) << report.Failed.join(' ').toStdString();
    const auto stamp = [](const QString& name, const QString& group, bool deleted, const std::string& sha,
                          std::int64_t time) {
      return (name + '|' + group + (deleted ? "|1|" : "|0|")).toStdString() + sha + std::to_string(time);
    };
    std::multiset<std::string> listed, exported;
    for (qsizetype i = 0; i < list.FoundCount(); ++i) {
      const MediaItem& item = model->MediaAt(i);
      const auto& truth = scan.FileOf(item.StoredPath);
      listed.insert(stamp(item.Name, item.Group, item.Deleted, truth.Sha256, truth.ModifiedTime));
    }
    const auto rows = test::ReadCsv(QString::fromUtf8(files.at(snapshot->FolderName().toStdString() + ".csv")));
    ASSERT_EQ(rows.size(), files.size());  // a header, and a row per file beside the list
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const QString name = rows[r].value(5);
      exported.insert(stamp(rows[r][0], rows[r][1], rows[r][4] == "1", sieve::test::Sha256Hex(files.at(name.toStdString()).toStdString()),
                            QFileInfo(folder.filePath(name)).lastModified().toSecsSinceEpoch()));
    }
    EXPECT_EQ(exported, listed);
  }
}

// The camera roll of a current phone: dates, albums and "Recently Deleted" from its photo
// library, HEIC pictures drawn, videos drawn by their thumbnail, every file exported as it is.
TEST_P(MediaBackups, PhotoLibraryDatesAlbumsAndPicturesOfACurrentPhone) {
  const bool encrypted = GetParam();
  sieve::test::TempDir dir;
  const std::string password = "heic ✓";
  std::vector<std::string> args{"--profile", "small", "--product-version", "16.7", "--manifest-db"};
  if (encrypted) {
    args.insert(args.end(), {"--encrypted", "--password-file", sieve::test::WritePasswordFile(dir, password)});
  }
  Scanned scan(dir, "backup", args, encrypted ? password : std::string());
  const CategoryModel& list = *scan.models.at(sieve::INFO_CAMERA_ROLL);
  const auto& media = dynamic_cast<const MediaItems&>(list);
  std::map<std::string, const MediaItem*> byName;
  for (qsizetype i = 0; i < list.FoundCount(); ++i) byName[media.MediaAt(i).Name.toStdString()] = &media.MediaAt(i);
  const ViewContext context{{}, nullptr};
  // Decrypted copies live as long as the source that made them.
  const auto source = MakeReaderFileSource(scan.reader, 0);
  int drawn = 0;
  for (const JsonValue& asset : scan.truth["databases"]["photos"]["assets"].Items) {
    const std::string name = asset.Text("file_name");
    SCOPED_TRACE(name);
    if (asset["purged"].Bool) {
      // Named by the library alone: deleted, nothing to draw.
      if (asset["intact"].Bool) {
        ASSERT_EQ(byName.count(name), 1u);
        EXPECT_TRUE(byName.at(name)->Deleted);
        EXPECT_TRUE(byName.at(name)->PictureSource.empty());
      }
      continue;
    }
    ASSERT_EQ(byName.count(name), 1u);
    const MediaItem& item = *byName.at(name);
    const std::int64_t taken = static_cast<std::int64_t>(std::floor(asset["date_created"].Number)) + 978307200;
    EXPECT_EQ(item.Date.toStdString(), sieve::test::TestZoneDateText(taken));
    EXPECT_EQ(item.Group, DayGroup(item.Date, context));
    EXPECT_EQ(item.Deleted, asset["trashed"].Bool);
    EXPECT_EQ(item.DeletedMark, asset["trashed"].Bool ? context.Text("IDS_MEDIA_RECENTLY_DELETED") : QString());
    QStringList albums;
    for (const JsonValue& album : asset["albums"].Items) albums << Q(album.String);
    EXPECT_EQ(item.Albums, albums.join(QStringLiteral(", ")));
    // Pictures by their own bytes, videos by their thumbnail: each drawn at the grid's size.
    const bool video = asset.Int("kind") == 1;
    ASSERT_FALSE(item.PictureSource.empty());
    EXPECT_EQ(item.PictureSource == item.StoredPath, !video);
    const QImage picture = ReadPictureScaled(source->ReadablePath(item.PictureSource, item.PictureKey), 48);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(std::max(picture.width(), picture.height()), 48);
    if (!video) {
      EXPECT_EQ(picture.width() > picture.height(), asset.Int("width") > asset.Int("height"));
    }
    ++drawn;
  }
  EXPECT_GE(drawn, 6);
  // Exported as they are: the stored bytes (decrypted), nothing converted.
  const auto [files, report] = Export(list, Q(dir.Join("out")));
  EXPECT_TRUE(report.Failed.isEmpty());
  // A picture known from the library alone has nothing to copy: it is reported skipped.
  qsizetype fileless = 0;
  for (const auto& [name, item] : byName) {
    if (item->StoredPath.empty()) {
      ++fileless;
      EXPECT_EQ(files.count(name), 0u) << name;
      continue;
    }
    if (!name.ends_with(".HEIC") && !name.ends_with(".MOV") && !name.ends_with(".MP4")) continue;
    ASSERT_EQ(files.count(name), 1u) << name;
    EXPECT_EQ(sieve::test::Sha256Hex(files.at(name).toStdString()), scan.FileOf(item->StoredPath).Sha256) << name;
  }
  EXPECT_GT(fileless, 0);
  EXPECT_EQ(report.Skipped.size(), fileless);
}

INSTANTIATE_TEST_SUITE_P(PlainAndEncrypted, MediaBackups, ::testing::Bool());

// A generated HEIC picture decodes at its size; damaged anywhere it gives nothing or a
// picture, never a crash: cut short, and bytes of its boxes set to values that lie.
TEST(HeifPictures, GeneratedAndDamaged) {
  const sieve::test::LayoutBackup& backup = sieve::test::SmallBackup("18.2", "11", {"--manifest-db"});
  const QByteArray heic = test::ReadBytes(Q(backup.Stored("Media/DCIM/102APPLE/IMG_2001.HEIC")));
  ASSERT_TRUE(LooksLikeHeif(heic));
  const QImage whole = DecodeHeif(heic, 256);
  ASSERT_FALSE(whole.isNull());
  EXPECT_EQ(whole.size(), QSize(96, 64));
  struct Name { const char* name; bool drawable; };
  for (const Name& n : {Name{"IMG_1.HEIC", true}, Name{"a.heif", true}, Name{"b.jpg", true}, Name{"c.MOV", false},
                        Name{"heic", false}, Name{"d.pdf", false}}) {
    EXPECT_EQ(IsDrawablePicture(QLatin1String(n.name)), n.drawable) << n.name;
  }
  for (const QByteArray& head : {QByteArray(), QByteArray("\0\0\0\x18" "ftypmp42", 12), QByteArray("\xFF\xD8\xFF\xE0")}) {
    EXPECT_FALSE(LooksLikeHeif(head));
  }
  // The coded picture sits at the end: any cut loses it.
  for (qsizetype length = 0; length < heic.size(); length += 7) {
    EXPECT_TRUE(DecodeHeif(heic.left(length), 256).isNull()) << length;
  }
  for (qsizetype at = 0; at + 4 <= heic.size(); at += 3) {
    for (const QByteArray& lie : {QByteArray("\xFF\xFF\xFF\xFF", 4), QByteArray("\x00\x00\x00\x00", 4),
                                 QByteArray("\x00\x00\x00\x09", 4)}) {
      QByteArray bad = heic;
      bad.replace(at, 4, lie);
      const QImage got = DecodeHeif(bad, 256);
      EXPECT_TRUE(got.isNull() || (got.width() <= 16384 && got.height() <= 16384)) << at;
    }
  }
}

TEST_P(MediaBackups, VoiceMemosAreNamedAfterLabelOrFileAndCopiedReadable) {
  const bool encrypted = GetParam();
  sieve::test::TempDir dir;
  const std::string password = "memo";
  std::vector<std::string> args{"--profile", "sample"};
  if (encrypted) args.insert(args.end(), {"--encrypted", "--password-file", sieve::test::WritePasswordFile(dir, password)});
  Scanned scan(dir, "backup", args, encrypted ? password : std::string());
  CategoryModel& list = *scan.models.at(sieve::INFO_VOICE_MEMO);

  // Names as the memos give them; contents as the generator wrote them.
  std::multiset<std::string> names;
  std::multiset<std::string> contents;
  for (const JsonValue& memo : scan.truth["databases"]["voice"]["recordings"]["live"].Items) {
    const std::string file = memo.Text("path").substr(memo.Text("path").find_last_of("/\\") + 1);
    names.insert(memo["label"].IsNull() ? (file.empty() ? "Recording" : file) : memo.Text("label"));
    if (memo["file"].IsNull()) continue;
    for (const auto& [stored, truth] : scan.byStoredName) {
      if (truth.Path == memo.Text("file")) contents.insert(truth.Sha256);
    }
  }
  // Memos recovered from the store's free space are listed too, marked deleted.
  std::size_t deleted = 0;
  for (const JsonValue& memo : scan.truth["databases"]["voice"]["recordings"]["deleted"].Items) {
    if (!memo["intact"].Bool) continue;
    names.insert(memo.Text("label").empty() ? memo.Text("path").substr(memo.Text("path").find_last_of("/\\") + 1)
                                            : memo.Text("label"));
    ++deleted;
  }
  std::multiset<std::string> listed;
  for (qsizetype i = 0; i < list.FoundCount(); ++i) listed.insert(list.ItemCell(i, 0).toStdString());
  ASSERT_GT(contents.size(), 3u);
  ASSERT_GT(deleted, 0u);
  EXPECT_EQ(listed, names);
  EXPECT_GT(list.FoundSize(), 0);
  list.ShowDeletedOnly(true);
  EXPECT_EQ(static_cast<std::size_t>(list.rowCount()), deleted);
  list.ShowDeletedOnly(false);

  const auto [files, report] = Export(list, Q(dir.Join("out")));
  std::multiset<std::string> exported;
  for (const auto& [name, bytes] : files) {
    if (QString::fromStdString(name).endsWith(QStringLiteral(".m4a"))) exported.insert(sieve::test::Sha256Hex(bytes.toStdString()));
  }
  EXPECT_EQ(exported, contents);
  EXPECT_TRUE(report.Failed.isEmpty()) << report.Failed.join(' ').toStdString();
  EXPECT_EQ(report.Skipped.size(), static_cast<qsizetype>(names.size() - contents.size()));
  // The same label twice: the label, then the label with "_1"; markup made harmless.
  for (const char* name : {"Idea, rough.m4a", "Idea, rough_1.m4a", "_script_.m4a"}) EXPECT_TRUE(files.count(name)) << name;
}

// Files of the test's own records: names that clash, that climb out of the folder or
// hold reserved characters, times, and a cancel.
TEST(FileCopyExport, NamesAreUniqueAndSafeTimesKeptAndCancelStopsBetweenFiles) {
  sieve::test::TempDir dir;
  const std::string picture = dir.Join("0a1b2c");  // a stored file: its name carries no type
  sieve::test::WriteFile(picture, "\xFF\xD8\xFF picture bytes");
  const std::int64_t time = 1'400'000'000;
  const struct {
    std::string name;
    const char* exportedAs;
  } cases[] = {{"IMG_0001.JPG", "IMG_0001.JPG"}, {"IMG_0001.JPG", "IMG_0001_1.JPG"}, {"IMG_0001.JPG", "IMG_0001_2.JPG"},
               {"../x.jpg", "_._x.jpg"},        {"a:b*c?.jpg", "a_b_c_.jpg"},       {"..", "_"},
               {"50%2.jpg", "50%2.jpg"},        {"50%2.jpg", "50%2_1.jpg"}};  // numbered, "%2" kept
  sieve::MediaGroup group{"Camera", {}};
  for (const auto& c : cases) {
    sieve::MediaFile file;
    file.FileName = c.name;
    file.FilePath = picture;
    group.Files.push_back(std::move(file));
  }
  AppPicturesModel model(ViewContext{});
  model.Add(group);
  std::vector<ExportedFile> files;
  for (qsizetype i = 0; i < model.FoundCount(); ++i) {
    const MediaItem& m = model.MediaAt(i);
    files.push_back({m.Name, m.Group, m.Date, m.Size, m.Deleted, m.StoredPath, m.Key, time});
  }
  ExportReport report;
  std::atomic<bool> cancel{false};
  FileCopyExport("App Photos", files, nullptr).RecoverTo(Q(dir.Join("out")), cancel, report);
  // Read back by Python's csv module as a spreadsheet would.
  const QDir folder(Q(dir.Join("out/App Photos")));
  const auto run = sieve::test::RunCommand(
      {"/usr/bin/python3", "-c",
       "import csv,sys,json;print(json.dumps(list(csv.reader(open(sys.argv[1],encoding='utf-8-sig',newline=''),strict=True))))",
       folder.filePath(QStringLiteral("App Photos.csv")).toStdString()});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const JsonValue rows = sieve::test::ParseJson(run.Out);
  const auto written = test::FilesBelow(folder.path());
  ASSERT_EQ(written.size(), std::size(cases) + 1);
  ASSERT_EQ(rows.Items.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    ASSERT_TRUE(written.count(cases[i].exportedAs));
    EXPECT_EQ(written.at(cases[i].exportedAs).toStdString(), sieve::test::ReadFile(picture));
    EXPECT_EQ(QFileInfo(folder.filePath(QLatin1String(cases[i].exportedAs))).lastModified().toSecsSinceEpoch(), time);
    EXPECT_EQ(rows.Items[i + 1].Items[0].String, cases[i].name);
    EXPECT_EQ(rows.Items[i + 1].Items[5].String, cases[i].exportedAs);
  }

  // A cancel before the first file: no file copied, the list still says so.
  cancel = true;
  ExportReport cancelled;
  FileCopyExport("Again", files, nullptr).RecoverTo(Q(dir.Join("out")), cancel, cancelled);
  EXPECT_EQ(test::FilesBelow(Q(dir.Join("out/Again"))).size(), 1u);
}

// The Exif reader on a generated picture and on that picture damaged in every way a
// file can lie: cut short anywhere, lengths and offsets pointing past the end.
TEST(ExifDate, GeneratedPicturesAndDamagedOnes) {
  sieve::test::TempDir dir;
  Scanned scan(dir, "backup", {"--profile", "small"});
  const MediaItem& item = dynamic_cast<const MediaItems&>(*scan.models.at(sieve::INFO_CAMERA_ROLL)).MediaAt(0);
  const QByteArray jpeg = test::ReadBytes(Q(item.StoredPath));
  const QString date = ExifDateTakenOfFile(Q(item.StoredPath));
  EXPECT_EQ(date, QDateTime::fromSecsSinceEpoch(scan.FileOf(item.StoredPath).ModifiedTime - 30, QTimeZone::utc())
                      .toString(QStringLiteral("yyyy:MM:dd HH:mm:ss")));
  const auto read = [](QByteArray bytes) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return ExifDateTaken(buffer);
  };
  // Cut anywhere: a date only when the Exif block is whole.
  const qsizetype tiff = jpeg.indexOf(QByteArrayView("Exif\0\0", 6)) + 6;
  ASSERT_GT(tiff, 6);
  for (qsizetype length = 0; length < jpeg.size(); ++length) {
    const QString got = read(jpeg.left(length));
    EXPECT_TRUE(got.isEmpty() || got == date) << length;
  }
  // Every 16-bit and 32-bit field of the TIFF part set to values that lie.
  const qsizetype tiffEnd = std::min<qsizetype>(jpeg.size(), tiff + 400);
  for (qsizetype at = tiff; at + 4 <= tiffEnd; ++at) {
    for (const QByteArray& lie : {QByteArray("\xFF\xFF\xFF\xFF", 4), QByteArray("\x00\x00\x00\x00", 4),
                                 QByteArray("\xF0\xFF\x00\x00", 4), QByteArray("\x08\x00\x00\x00", 4)}) {
      QByteArray bad = jpeg;
      bad.replace(at, 4, lie);
      const QString got = read(bad);
      EXPECT_TRUE(got.isEmpty() || got.size() == 19) << at;
    }
  }
  // Segment lengths that lie, and things that are not JPEG at all.
  QByteArray longSegment = jpeg;
  longSegment[4] = '\xFF';
  longSegment[5] = '\xFF';
  for (const QByteArray& bytes : {QByteArray(), QByteArray("\xFF\xD8"), QByteArray("\xFF\xD8\xFF\xE1\x00\x01", 6),
                                  QByteArray("GIF89a"), longSegment, QByteArray(70000, '\xFF').prepend("\xFF\xD8")}) {
    EXPECT_EQ(read(bytes), QString());
  }
}

}  // namespace
}  // namespace quarry::views
