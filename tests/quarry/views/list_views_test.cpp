// The call history, notes, calendar, reminders and bookmarks views: what their rows
// show, and their exports read back by common parsers (Python's csv, html.parser and
// icalendar after a strict line check) and compared with the items, deleted marks and
// hostile text included; then the same over generated backups scanned by the reader.
#include <gtest/gtest.h>

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "export_parsers.h"
#include "quarry/views/bookmarks_model.h"
#include "quarry/views/calendar_model.h"
#include "quarry/views/calls_model.h"
#include "quarry/views/category_table.h"
#include "quarry/views/export_text.h"
#include "quarry/views/file_source.h"
#include "quarry/views/notes_model.h"
#include "quarry/views/reminders_model.h"
#include "quarry/views/scan_session.h"
#include "sieve/info_type.h"
#include "sieve/itunes_backup_reader.h"
#include "sieve/time_zone.h"
#include "support/test_support.h"

namespace quarry::views {
namespace {

using sieve::test::JsonValue;
using sieve::test::Texts;

std::string S(const QString& s) { return s.toStdString(); }

struct ExpectedRow { QStringList Cells; bool Deleted = false; };

// An item of a model as the parsers should read its row back.
template <class Model, class F>
std::function<ExpectedRow(const CategoryModel&, qsizetype)> CellsOf(F f) {
  return [f](const CategoryModel& model, qsizetype item) {
    const auto& it = static_cast<const Model&>(model).Item(item);
    return ExpectedRow{f(it), it.Deleted};
  };
}

// "YYYYMMDDThhmmss" (and "Z") of a record date, as a calendar reader reads it.
std::string IcsTime(const QString& date, bool utc) {
  if (date.isEmpty()) return {};
  QString t = date;
  t.remove(QLatin1Char('-')).remove(QLatin1Char(':')).replace(QLatin1Char(' '), QLatin1Char('T'));
  return S(t) + (utc ? "Z" : "");
}

// The UTC form a record date takes where iCalendar wants UTC: the text is on the list's clock.
std::string IcsUtc(const QString& date, bool utc) {
  if (date.isEmpty()) return {};
  const QDateTime moment = QDateTime::fromString(date, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  return S((utc ? QDateTime(moment.date(), moment.time(), Qt::UTC) : moment).toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")));
}

// "YYYYMMDD" of a day text, `later` days on, as a calendar reader reads a DATE value.
std::string IcsDay(const QString& day, int later) {
  return S(QDate::fromString(day, QStringLiteral("yyyy-MM-dd")).addDays(later).toString(QStringLiteral("yyyyMMdd")));
}

using IcsProps = std::map<std::string, std::string>;  // "" for a property that must be absent

struct ViewCase {
  int PageId;
  const char* Name;  // folder and file name of the export
  std::vector<std::string> CsvHeaders;
  std::function<ExpectedRow(const CategoryModel&, qsizetype)> Cells;
  std::function<IcsProps(const CategoryModel&, qsizetype, bool utc)> Ics;  // null: no iCalendar file
};

const std::vector<ViewCase>& Views() {
  static const std::vector<ViewCase> views = {
      {100061, "Call History", {"Name", "Phone", "Date", "Type", "Duration"},
       CellsOf<CallsModel>([](const CallItem& c) { return QStringList{c.Name, c.Phone, c.Date, c.Type, c.Duration}; }),
       nullptr},
      {100071, "Notes", {"Title", "Date", "Note"},
       CellsOf<NotesModel>([](const NoteItem& n) { return QStringList{n.Title, n.Date, n.Content}; }), nullptr},
      {100072, "Calendar", {"Title", "Location", "Starts", "Ends", "Note"},
       CellsOf<CalendarModel>(
           [](const EventItem& e) { return QStringList{e.Summary, e.Location, e.Start, e.End, e.Description}; }),
       [](const CategoryModel& model, qsizetype item, bool utc) {
         const EventItem& e = static_cast<const CalendarModel&>(model).Item(item);
         return IcsProps{{"SUMMARY", S(e.Summary)},
                         {"DESCRIPTION", S(e.Description)},
                         {"LOCATION", S(e.Location)},
                         {"DTSTART", e.AllDay ? IcsDay(e.Start, 0) : IcsTime(e.Start.isEmpty() ? e.End : e.Start, utc)},
                         {"DTEND", e.AllDay ? IcsDay(e.End, 1)
                                   : e.End > e.Start && !e.Start.isEmpty() ? IcsTime(e.End, utc) : ""}};
       }},
      {100073, "Reminders", {"Title", "List", "Status", "Date", "Note"},
       CellsOf<RemindersModel>([](const ReminderItem& r) {
         return QStringList{r.Summary, r.ListName, r.StatusText, r.Date, r.Description};
       }),
       [](const CategoryModel& model, qsizetype item, bool utc) {
         const ReminderItem& r = static_cast<const RemindersModel&>(model).Item(item);
         return IcsProps{{"SUMMARY", S(r.Summary)},
                         {"DESCRIPTION", S(r.Description)},
                         {"DUE", IcsTime(r.Due, utc)},
                         {"STATUS", r.Completed ? "COMPLETED" : "NEEDS-ACTION"},
                         {"COMPLETED", r.Completed ? IcsUtc(r.CompletedOn, utc) : ""},
                         {"PRIORITY", r.Priority > 0 ? std::to_string(r.Priority) : ""}};
       }},
      {100074, "Bookmarks", {"Title", "URL", "Kind", "Folder", "Visited"},
       CellsOf<BookmarksModel>([](const BookmarkItem& b) {
         return QStringList{b.Title, b.Url, b.KindText, b.Folder, b.VisitDate};
       }),
       nullptr},
  };
  return views;
}

const CategoryRow& RowOf(int pageId) {
  for (const CategoryRow& row : CategoryRows()) {
    if (row.pageId == pageId) return row;
  }
  throw std::runtime_error("no category row " + std::to_string(pageId));
}

std::vector<std::string> Texts(const QStringList& list) {
  std::vector<std::string> texts;
  for (const QString& item : list) texts.push_back(S(item));
  return texts;
}

// Exports the model's checked items below `folder`, reads the files back and compares
// them with the items: every format, deleted marks included.
void CheckExport(const CategoryModel& model, const ViewCase& view, const QString& folder, bool utc) {
  SCOPED_TRACE(view.Name);
  ExportReport report;
  std::atomic<bool> cancel{false};
  const auto snapshot = model.SnapshotChecked();
  ASSERT_EQ(S(snapshot->FolderName()), view.Name);
  snapshot->RecoverTo(folder, cancel, report);
  ASSERT_TRUE(report.Failed.isEmpty()) << S(report.Failed.join(QLatin1Char('\n')));
  const QString category = QDir(folder).filePath(QLatin1String(view.Name));
  const auto run = sieve::test::RunCommand({"/usr/bin/python3", LIST_EXPORT_READER, S(category), view.Name});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const JsonValue read = sieve::test::ParseJson(run.Out);

  std::vector<qsizetype> checked;
  for (qsizetype i = 0; i < model.FoundCount(); ++i) {
    if (model.IsChecked(i)) checked.push_back(i);
  }

  // CSV: the English headers (dates with their zone) and a Deleted column.
  const JsonValue& csv = read["csv"];
  EXPECT_TRUE(csv["bom"].Bool);
  ASSERT_EQ(csv["rows"].Items.size(), checked.size() + 1);
  const std::vector<std::string> headers = Texts(csv["rows"].Items[0]);
  ASSERT_EQ(headers.size(), view.CsvHeaders.size() + 1);
  for (std::size_t c = 0; c < view.CsvHeaders.size(); ++c) EXPECT_EQ(headers[c].rfind(view.CsvHeaders[c], 0), 0u);
  EXPECT_EQ(headers.back(), "Deleted");
  std::vector<ExpectedRow> rows;
  for (const qsizetype item : checked) rows.push_back(view.Cells(model, item));
  for (std::size_t k = 0; k < rows.size(); ++k) {
    std::vector<std::string> expected = Texts(rows[k].Cells);
    expected.push_back(rows[k].Deleted ? "1" : "0");
    EXPECT_EQ(Texts(csv["rows"].Items[k + 1]), expected) << "CSV row " << k;
  }

  if (const JsonValue* bookmarks = read.Find("bookmarks")) {
    // Live entries first, the recovered ones in their own folder with the marker; only
    // http, https and ftp addresses are links.
    EXPECT_FALSE((*bookmarks)["bom"].Bool);
    EXPECT_EQ(bookmarks->Text("doctype"), "DOCTYPE NETSCAPE-Bookmark-file-1");
    std::vector<ExpectedRow> ordered;
    // History visits are no bookmarks: only the CSV has them.
    for (const bool deleted : {false, true}) {
      for (const ExpectedRow& row : rows) {
        if (row.Deleted == deleted && row.Cells[2] != QLatin1String("History visit")) ordered.push_back(row);
      }
    }
    const JsonValue& entries = (*bookmarks)["entries"];
    ASSERT_EQ(entries.Items.size(), ordered.size());
    for (std::size_t k = 0; k < ordered.size(); ++k) {
      SCOPED_TRACE(k);
      const JsonValue& entry = entries.Items[k];
      const QString title = ordered[k].Cells[0];
      const QString url = ordered[k].Cells[1];
      const std::string shown = S(title.isEmpty() ? url : title);
      EXPECT_EQ(entry["marker"].Bool, ordered[k].Deleted);
      EXPECT_EQ(entry.Text("folder").empty(), !ordered[k].Deleted);
      if (IsLinkUrl(url)) {
        EXPECT_EQ(entry.Text("href"), S(url));
        EXPECT_EQ(entry.Text("link_text"), shown);
      } else {
        EXPECT_TRUE(entry["href"].IsNull()) << entry.Text("href");
        EXPECT_EQ(entry.Text("text"), shown);
        EXPECT_EQ(entry.Text("url_text"), title.isEmpty() ? "" : S(url));
      }
    }
  } else {
    // The page: a header row, then one row per item, the deleted ones marked twice.
    const JsonValue& page = read["html"];
    const JsonValue& pageRows = page["rows"];
    ASSERT_EQ(pageRows.Items.size(), rows.size() + 1);
    EXPECT_TRUE(pageRows.Items[0]["header"].Bool);
    EXPECT_EQ(pageRows.Items[0]["cells"].Items.size(), view.CsvHeaders.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const JsonValue& row = pageRows.Items[k + 1];
      EXPECT_EQ(Texts(row["cells"]), Texts(rows[k].Cells)) << "page row " << k;
      EXPECT_EQ(row["marker"].Bool, rows[k].Deleted) << "page row " << k;
      EXPECT_EQ(row["styled"].Bool, rows[k].Deleted) << "page row " << k;
    }
    EXPECT_NE(page.Text("footer").find(S(DateZoneDescription())), std::string::npos) << page.Text("footer");
    EXPECT_TRUE(QFile::exists(QDir(category).filePath(QStringLiteral("HTML/Image/deleted_icon.png"))));
  }

  if (!view.Ics) {
    EXPECT_EQ(read.Find("ics"), nullptr);
    return;
  }
  const JsonValue& ics = read["ics"];
  EXPECT_FALSE(ics["bom"].Bool);
  EXPECT_EQ(Texts(ics["problems"]), std::vector<std::string>{});
  EXPECT_EQ(ics.Text("version"), "2.0");
  EXPECT_FALSE(ics.Text("prodid").empty());
  ASSERT_EQ(ics["components"].Items.size(), checked.size());
  EXPECT_EQ(ics.Int("vobject_components"), static_cast<std::int64_t>(checked.size()));
  std::set<std::string> uids;
  for (std::size_t k = 0; k < checked.size(); ++k) {
    SCOPED_TRACE(k);
    const JsonValue& component = ics["components"].Items[k];
    EXPECT_EQ(component.Text("name"), std::string(view.Name) == "Calendar" ? "VEVENT" : "VTODO");
    const JsonValue& props = component["props"];
    for (const auto& [name, value] : view.Ics(model, checked[k], utc)) {
      EXPECT_EQ(props.Text(name), value) << name;
    }
    uids.insert(props.Text("UID"));
    const std::string stamp = props.Text("DTSTAMP");
    EXPECT_TRUE(stamp.size() == 16 && stamp.back() == 'Z') << stamp;
    const std::vector<std::string> categories = Texts(component["categories"]);
    const bool markedDeleted = std::find(categories.begin(), categories.end(), "[deleted]") != categories.end();
    EXPECT_EQ(markedDeleted, rows[k].Deleted);
    EXPECT_EQ(props.Text("X-QUARRY-DELETED"), rows[k].Deleted ? "1" : "");
    if (std::string(view.Name) == "Reminders") {
      EXPECT_EQ(categories.at(0), S(rows[k].Cells[1]));  // the list
    }
  }
  EXPECT_EQ(uids.size(), checked.size());
}


TEST(ListViews, RowsSayWhatTheRecordsMean) {
  // Calls: the type from the direction and whether the call lasted, the length as h:mm:ss.
  const struct { const char* Direction; int Flags; float Seconds; const char* Type; const char* Duration; } calls[] = {
      {"IN", 0, 59.9f, "Incoming", "0:00:59"},
      {"OUT", 1, 60.0f, "Outgoing", "0:01:00"},
      {"IN", 4, 3599.0f, "Incoming", "0:59:59"},
      {"OUT", 0, 90061.0f, "Outgoing", "25:01:01"},
      {"IN", 0, 0.0f, "Missed", ""},
      {"OUT", 5, 0.0f, "Not answered", ""},
      {"IN", 0, -5.0f, "Missed", ""},
      {"", 5, 7200.0f, "Outgoing", "2:00:00"},  // a recovered row: the direction bit
      {"", 4, 0.0f, "Missed", ""},
  };
  CallsModel callsModel;
  for (const auto& c : calls) {
    sieve::CallRecord r;
    r.Direction = c.Direction;
    r.Flags = c.Flags;
    r.Seconds = c.Seconds;
    callsModel.Add(r);
  }
  for (qsizetype i = 0; i < callsModel.FoundCount(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(S(callsModel.ItemCell(i, 1)), "Unknown number");  // none of them has one
    EXPECT_EQ(S(callsModel.ItemCell(i, 3)), calls[i].Type);
    EXPECT_EQ(S(callsModel.ItemCell(i, 4)), calls[i].Duration);
  }

  // Reminders: the due date, else the start date; the default list by its name; the status.
  const struct {
    const char* Start;
    const char* Due;
    const char* List;
    int Completed;
    const char* Date;
    const char* ListShown;
    const char* Status;
  } reminders[] = {
      {"", "", "DEFAULT_TASK_CALENDAR_NAME", 0, "", "Reminders", "Not completed"},
      {"2016-01-01 10:00:00", "", "Home", 1, "2016-01-01 10:00:00", "Home", "Completed"},
      {"2016-01-01 10:00:00", "2016-01-02 09:00:00", "Work, Projects", 0, "2016-01-02 09:00:00", "Work, Projects", "Not completed"},
  };
  RemindersModel remindersModel;
  for (const auto& c : reminders) {
    sieve::ReminderRecord r;
    r.StartDate = c.Start;
    r.EndDate = c.Due;
    r.ListTitle = c.List;
    r.Completed = c.Completed;
    remindersModel.Add(r);
  }
  for (qsizetype i = 0; i < remindersModel.FoundCount(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Texts(QStringList{remindersModel.ItemCell(i, 1), remindersModel.ItemCell(i, 2), remindersModel.ItemCell(i, 3)}),
              (std::vector<std::string>{reminders[i].ListShown, reminders[i].Status, reminders[i].Date}));
  }

  // Notes: a body-less note shows its title as its text, a title-less one is named by
  // its first line; the list shows one line, the detail pane the whole note.
  const struct { const char* Title; const char* Content; const char* TitleShown; const char* NoteCell; } notes[] = {
      {"Shopping", "", "Shopping", "Shopping"},
      {"", "\n  first line \nsecond", "first line", "   first line  second"},
      {"", "", "", ""},
  };
  NotesModel notesModel;
  for (const auto& c : notes) notesModel.Add(sieve::NoteRecord{0, c.Title, "2016-01-01 10:00:00", c.Content});
  for (qsizetype i = 0; i < notesModel.FoundCount(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(S(notesModel.ItemCell(i, 0)), notes[i].TitleShown);
    EXPECT_EQ(S(notesModel.ItemCell(i, 2)), notes[i].NoteCell);
  }
  EXPECT_EQ(notesModel.Detail(1).back().second, QStringLiteral("\n  first line \nsecond"));

  // Bookmarks: only what a browser reads as http, https or ftp may become a link.
  const struct { const char* Url; bool Link; } urls[] = {
      {"http://a.example/", true},     {"HTTPS://a.example/", true},      {"ftp://files.example/x", true},
      {" \x01https://a.example", true}, {"ht\ntps://a.example", true},     {"javascript:alert(1)", false},
      {"java\tscript:alert(1)", false}, {" JavaScript:alert(1)", false},  {"file:///etc/passwd", false},
      {"data:text/html,<b>x</b>", false}, {"a.example/no-scheme", false}, {"", false},
  };
  for (const auto& u : urls) EXPECT_EQ(IsLinkUrl(QString::fromUtf8(u.Url)), u.Link) << u.Url;
}

// Records with hostile text in every field, a deleted one in each view and an unchecked
// one, exported in local time and in UTC.
TEST(ListViews, HostileRecordsRoundTripThroughEveryExport) {
  const std::string nasty = "<b>bold</b> & \"quoted\" 'single', semi;colon\\back\nnext line";
  const std::string longText = "Zoë 😀 " + std::string(70, 'x') + " 日本語の長い説明がここに続きます" + "😀😀😀";
  for (const bool utc : {false, true}) {
    SCOPED_TRACE(utc ? "UTC" : "local");
    sieve::test::ScopedTimeZone zone("Europe/Berlin");
    sieve::SetUtcTimes(utc);
    sieve::test::TempDir dir;
    std::vector<std::unique_ptr<CategoryModel>> models;
    for (const ViewCase& view : Views()) models.push_back(RowOf(view.PageId).makeModel(ViewContext{}));

    auto& calls = static_cast<CallsModel&>(*models[0]);
    calls.Add({0, "+1 555 <0100>", "2016-01-26 02:00:00", "61", "IN", 0, 61.5f, nasty});
    calls.Add({1, "../x", "2016-03-27 02:30:00", "0", "OUT", 1, 0.0f, "=cmd|' /C calc'!A0"});
    calls.Add({0, "unchecked", "", "", "IN", 0, 1.0f, ""});

    auto& notes = static_cast<NotesModel&>(*models[1]);
    notes.Add({0, "../x", "2016-01-26 02:00:00", nasty + "\r\n" + longText});
    notes.Add({1, "<script>alert(1)</script>", "", "line one\n\nline three\n"});
    notes.Add({0, "unchecked", "", "x"});

    auto& calendar = static_cast<CalendarModel&>(*models[2]);
    calendar.Add({0, nasty, "2016-01-26 02:00:00", "2016-01-26 03:30:00", longText, "Room 4.12; \"B\"", 1, 0, 0});
    calendar.Add({1, "../x", "2016-03-27 02:30:00", "2016-03-27 02:00:00", "", "東京駅", 3, 0, 0});
    calendar.Add({0, "no dates", "", "", nasty, "", 0, 0, 0});
    calendar.Add({1, "holiday", "2016-03-26", "2016-03-28", "", "", 0, 0, 1});  // whole days, over a clock change
    calendar.Add({0, "unchecked", "", "", "", "", 0, 0, 0});

    auto& reminders = static_cast<RemindersModel&>(*models[3]);
    reminders.Add({nasty, "2016-01-01 10:00:00", "2016-01-02 09:00:00", longText, "Home", 1, 1, "Work, Projects; \"x\"", 0,
                   "2016-01-01 23:59:30"});
    reminders.Add({"../x", "", "", "", "", 0, 9, "DEFAULT_TASK_CALENDAR_NAME", 1, ""});
    reminders.Add({"starts after it is due", "2016-02-02 10:00:00", "2016-02-01 10:00:00", "", "", 0, 0, "L", 0, ""});
    reminders.Add({"unchecked", "", "", "", "", 0, 0, "", 0, ""});

    auto& bookmarks = static_cast<BookmarksModel&>(*models[4]);
    using sieve::kBookmarkEntry, sieve::kHistoryVisit;
    bookmarks.Add({nasty, "https://evil.example/?q=<script>&a=1\"b", 0, kBookmarkEntry, nasty, ""});
    bookmarks.Add({"apostrophe", "https://example.org/it's'onclick='alert(1)", 1, kBookmarkEntry, "", ""});
    bookmarks.Add({"run me", "javascript:alert(document.cookie)", 0, kBookmarkEntry, "Favoriten", ""});
    bookmarks.Add({"", "file:///etc/passwd", 1, kBookmarkEntry, "", ""});
    bookmarks.Add({"visited, not saved", "https://visit.example/", 0, kHistoryVisit, "", "2016-03-27 02:30:00"});
    bookmarks.Add({"../x", "ftp://files.example/x", 0, kBookmarkEntry, "", ""});
    bookmarks.Add({"", "http://untitled.example/", 0, kBookmarkEntry, "", ""});
    bookmarks.Add({"unchecked", "http://x.example/", 0, kBookmarkEntry, "", ""});

    for (const auto& model : models) {
      model->SetChecked(model->FoundCount() - 1, false);
      // A filter hides rows, never checks: hidden checked items are still exported.
      model->ShowDeletedOnly(true);
    }
    for (std::size_t v = 0; v < models.size(); ++v) CheckExport(*models[v], Views()[v], Q(dir.Path()), utc);
  }
  sieve::SetUtcTimes(false);
}

// A generated backup (encrypted, the newer index layout: the reader's tests show every
// layout gives the same records) scanned by the reader into the views the category table
// makes: every record reaches its view and every view's export reads back as its items.
TEST(ListViews, AGeneratedBackupScansIntoTheViewsAndExportsWhole) {
  sieve::test::TempDir dir;
  const std::string password = "lists ✓";
  const auto backup = sieve::test::MakeBackup(
      dir, "encrypted", {"--profile", "small", "--seed", "6", "--manifest-db", "--encrypted", "--password-file",
                         sieve::test::WritePasswordFile(dir, password), "--dp-iterations", "1000"});
  sieve::CItunesBackupReader reader;
  const int index = reader.ReadItunesbackFromPath(backup.Folder.c_str());
  ASSERT_GE(index, 0);
  reader.SetPassword(index, password);
  ScanSession session(reader, index);
  ASSERT_NE(session.Run(), -1);
  ScanTargets targets{};
  std::vector<std::unique_ptr<CategoryModel>> models;
  for (const ViewCase& view : Views()) {
    const CategoryRow& row = RowOf(view.PageId);
    models.push_back(row.makeModel(ViewContext{}));
    targets[static_cast<std::size_t>(row.type)] = models.back().get();
  }
  session.Deliver(targets);
  bool anyDeleted = false;
  for (std::size_t v = 0; v < models.size(); ++v) {
    CategoryModel& model = *models[v];
    SCOPED_TRACE(Views()[v].Name);
    EXPECT_GT(model.FoundCount(), 0);
    EXPECT_EQ(model.FoundCount(), session.FoundCount(static_cast<sieve::_InfoType>(RowOf(Views()[v].PageId).type)));
    model.ShowDeletedOnly(true);
    anyDeleted = anyDeleted || model.rowCount() > 0;
    model.ShowDeletedOnly(false);
    CheckExport(model, Views()[v], Q(dir.Join("out")), false);
  }
  EXPECT_TRUE(anyDeleted);
}

}  // namespace
}  // namespace quarry::views
